// Encoder and both decoders together: any input must come back unchanged.
//
// Input: one byte choosing the encoder (1 to 3: the levels; 0: the greedy
// reference parse of the tests and benchmark), then the data.

#include <cstdlib>
#include <cstring>
#include <memory>

#include "archive/archive.h"
#include "codec/encoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int level = data[0] % 4;
  const uint8_t* plain = data + 1;
  const size_t plainSize = size - 1;

  const std::vector<uint8_t> stream = level == 0 ? CompressStreamGreedyReference(plain, plainSize)
                                                 : CompressStream(plain, plainSize, level);
  if (stream.size() > MaxCompressedSize(plainSize)) std::abort();

  // Exact-size blocks, so the address sanitizer sees the first byte outside.
  std::unique_ptr<uint8_t[]> decoded(new uint8_t[plainSize + (plainSize == 0)]);
  size_t produced = 0;
  if (!DecompressStreamBounded(decoded.get(), plainSize, stream.data(), stream.size(), &produced)) std::abort();
  if (produced != plainSize || std::memcmp(decoded.get(), plain, plainSize) != 0) std::abort();

  std::unique_ptr<uint8_t[]> trusted(new uint8_t[plainSize + (plainSize == 0)]);
  std::unique_ptr<uint8_t[]> source(new uint8_t[stream.size()]);
  std::memcpy(source.get(), stream.data(), stream.size());
  DecompressStream(trusted.get(), source.get());
  if (std::memcmp(trusted.get(), plain, plainSize) != 0) std::abort();
  return 0;
}
