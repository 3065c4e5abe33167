// The bounded decoder driven through small windows, as the member reader
// drives it through large ones: a second decoder to hold against the
// whole-buffer form (same verdict, same bytes, same count produced).
#pragma once

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "archive/archive.h"

// Decodes `srcSize` bytes of `stream` into `size` bytes, with `outRoom`
// bytes of output room after the history and an input window of `inRoom`
// bytes (at least the decoder's slack plus one each). Appends the bytes
// produced to *out, also on failure. 1 when the stream decoded exactly.
inline int DecodeInPieces(const uint8_t* stream, size_t srcSize, size_t size, size_t outRoom, size_t inRoom,
                          std::vector<uint8_t>* out) {
  const size_t capacity = kDecodeHistory + outRoom;
  // Exact-size windows, so the address sanitizer sees the first byte outside.
  std::unique_ptr<uint8_t[]> output(new uint8_t[capacity]);
  std::unique_ptr<uint8_t[]> input(new uint8_t[inRoom]);
  DecodeWindows w{output.get(), 0, 0, false, input.get(), 0, 0, srcSize == 0, 0, 0};
  size_t fetched = 0, pending = 0;
  auto placeEnd = [&] {
    const size_t remaining = size - out->size();
    w.outEnd = w.outPos + std::min(capacity - w.outPos, remaining);
    w.outFinal = w.outEnd - w.outPos == remaining;
  };
  const size_t start = out->size();
  size = start + size;
  placeEnd();
  for (;;) {
    const DecodeStatus status = DecodeStreamPiece(w);
    if (status == DecodeStatus::InputLow) {
      const size_t keep = w.inEnd - w.inPos;
      std::memmove(input.get(), input.get() + w.inPos, keep);
      const size_t n = std::min(inRoom - keep, srcSize - fetched);
      if (n) std::memcpy(input.get() + keep, stream + fetched, n);
      fetched += n;
      w.inPos = 0;
      w.inEnd = keep + n;
      w.inFinal = fetched == srcSize;
      continue;
    }
    out->insert(out->end(), output.get() + pending, output.get() + w.outPos);
    pending = w.outPos;
    if (status != DecodeStatus::OutputFull) return status == DecodeStatus::Done;
    if (w.outPos > kDecodeHistory) {
      std::memmove(output.get(), output.get() + w.outPos - kDecodeHistory, kDecodeHistory);
      w.outPos = pending = kDecodeHistory;
    }
    placeEnd();
  }
}
