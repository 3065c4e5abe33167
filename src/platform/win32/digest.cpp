// SHA-256 and random bytes by the system's cryptography primitives (BCrypt,
// Windows Vista and later, bound at the first request): no digest or random
// generator of our own in the updater. Without the library no digest can be
// made, so every member with a digest to check is refused.
//
// A large piece is hashed on a thread of the digest's own while the caller
// decodes and writes the next one, so hashing and decoding share the time
// of a member instead of adding up. Pieces are hashed in the order given:
// each call first waits for the piece before it. Small pieces are hashed at
// once, and so is everything when no thread can be started.
#include "platform/win32/binding.h"
#include "platform/win32/system.h"

namespace {

// Below this a piece is hashed at once: a thread would cost more than it saves.
constexpr size_t kThreadedPiece = 256u << 10;

struct Digest {
  BCRYPT_ALG_HANDLE algorithm;
  BCRYPT_HASH_HANDLE hash;
  HANDLE thread; // null until the first large piece
  HANDLE work;   // set: a piece (or the end) for the thread
  HANDLE done;   // set: the thread finished its piece
  const UCHAR* data;
  size_t size;
  bool busy; // a piece is on the thread
  bool quit;
  bool failed;
  bool noThread; // a thread could not be started: hash at once from now on
};

int HashBytes(BCRYPT_HASH_HANDLE hash, const UCHAR* bytes, size_t size) {
  // One call takes at most 4 GiB - 1 bytes.
  while (size) {
    const ULONG chunk = size > 0x40000000u ? 0x40000000u : ULONG(size);
    if (Bound().hashData(hash, const_cast<PUCHAR>(bytes), chunk, 0) != 0) return 0;
    bytes += chunk;
    size -= chunk;
  }
  return 1;
}

DWORD WINAPI HashPieces(void* parameter) {
  auto* d = static_cast<Digest*>(parameter);
  for (;;) {
    WaitForSingleObject(d->work, INFINITE);
    if (d->quit) return 0;
    if (!HashBytes(d->hash, d->data, d->size)) d->failed = true;
    SetEvent(d->done);
  }
}

// Waits for the piece on the thread, if any. 0 when any piece failed.
int Settle(Digest* d) {
  if (d->busy) {
    WaitForSingleObject(d->done, INFINITE);
    d->busy = false;
  }
  return !d->failed;
}

// Handles are closed through the bound operation, as files are.
void Close(HANDLE handle) {
  if (auto closeHandle = Bound().closeHandle) closeHandle(handle);
}

int StartThread(Digest* d) {
  if (d->thread) return 1;
  if (d->noThread) return 0;
  d->work = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  d->done = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (d->work && d->done) d->thread = CreateThread(nullptr, 0, HashPieces, d, 0, nullptr);
  if (d->thread) return 1;
  if (d->work) Close(d->work);
  if (d->done) Close(d->done);
  d->noThread = true;
  return 0;
}

void StopThread(Digest* d) {
  if (!d->thread) return;
  d->quit = true;
  SetEvent(d->work);
  WaitForSingleObject(d->thread, INFINITE);
  Close(d->thread);
  Close(d->work);
  Close(d->done);
}

} // namespace

DigestHandle BeginDigest() {
  if (!BindCryptography()) return nullptr;
  const BoundOperations& b = Bound();
  auto* d = static_cast<Digest*>(AllocateBlock(sizeof(Digest), true));
  if (!d) return nullptr;
  if (b.openAlgorithm(&d->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) {
    FreeBlock(d);
    return nullptr;
  }
  // The system keeps the hash object itself (Windows 7 and later).
  if (b.createHash(d->algorithm, &d->hash, nullptr, 0, nullptr, 0, 0) != 0) {
    b.closeAlgorithm(d->algorithm, 0);
    FreeBlock(d);
    return nullptr;
  }
  return d;
}

int UpdateDigest(DigestHandle digest, const void* data, size_t size) {
  auto* d = static_cast<Digest*>(digest);
  if (!Settle(d)) return 0;
  const auto* bytes = static_cast<const UCHAR*>(data);
  if (size < kThreadedPiece || !StartThread(d)) {
    if (!HashBytes(d->hash, bytes, size)) d->failed = true;
    return !d->failed;
  }
  d->data = bytes;
  d->size = size;
  d->busy = true;
  SetEvent(d->work);
  return 1;
}

int FinishDigest(DigestHandle digest, uint8_t out[32]) {
  const BoundOperations& b = Bound();
  auto* d = static_cast<Digest*>(digest);
  int ok = Settle(d);
  StopThread(d);
  ok = b.finishHash(d->hash, out, 32, 0) == 0 && ok;
  b.destroyHash(d->hash);
  b.closeAlgorithm(d->algorithm, 0);
  FreeBlock(d);
  return ok;
}

int RandomBytes(void* out, uint32_t count) {
  // The generator is opened at the first request and kept for the process.
  static BCRYPT_ALG_HANDLE generator;
  const BoundOperations& b = Bound();
  if (!generator && (!BindCryptography() || b.openAlgorithm(&generator, BCRYPT_RNG_ALGORITHM, nullptr, 0) != 0)) {
    generator = nullptr;
    return 0;
  }
  return b.generateRandom(generator, static_cast<PUCHAR>(out), count, 0) == 0;
}
