// The stream decoder for compressed members and directories.
//
// Stream format
// -------------
// A stream is an LZ77 sequence of literals and back-references. The choice of
// code and its small numeric fields are spelled out in control bits; whole
// bytes (a literal's value, eight bits of each distance, the count of a long
// match) are stored as data bytes. Both kinds share one input:
//
//   * Control bits come in 32-bit little-endian words, consumed from bit 31
//     down to bit 0. The first word is the first four bytes of the stream.
//     When all 32 bits of a word are used up, the next word is not fetched
//     right away: it is read from wherever the input position happens to be
//     at the moment the next bit is actually wanted. Data bytes needed in
//     between therefore sit in front of the next control word.
//   * Data bytes are read one at a time from the input position at the moment
//     a code needs them.
//
// Below, bits are listed in the order they are taken, B is one data byte,
// and x.. is a run of further control bits read as an unsigned number with
// the first bit taken as its most significant bit.
//
//   1 B              literal B
//   0 1 0 B          copy 2 bytes from distance B + 1           (1..256)
//   0 1 1 B xxx      v = 256 + 8B + xxx; v == 2303 ends the stream, otherwise
//                    copy 2 bytes from distance v + 1            (257..2303)
//   0 0 <off> <len>  copy <len> bytes from distance v + 1, v from <off>
//
//   offset code <off>          v                      distance
//     1 B x                    2B + x                 1..512
//     0 1 B x                  512 + 2B + x           513..1024
//     0 0 1 B xx               1024 + 4B + xx         1025..2048
//     0 0 0 1 B xxx            2048 + 8B + xxx        2049..4096
//     0 0 0 0 B xxxx           4096 + 16B + xxxx      4097..8192
//
//   length code <len>
//     1                        3
//     0 1                      4
//     0 0 1 x                  5 + x                  5..6
//     0 0 0 1 xx               7 + xx                 7..10
//     0 0 0 0 1 xxxx           11 + xxxx              11..26
//     0 0 0 0 0 B              27 + B                 27..282
//
// A copy of n bytes from distance d writes, byte after byte, the output byte
// d places before the one being written, so a distance shorter than the
// length repeats a pattern (distance 1 repeats the last byte). The stream
// holds no length: the caller knows the decoded size. It ends with the last
// byte the end code needs, which is either its data byte or the control word
// holding its final bits, whichever lies later in the input.
//
// Example: "abcabcabc" is 00 80 6F E4 61 62 63 01 FF. Control word E46F8000
// gives 1 1 1 (literals a b c from the next three bytes), 0 0 (a match),
// 1 B=01 x=0 (v = 2, distance 3), 0 0 1 x=1 (length 6), 0 1 1 B=FF 1 1 1 (end).
//
// Two decoders follow. DecompressStream trusts its input completely, as the
// updater does with its own embedded archive. DecompressStreamBounded checks
// every read, write and distance and reports whether the stream was sound;
// like the trusted form it reads nothing after the end code, so trailing
// bytes in its input are allowed.

#include <cstring>

#include "archive/archive.h"

// Both decoders are single loops with no calls; the bit reader is a set of
// macros over the locals `in`, `word` and `left` (bits not yet taken).
#define FA2_LOAD_LE32(p)                                                                   \
  (uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24)

namespace {

// Appends `len` bytes copied from `dist` bytes back. Byte order semantics are
// those of a byte-by-byte copy: whole 8- or 4-byte groups are moved only when
// the group's source lies entirely in bytes already written.
[[gnu::always_inline]] inline uint8_t* CopyMatch(uint8_t* out, size_t dist, size_t len) {
  const uint8_t* from = out - dist;
  if (dist >= 8) {
    while (len >= 8) {
      std::memcpy(out, from, 8);
      out += 8;
      from += 8;
      len -= 8;
    }
  } else if (dist >= 4) {
    while (len >= 4) {
      std::memcpy(out, from, 4);
      out += 4;
      from += 4;
      len -= 4;
    }
  }
  while (len != 0) {
    *out++ = *from++;
    --len;
  }
  return out;
}

} // namespace

