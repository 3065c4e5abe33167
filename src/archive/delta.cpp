// The delta applier: a base file and a delta in, the new file out.
// Format: docs/formats.md, "Delta members"; archive.h has the summary.
//
// A delta is read in one pass, byte pieces of any size, by a small state
// machine: the header, then each instruction's number, an "add"'s bytes or
// a copy's offset. The result goes into two windows of kDeltaWindow bytes
// that take turns, so a piece handed to the sink stays as it is until the
// call after next. Every number is checked before it is used: an
// instruction never makes more than the result has left, a copy never reads
// outside the base, and a delta that stops short or runs on is damaged.
//
// Example: base "abcdefgh", result "abXYgh" (resultSize 6). After the
// header the delta is 05 00 04 58 59 05 08:
//   05 00     v = 5, a copy of n = 2; z = 0: from the cursor, 0: "ab"; cursor 2
//   04 58 59  v = 4, an add of n = 2: "XY"
//   05 08     v = 5, a copy of n = 2; z = 8: from cursor + 4 = 6: "gh"
#include <cstring>

#include "archive/archive.h"

namespace {

constexpr uint8_t kMagic[8] = {'F', 'A', '2', 'D', 'E', 'L', 'T', 'A'};
constexpr uint32_t kNumberBytes = 5;
constexpr uint64_t kNumberLimit = uint64_t(1) << 33;

enum State : uint8_t { kHeader, kInstruction, kAdd, kCopyOffset, kEnd };

uint32_t GetU32(const uint8_t* at) {
  return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}
void PutU32(uint8_t* at, uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = uint8_t(v >> (8 * i));
}

DeltaStatus Stop(DeltaApplier* a, DeltaStatus status) { return a->status = status; }

// Hands the full window to the sink and turns to the other one.
int Flush(DeltaApplier* a) {
  if (a->filled && !a->sink(a->sinkContext, a->windows[a->current], a->filled)) return 0;
  a->current ^= 1;
  a->filled = 0;
  return 1;
}

int LeftToProduce(const DeltaApplier* a) { return a->produced < a->header.resultSize; }

// One byte of a number. 1 when the number is complete, 0 when more bytes
// follow, -1 when it is too long or too large.
int TakeNumberByte(DeltaApplier* a, uint8_t byte) {
  a->number |= uint64_t(byte & 0x7F) << (7 * a->numberBytes);
  ++a->numberBytes;
  if (byte & 0x80) return a->numberBytes < kNumberBytes ? 0 : -1;
  return a->number < kNumberLimit ? 1 : -1;
}

void NextInstruction(DeltaApplier* a) {
  a->state = LeftToProduce(a) ? kInstruction : kEnd;
  a->number = 0;
  a->numberBytes = 0;
}

// The copy of a->length base bytes from `start`, straight into the windows.
DeltaStatus Copy(DeltaApplier* a, uint64_t start) {
  uint64_t left = a->length;
  while (left) {
    const uint32_t room = kDeltaWindow - a->filled;
    const uint32_t n = left < room ? uint32_t(left) : room;
    if (!a->base(a->baseContext, start, a->windows[a->current] + a->filled, n)) return Stop(a, DeltaStatus::BaseFailed);
    a->filled += n;
    start += n;
    left -= n;
    if (a->filled == kDeltaWindow && !Flush(a)) return Stop(a, DeltaStatus::SinkRefused);
  }
  a->produced += a->length;
  a->cursor = start;
  NextInstruction(a);
  return DeltaStatus::More;
}

// A complete instruction number: what follows it.
DeltaStatus Begin(DeltaApplier* a) {
  const uint64_t n = a->number >> 1;
  if (n == 0 || n > a->header.resultSize - a->produced) return Stop(a, DeltaStatus::Damaged);
  a->state = (a->number & 1) ? kCopyOffset : kAdd;
  if (a->number & 1)
    a->length = n;
  else
    a->remaining = n;
  a->number = 0;
  a->numberBytes = 0;
  return DeltaStatus::More;
}

// A complete copy offset: where the copy starts, checked against the base.
DeltaStatus BeginCopy(DeltaApplier* a) {
  const uint64_t distance = a->number >> 1;
  uint64_t start;
  if (a->number & 1) {
    if (distance > a->cursor) return Stop(a, DeltaStatus::Damaged);
    start = a->cursor - distance;
  } else {
    start = a->cursor + distance;
  }
  if (start > a->header.baseSize || a->length > a->header.baseSize - start) return Stop(a, DeltaStatus::Damaged);
  return Copy(a, start);
}

} // namespace

