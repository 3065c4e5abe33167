// Byte comparisons shared by the match finders.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace codec {

inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

// Length of the common prefix of a and b, from `start`, up to `limit`.
inline size_t CommonLength(const uint8_t* a, const uint8_t* b, size_t start, size_t limit) {
  size_t n = start;
  while (n + 8 <= limit) {
    const uint64_t x = Load64(a + n) ^ Load64(b + n);
    if (x != 0) return n + (size_t(std::countr_zero(x)) >> 3);
    n += 8;
  }
  while (n < limit && a[n] == b[n]) ++n;
  return n;
}

// The same, and whether a sorts before b at the first byte where they differ
// (`aFirst`, meaningless when they agree up to `limit`). Read from the words
// already loaded, byte-swapped so that their order is the order of their
// first differing byte, the order costs no second load.
inline size_t CommonLengthOrder(const uint8_t* a, const uint8_t* b, size_t start, size_t limit, bool* aFirst) {
  size_t n = start;
  while (n + 8 <= limit) {
    const uint64_t wa = Load64(a + n), wb = Load64(b + n);
    if (const uint64_t x = wa ^ wb; x != 0) {
      *aFirst = __builtin_bswap64(wa) < __builtin_bswap64(wb);
      return n + (size_t(std::countr_zero(x)) >> 3);
    }
    n += 8;
  }
  while (n < limit && a[n] == b[n]) ++n;
  *aFirst = n < limit && a[n] < b[n];
  return n;
}

} // namespace codec
