// The scramble transform: whole little-endian 32-bit words XORed with a key
// that rotates left after every word. The key and the rotation step come
// from the length alone, so the transform is its own inverse for one length;
// the trailing length % 4 bytes are never touched.
#include <cstring>

#include "archive/archive.h"

namespace {

constexpr uint8_t kRotations[8] = {5, 9, 2, 14, 7, 21, 12, 27};

uint32_t RotateLeft(uint32_t v, unsigned r) {
  r &= 31;
  return r ? (v << r) | (v >> (32 - r)) : v;
}
uint32_t RotateRight(uint32_t v, unsigned r) {
  r &= 31;
  return r ? (v >> r) | (v << (32 - r)) : v;
}

} // namespace

void ScrambleBuffer(uint8_t* buffer, uint32_t length) { ScramblePiece(buffer, 0, length, length); }

void ScramblePiece(uint8_t* piece, uint32_t offset, uint32_t count, uint32_t length) {
  if (length < 4 || offset >= length) return;
  const unsigned step = kRotations[__builtin_popcount(length) % 8];
  const uint32_t first = offset / 4;
  uint32_t last = (offset + (count < length - offset ? count : length - offset)) / 4;
  if (last > length / 4) last = length / 4;
  // The key of word i is the first key rotated i times by the step.
  uint32_t key = RotateLeft(RotateRight(length ^ kScrambleSeed, length % 32), unsigned((uint64_t(first) * step) % 32));
  for (uint32_t i = first; i < last; ++i) {
    uint8_t* p = piece + 4 * (i - first);
    uint32_t word = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    word ^= key;
    p[0] = uint8_t(word);
    p[1] = uint8_t(word >> 8);
    p[2] = uint8_t(word >> 16);
    p[3] = uint8_t(word >> 24);
    key = RotateLeft(key, step);
  }
}
