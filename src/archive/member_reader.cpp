// Reading a member's plain bytes in pieces through two fixed windows, so that
// memory stays the same whatever the member's size.
//
// The input window holds stored bytes, unscrambled as they are fetched (the
// transform works on whole words at their place in the member, so every
// fetch but the last is a whole number of words). An output window holds
// the decoder's history (the last 8 KiB, which copies may reach back into)
// followed by room for one piece. The decoder stops when either window runs
// short: input is moved down and topped up; output is handed out as a
// piece, and on the next call the history is copied to the front of the
// other output window, where decoding goes on, so the piece just handed out
// stays where it is for one more call. A plain member needs no decoder: each
// piece is fetched straight into the output windows in turn.
#include <cstring>

#include "archive/archive.h"

namespace {

constexpr size_t kOutputCapacity = kMemberOutputWindow;

size_t Least(uint64_t a, uint64_t b) { return size_t(a < b ? a : b); }

// Fetches the next stored bytes into `to` (at most `room`), unscrambled.
// Every fetch but the last is a whole number of words. 0 when it failed.
int FetchStored(MemberReader& r, uint8_t* to, size_t room, size_t* got) {
  const uint32_t stored = r.entry->storedSize;
  size_t n = Least(room, stored - r.fetched);
  if (r.fetched + n < stored) n &= ~size_t(3);
  if (n && !r.fetch(r.context, r.fetched, to, uint32_t(n))) return 0;
  if (r.entry->scrambleMarker == kScrambled) ScramblePiece(to, uint32_t(r.fetched), uint32_t(n), stored);
  r.fetched += n;
  *got = n;
  return 1;
}

// Sets the output window's end for the plain bytes still to come.
void PlaceOutputEnd(MemberReader& r) {
  const uint64_t remaining = uint64_t(r.entry->uncompressedSize) - r.handedOut - (r.window.outPos - r.pending);
  r.window.outEnd = r.window.outPos + Least(kOutputCapacity - r.window.outPos, remaining);
  r.window.outFinal = r.window.outEnd - r.window.outPos == remaining;
}

uint8_t* OtherOutput(const MemberReader& r) { return r.window.out == r.outputs[0] ? r.outputs[1] : r.outputs[0]; }

} // namespace

int FetchFromMemory(void* context, uint64_t offset, uint8_t* to, uint32_t count) {
  std::memcpy(to, static_cast<const uint8_t*>(context) + offset, count);
  return 1;
}

void OpenMemberReader(MemberReader* reader, const ArchiveEntry& entry, StoredFetch fetch, void* context,
                      uint8_t* workspace) {
  MemberReader& r = *reader;
  r = MemberReader{};
  r.entry = &entry;
  r.fetch = fetch;
  r.context = context;
  r.outputs[0] = workspace;
  r.outputs[1] = workspace + kOutputCapacity;
  r.input = workspace + 2 * kOutputCapacity;
  r.window.out = r.outputs[0];
  r.window.in = r.input;
  r.window.inFinal = entry.storedSize == 0;
  PlaceOutputEnd(r);
}

PieceStatus NextMemberPiece(MemberReader* reader, const uint8_t** bytes, uint32_t* count) {
  MemberReader& r = *reader;
  DecodeWindows& w = r.window;
  if (r.finished) return PieceStatus::End;
  if (!(r.entry->storageFlags & kMemberCompressed)) {
    size_t got = 0;
    w.out = OtherOutput(r);
    if (!FetchStored(r, w.out, kMemberPieceSize, &got)) return PieceStatus::Damaged;
    if (got == 0) return r.finished = 1, PieceStatus::End;
    r.handedOut += got;
    *bytes = w.out;
    *count = uint32_t(got);
    return PieceStatus::Piece;
  }
  // Go on in the other window behind a copy of the history, leaving what
  // was handed out last time in place.
  if (w.outPos > kDecodeHistory) {
    uint8_t* other = OtherOutput(r);
    std::memcpy(other, w.out + w.outPos - kDecodeHistory, kDecodeHistory);
    w.out = other;
    w.outPos = r.pending = kDecodeHistory;
    PlaceOutputEnd(r);
  }
  for (;;) {
    const DecodeStatus status = DecodeStreamPiece(w);
    if (status == DecodeStatus::InputLow) {
      const size_t keep = w.inEnd - w.inPos;
      std::memmove(r.input, r.input + w.inPos, keep);
      size_t got = 0;
      if (!FetchStored(r, r.input + keep, kMemberStoredPieceSize - keep, &got)) return PieceStatus::Damaged;
      w.inPos = 0;
      w.inEnd = keep + got;
      w.inFinal = r.fetched == r.entry->storedSize;
      continue;
    }
    if (status == DecodeStatus::Damaged) return PieceStatus::Damaged;
    if (status == DecodeStatus::Done) r.finished = 1;
    const size_t n = w.outPos - r.pending;
    *bytes = w.out + r.pending;
    *count = uint32_t(n);
    r.handedOut += n;
    r.pending = w.outPos;
    return n ? PieceStatus::Piece : PieceStatus::End;
  }
}
