// SHA-256 by the system's cryptography primitives (BCrypt, Windows Vista and
// later): no digest code of our own in the updater.
#include "platform/win32/system.h"

#include <bcrypt.h>

namespace {

struct Digest {
  BCRYPT_ALG_HANDLE algorithm;
  BCRYPT_HASH_HANDLE hash;
};

}  // namespace

DigestHandle BeginDigest() {
  auto* d = static_cast<Digest*>(AllocateBlock(sizeof(Digest), true));
  if (!d) return nullptr;
  if (BCryptOpenAlgorithmProvider(&d->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) {
    FreeBlock(d);
    return nullptr;
  }
  // The system keeps the hash object itself (Windows 7 and later).
  if (BCryptCreateHash(d->algorithm, &d->hash, nullptr, 0, nullptr, 0, 0) != 0) {
    BCryptCloseAlgorithmProvider(d->algorithm, 0);
    FreeBlock(d);
    return nullptr;
  }
  return d;
}

int UpdateDigest(DigestHandle digest, const void* data, size_t size) {
  auto* d = static_cast<Digest*>(digest);
  // One call takes at most 4 GiB - 1 bytes.
  const auto* bytes = static_cast<const UCHAR*>(data);
  while (size) {
    const ULONG chunk = size > 0x40000000u ? 0x40000000u : ULONG(size);
    if (BCryptHashData(d->hash, const_cast<PUCHAR>(bytes), chunk, 0) != 0) return 0;
    bytes += chunk;
    size -= chunk;
  }
  return 1;
}

int FinishDigest(DigestHandle digest, uint8_t out[32]) {
  auto* d = static_cast<Digest*>(digest);
  const int ok = BCryptFinishHash(d->hash, out, 32, 0) == 0;
  BCryptDestroyHash(d->hash);
  BCryptCloseAlgorithmProvider(d->algorithm, 0);
  FreeBlock(d);
  return ok;
}
