// The bounded stream decoder on arbitrary input.
//
// Input: a 32-bit little-endian destination size (taken modulo 1 MiB + 1),
// then the stream. The bounded decoder must stay inside both buffers whatever
// the bytes; when it accepts a stream, the trusted decoder must produce the
// same bytes from it. A stream refused only because it ended short of the
// given size is tried once more with the size it did produce, so that most
// inputs that reach an end code get compared with the trusted decoder.
// Decoding through small windows (sizes taken from the input's length) must
// give the same verdict, count and bytes as the whole-buffer form.

#include <cstdlib>
#include <cstring>
#include <memory>

#include "archive/archive.h"
#include "unit/piecewise_decode.h"

namespace {
constexpr size_t kMaxDestination = size_t(1) << 20;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const uint32_t prefix = uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 |
                          uint32_t(data[3]) << 24;
  size_t destSize = prefix % (kMaxDestination + 1);
  const uint8_t* stream = data + 4;
  const size_t streamSize = size - 4;

  // Exact-size blocks, so the address sanitizer sees the first byte outside.
  std::unique_ptr<uint8_t[]> bounded;
  int ok = 0;
  size_t produced = 0;
  for (int attempt = 0; attempt < 2 && !ok; ++attempt) {
    bounded.reset(new uint8_t[destSize + (destSize == 0)]);
    produced = ~size_t(0);
    ok = DecompressStreamBounded(bounded.get(), destSize, stream, streamSize, &produced);
    if (produced > destSize || (ok && produced != destSize)) std::abort();
    if (produced == destSize) break; // a retry with the same size would fail the same way
    destSize = produced;
  }
  std::vector<uint8_t> pieces;
  const size_t outRoom = kDecodeOutSlack + 1 + streamSize * 7 % 1500;
  const size_t inRoom = kDecodeInSlack + 1 + streamSize % 300;
  if (DecodeInPieces(stream, streamSize, destSize, outRoom, inRoom, &pieces) != ok || pieces.size() != produced ||
      (produced && std::memcmp(pieces.data(), bounded.get(), pieces.size()) != 0))
    std::abort();
  if (!ok) return 0;

  std::unique_ptr<uint8_t[]> trusted(new uint8_t[destSize + (destSize == 0)]);
  DecompressStream(trusted.get(), stream);
  if (std::memcmp(trusted.get(), bounded.get(), destSize) != 0) std::abort();
  return 0;
}
