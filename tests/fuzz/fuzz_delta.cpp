// The delta applier on any bytes.
//
// Input: two bytes (little-endian) give the base's length (at most what is
// left), a third seeds the sizes of the pieces the delta is fed in; then the
// base, then the delta. The base sits in a block of its own size and a
// fetch beyond it fails, so a header that claims a larger base ends in
// BaseFailed at its first copy there. Checks: the base is read only inside
// the header's base size; every piece handed out lies in the workspace, is
// at most kDeltaWindow bytes and is unchanged until the call after next; the
// result never runs past the header's size and has exactly that size when
// Done; once not More, the status stays and nothing is fetched or handed
// out. Fed whole, byte by byte and in pieces of varying size, the delta must
// give the same status and the same bytes (compared by count and hash, so
// nothing here grows with the sizes a header claims).
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "archive/archive.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

struct Run {
  DeltaApplier applier;
  std::vector<uint8_t> base;
  const uint8_t* workspace;
  bool stopped = false, refused = false;
  uint64_t produced = 0, hash = 14695981039346656037u;
  const uint8_t* previous = nullptr; // the last piece, and its bytes as handed out
  std::vector<uint8_t> kept;
};

int Fetch(void* context, uint64_t offset, uint8_t* to, uint32_t count) {
  Run* r = static_cast<Run*>(context);
  Check(!r->stopped && !r->refused && count > 0 && offset + count <= r->applier.header.baseSize);
  if (offset + count > r->base.size()) return r->refused = true, 0;
  std::memcpy(to, r->base.data() + offset, count);
  return 1;
}

int Sink(void* context, const uint8_t* bytes, uint32_t count) {
  Run* r = static_cast<Run*>(context);
  Check(!r->stopped && !r->refused && count > 0 && count <= kDeltaWindow);
  Check(bytes >= r->workspace && bytes + count <= r->workspace + kDeltaWorkspace);
  Check(r->produced + count <= r->applier.header.resultSize);
  Check(!r->previous || std::memcmp(r->previous, r->kept.data(), r->kept.size()) == 0);
  r->previous = bytes;
  r->kept.assign(bytes, bytes + count);
  for (uint32_t i = 0; i < count; ++i) r->hash = (r->hash ^ bytes[i]) * 1099511628211u;
  r->produced += count;
  return 1;
}

// Feeds the delta in pieces: whole (seed 0), one byte (seed 1), else sizes
// drawn from the seed.
DeltaStatus Apply(Run& r, const uint8_t* delta, size_t size, uint32_t seed) {
  static uint8_t* const workspace = new uint8_t[kDeltaWorkspace]; // exact size: the sanitizer sees past it
  r.workspace = workspace;
  OpenDeltaApplier(&r.applier, Fetch, &r, Sink, &r, workspace);
  DeltaStatus status = DeltaStatus::More;
  uint32_t state = seed;
  for (size_t at = 0; at < size;) {
    state = state * 1103515245u + 12345u;
    const size_t piece = seed == 0 ? size : seed == 1 ? 1 : 1 + (state >> 16) % (1 + seed * seed);
    const size_t n = piece < size - at ? piece : size - at;
    const DeltaStatus got = FeedDelta(&r.applier, delta + at, uint32_t(n));
    Check(status == DeltaStatus::More || got == status);
    status = got;
    r.stopped = status != DeltaStatus::More;
    at += n;
  }
  const DeltaStatus end = FinishDelta(&r.applier);
  r.stopped = true;
  Check(status == DeltaStatus::More || end == status);
  Check(end != DeltaStatus::More && end != DeltaStatus::SinkRefused);
  Check(FinishDelta(&r.applier) == end && FeedDelta(&r.applier, delta, size ? 1 : 0) == end);
  Check(r.refused == (end == DeltaStatus::BaseFailed));
  Check(end != DeltaStatus::Done || r.produced == r.applier.header.resultSize);
  return end;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const size_t length = std::min<size_t>(data[0] | data[1] << 8, size - 3);
  const uint8_t* delta = data + 3 + length;
  const size_t deltaSize = size - 3 - length;
  Run runs[3];
  DeltaStatus status[3];
  for (uint32_t i = 0; i < 3; ++i) {
    runs[i].base.assign(data + 3, delta);
    status[i] = Apply(runs[i], delta, deltaSize, i < 2 ? i : 2 + data[2]);
  }
  for (int i = 1; i < 3; ++i)
    Check(status[i] == status[0] && runs[i].produced == runs[0].produced && runs[i].hash == runs[0].hash);
  return 0;
}