int ParseDeltaHeader(const uint8_t* bytes, uint32_t count, DeltaHeader* header) {
  if (count < kDeltaHeaderSize || std::memcmp(bytes, kMagic, sizeof kMagic) != 0) return 0;
  header->baseSize = GetU32(bytes + 8);
  header->resultSize = GetU32(bytes + 12);
  std::memcpy(header->baseDigest, bytes + 16, kDigestSize);
  std::memcpy(header->resultDigest, bytes + 48, kDigestSize);
  return 1;
}

void PutDeltaHeader(const DeltaHeader& header, uint8_t out[kDeltaHeaderSize]) {
  std::memcpy(out, kMagic, sizeof kMagic);
  PutU32(out + 8, header.baseSize);
  PutU32(out + 12, header.resultSize);
  std::memcpy(out + 16, header.baseDigest, kDigestSize);
  std::memcpy(out + 48, header.resultDigest, kDigestSize);
}

int DeltaMemberName(const char* name, char out[kNameCapacity]) {
  const size_t length = std::strlen(name);
  if (kDeltaPrefixLength + length >= kNameCapacity) return 0;
  std::memcpy(out, kDeltaPrefix, kDeltaPrefixLength);
  std::memcpy(out + kDeltaPrefixLength, name, length + 1);
  return 1;
}

void OpenDeltaApplier(DeltaApplier* a, StoredFetch base, void* baseContext, PieceSink sink, void* sinkContext,
                      uint8_t* workspace) {
  std::memset(a, 0, sizeof *a);
  a->base = base;
  a->baseContext = baseContext;
  a->sink = sink;
  a->sinkContext = sinkContext;
  a->windows[0] = workspace;
  a->windows[1] = workspace + kDeltaWindow;
  a->state = kHeader;
  a->status = DeltaStatus::More;
}

DeltaStatus FeedDelta(DeltaApplier* a, const uint8_t* bytes, uint32_t count) {
  const uint8_t* end = bytes + count;
  while (a->status == DeltaStatus::More && bytes < end) {
    switch (a->state) {
      case kHeader: {
        const uint32_t n = uint32_t(end - bytes) < kDeltaHeaderSize - a->headerHave ? uint32_t(end - bytes)
                                                                                    : kDeltaHeaderSize - a->headerHave;
        std::memcpy(a->headerBytes + a->headerHave, bytes, n);
        a->headerHave += n;
        bytes += n;
        if (a->headerHave < kDeltaHeaderSize) break;
        if (!ParseDeltaHeader(a->headerBytes, kDeltaHeaderSize, &a->header)) return Stop(a, DeltaStatus::Damaged);
        NextInstruction(a);
        break;
      }
      case kInstruction: {
        const int done = TakeNumberByte(a, *bytes++);
        if (done < 0) return Stop(a, DeltaStatus::Damaged);
        if (done) Begin(a);
        break;
      }
      case kCopyOffset: {
        const int done = TakeNumberByte(a, *bytes++);
        if (done < 0) return Stop(a, DeltaStatus::Damaged);
        if (done) BeginCopy(a);
        break;
      }
      case kAdd: {
        const uint32_t room = kDeltaWindow - a->filled;
        uint64_t n = uint64_t(end - bytes);
        if (n > a->remaining) n = a->remaining;
        if (n > room) n = room;
        std::memcpy(a->windows[a->current] + a->filled, bytes, size_t(n));
        a->filled += uint32_t(n);
        bytes += n;
        a->remaining -= n;
        a->produced += n;
        if (a->filled == kDeltaWindow && !Flush(a)) return Stop(a, DeltaStatus::SinkRefused);
        if (!a->remaining) NextInstruction(a);
        break;
      }
      default: return Stop(a, DeltaStatus::Damaged); // bytes after the result's end
    }
  }
  return a->status;
}

DeltaStatus FinishDelta(DeltaApplier* a) {
  if (a->status != DeltaStatus::More) return a->status;
  if (a->state != kEnd) return Stop(a, DeltaStatus::Damaged);
  if (!Flush(a)) return Stop(a, DeltaStatus::SinkRefused);
  return Stop(a, DeltaStatus::Done);
}