void DecompressStream(uint8_t* dest, const uint8_t* src) {
  const uint8_t* in = src;
  uint8_t* out = dest;
  uint32_t word = FA2_LOAD_LE32(in);
  in += 4;
  uint32_t left = 32;

#define FA2_BIT(b)                                                                         \
  do {                                                                                     \
    if (left == 0) {                                                                       \
      word = FA2_LOAD_LE32(in);                                                            \
      in += 4;                                                                             \
      left = 32;                                                                           \
    }                                                                                      \
    (b) = word >> 31;                                                                      \
    word <<= 1;                                                                            \
    --left;                                                                                \
  } while (0)

// k is 1 to 4; takes the bits in one go when the word still holds them.
#define FA2_BITS(v, k)                                                                     \
  do {                                                                                     \
    if (left >= (k)) {                                                                     \
      (v) = word >> (32 - (k));                                                            \
      word <<= (k);                                                                        \
      left -= (k);                                                                         \
    } else {                                                                               \
      (v) = 0;                                                                             \
      for (uint32_t i_ = 0; i_ < (k); ++i_) {                                              \
        uint32_t b_;                                                                       \
        FA2_BIT(b_);                                                                       \
        (v) = (v) << 1 | b_;                                                               \
      }                                                                                    \
    }                                                                                      \
  } while (0)

  for (;;) {
    uint32_t bit;
    FA2_BIT(bit);
    if (bit) {
      *out++ = *in++;
      continue;
    }
    size_t dist;
    size_t len;
    FA2_BIT(bit);
    if (bit) {
      uint32_t wide;
      FA2_BIT(wide);
      uint32_t v = *in++;
      if (wide) {
        uint32_t low;
        FA2_BITS(low, 3);
        v = 256 + (v << 3) + low;
        if (v == 2303)
          return;
      }
      dist = v + 1;
      len = 2;
    } else {
      // Offset class: the number of 0 selector bits before a 1, at most 4.
      uint32_t cls = 0;
      for (;;) {
        FA2_BIT(bit);
        if (bit)
          break;
        if (++cls == 4)
          break;
      }
      uint32_t v = *in++;
      uint32_t low;
      if (cls <= 1) {
        FA2_BIT(low);
        v = (v << 1) + low + (cls ? 512 : 0);
      } else {
        FA2_BITS(low, cls);
        v = (256u << cls) + (v << cls) + low;
      }
      dist = v + 1;

      // Length class: the number of 0 bits before a 1, at most 5.
      uint32_t zeros = 0;
      for (;;) {
        FA2_BIT(bit);
        if (bit)
          break;
        if (++zeros == 5)
          break;
      }
      switch (zeros) {
      case 0: len = 3; break;
      case 1: len = 4; break;
      case 2: FA2_BITS(low, 1); len = 5 + low; break;
      case 3: FA2_BITS(low, 2); len = 7 + low; break;
      case 4: FA2_BITS(low, 4); len = 11 + low; break;
      default: len = 27 + size_t(*in++); break;
      }
    }
    out = CopyMatch(out, dist, len);
  }
#undef FA2_BITS
#undef FA2_BIT
}

int DecompressStreamBounded(uint8_t* dest, size_t destSize, const uint8_t* src, size_t srcSize,
                            size_t* produced) {
  uint8_t* out = dest;
  uint8_t* const outEnd = dest + destSize;
  const uint8_t* in = src;
  const uint8_t* const inEnd = src + srcSize;
  int result = 0;
  uint32_t word = 0;
  uint32_t left = 0; // the first bit fetches the first word, checked like any other

#define FA2_BIT(b)                                                                         \
  do {                                                                                     \
    if (left == 0) {                                                                       \
      if (size_t(inEnd - in) < 4)                                                          \
        goto done;                                                                         \
      word = FA2_LOAD_LE32(in);                                                            \
      in += 4;                                                                             \
      left = 32;                                                                           \
    }                                                                                      \
    (b) = word >> 31;                                                                      \
    word <<= 1;                                                                            \
    --left;                                                                                \
  } while (0)

#define FA2_BITS(v, k)                                                                     \
  do {                                                                                     \
    if (left >= (k)) {                                                                     \
      (v) = word >> (32 - (k));                                                            \
      word <<= (k);                                                                        \
      left -= (k);                                                                         \
    } else {                                                                               \
      (v) = 0;                                                                             \
      for (uint32_t i_ = 0; i_ < (k); ++i_) {                                              \
        uint32_t b_;                                                                       \
        FA2_BIT(b_);                                                                       \
        (v) = (v) << 1 | b_;                                                               \
      }                                                                                    \
    }                                                                                      \
  } while (0)

#define FA2_BYTE(v)                                                                        \
  do {                                                                                     \
    if (in == inEnd)                                                                       \
      goto done;                                                                           \
    (v) = *in++;                                                                           \
  } while (0)

  for (;;) {
    uint32_t bit;
    uint32_t byte;
    FA2_BIT(bit);
    if (bit) {
      FA2_BYTE(byte);
      if (out == outEnd)
        goto done;
      *out++ = uint8_t(byte);
      continue;
    }
    size_t dist;
    size_t len;
    FA2_BIT(bit);
    if (bit) {
      uint32_t wide;
      FA2_BIT(wide);
      uint32_t v;
      FA2_BYTE(v);
      if (wide) {
        uint32_t low;
        FA2_BITS(low, 3);
        v = 256 + (v << 3) + low;
        if (v == 2303) {
          result = out == outEnd;
          goto done;
        }
      }
      dist = v + 1;
      len = 2;
    } else {
      uint32_t cls = 0;
      for (;;) {
        FA2_BIT(bit);
        if (bit)
          break;
        if (++cls == 4)
          break;
      }
      uint32_t v;
      FA2_BYTE(v);
      uint32_t low;
      if (cls <= 1) {
        FA2_BIT(low);
        v = (v << 1) + low + (cls ? 512 : 0);
      } else {
        FA2_BITS(low, cls);
        v = (256u << cls) + (v << cls) + low;
      }
      dist = v + 1;

      uint32_t zeros = 0;
      for (;;) {
        FA2_BIT(bit);
        if (bit)
          break;
        if (++zeros == 5)
          break;
      }
      switch (zeros) {
      case 0: len = 3; break;
      case 1: len = 4; break;
      case 2: FA2_BITS(low, 1); len = 5 + low; break;
      case 3: FA2_BITS(low, 2); len = 7 + low; break;
      case 4: FA2_BITS(low, 4); len = 11 + low; break;
      default: FA2_BYTE(byte); len = 27 + byte; break;
      }
    }
    if (dist > size_t(out - dest) || len > size_t(outEnd - out))
      goto done;
    out = CopyMatch(out, dist, len);
  }
#undef FA2_BYTE
#undef FA2_BITS
#undef FA2_BIT

done:
  if (produced)
    *produced = size_t(out - dest);
  return result;
}

#undef FA2_LOAD_LE32
