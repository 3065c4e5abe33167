// The stream decoder for compressed members and directories.
// Format: docs/formats.md, "The compressed stream".
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

// How the decoders go fast
// ------------------------
// The bits not yet taken are kept left-aligned in a 64-bit register with
// zeros below them, so a run of literals is the count of leading ones, and an
// offset or length class is the count of leading zeros (a sentinel bit caps
// it). A new control word is merged in below the bits left only at the moment
// a bit beyond them is needed, which is exactly when the format reads it:
// fixed-width fields merge when fewer bits are left than they take, the
// unary classes only when every bit left is 0 and the class could go on.
// Data bytes are read in between from the single input position.
//
// Copies move 4, 8, 16 or 32 bytes at a time. A group is moved only when its
// whole source lies in bytes already written (distance at least the group's
// width); distances 1 to 7 first write an 8-byte pattern built from the last
// 8 bytes written, then copy at the smallest multiple of the distance that is
// 8 or more. The trusted decoder does not know where the output ends, so its
// copies write exactly the decoded bytes (a last group overlapping the one
// before it). The bounded decoder knows both ends: while at least kOutMargin
// bytes of output and kInMargin of input remain it writes whole groups past
// the end of a copy (later codes overwrite them) and reads literal groups
// past the last literal, checking only the distance of each match; closer to
// either end it decodes one code at a time, checking every bit, byte and copy.

#include <bit>
#include <cstring>

#include "archive/archive.h"

static_assert(std::endian::native == std::endian::little, "the word copies assume little-endian");

namespace {

using Bits64 = uint64_t;

[[gnu::always_inline]] inline uint32_t LoadLe32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

template <size_t N>
[[gnu::always_inline]] inline void Move(uint8_t* to, const uint8_t* from) {
  std::memcpy(to, from, N);
}

// Copies n (1 to 63) literal bytes; the buffers do not overlap.
[[gnu::always_inline]] inline void CopyLiteralsExact(uint8_t* to, const uint8_t* from, size_t n) {
  if (n >= 16) {
    for (size_t i = 0; i + 16 < n; i += 16) Move<16>(to + i, from + i);
    Move<16>(to + n - 16, from + n - 16);
  } else if (n >= 8) {
    Move<8>(to, from);
    Move<8>(to + n - 8, from + n - 8);
  } else if (n >= 4) {
    Move<4>(to, from);
    Move<4>(to + n - 4, from + n - 4);
  } else {
    to[0] = from[0];
    if (n > 1) {
      to[1] = from[1];
      if (n > 2) to[2] = from[2];
    }
  }
}

// For a distance of 1 to 7: the smallest multiple of it that is 8 or more.
constexpr uint8_t kPatternStep[8] = {0, 8, 8, 9, 8, 10, 12, 14};

// Eight bytes repeating the last `dist` (1 to 7) bytes before `out`, in the
// order a byte-by-byte copy writes them. Needs 8 bytes written before `out`.
[[gnu::always_inline]] inline uint64_t Pattern(const uint8_t* out, size_t dist) {
  uint64_t p;
  std::memcpy(&p, out - 8, 8);
  p >>= 8 * (8 - dist);
  p |= p << (8 * dist);
  if (dist < 4) p |= p << (16 * dist);
  if (dist < 2) p |= p << 32;
  return p;
}

// Appends len (2 to 282) bytes from dist back, writing nothing past them.
[[gnu::always_inline]] inline uint8_t* CopyMatchExact(uint8_t* out, const uint8_t* dest, size_t dist, size_t len) {
  const uint8_t* from = out - dist;
  if (dist >= 8) {
    if (len >= 8) {
      size_t i = 0;
      if (dist >= 16)
        for (; i + 16 <= len; i += 16) Move<16>(out + i, from + i);
      for (; i + 8 <= len; i += 8) Move<8>(out + i, from + i);
      if (i < len) Move<8>(out + len - 8, from + len - 8);
      return out + len;
    }
  } else if (len >= 8 && size_t(out - dest) >= 8) {
    const uint64_t p = Pattern(out, dist);
    std::memcpy(out, &p, 8);
    const size_t step = kPatternStep[dist];
    size_t i = 8;
    for (; i + 8 <= len; i += 8) Move<8>(out + i, out + i - step);
    if (len >= 16) // the last group's source then starts inside the pattern
      Move<8>(out + len - 8, out + len - 8 - step);
    else
      for (; i < len; ++i) out[i] = out[i - dist];
    return out + len;
  }
  if (len >= 4 && len <= 8 && dist >= 4) { // the second group's source is then written
    Move<4>(out, from);
    Move<4>(out + len - 4, from + len - 4);
    return out + len;
  }
  for (size_t i = 0; i < len; ++i) out[i] = from[i];
  return out + len;
}

// Appends len (2 to 282) bytes from dist back; may write up to 31 bytes more.
[[gnu::always_inline]] inline uint8_t* CopyMatchSlack(uint8_t* out, const uint8_t* dest, size_t dist, size_t len) {
  const uint8_t* from = out - dist;
  if (dist >= 16) {
    Move<16>(out, from); // most copies end here
    if (len > 16) [[unlikely]] {
      if (dist >= 32)
        for (size_t i = 16; i < len; i += 32) Move<32>(out + i, from + i);
      else
        for (size_t i = 16; i < len; i += 16) Move<16>(out + i, from + i);
    }
  } else if (dist >= 8) {
    size_t i = 0;
    do {
      Move<8>(out + i, from + i);
      i += 8;
    } while (i < len);
  } else if (size_t(out - dest) >= 8) {
    const uint64_t p = Pattern(out, dist);
    std::memcpy(out, &p, 8);
    const size_t step = kPatternStep[dist];
    for (size_t i = 8; i < len; i += 8) Move<8>(out + i, out + i - step);
  } else {
    for (size_t i = 0; i < len; ++i) out[i] = from[i];
  }
  return out + len;
}

constexpr uint8_t kOffsetLowBits[5] = {1, 1, 2, 3, 4};
constexpr uint16_t kOffsetBase[5] = {0, 512, 1024, 2048, 4096};
constexpr uint8_t kLengthLowBits[5] = {0, 0, 1, 2, 4};
constexpr uint8_t kLengthBase[6] = {3, 4, 5, 7, 11, 27};

// The length code read from the top 9 bits of the bit buffer: its control
// bits and its length, 27 meaning 27 plus the data byte that follows.
struct LengthEntry {
  uint8_t bits;
  uint8_t len;
};
struct LengthTable {
  LengthEntry e[512];
  constexpr LengthTable() : e() {
    for (uint32_t top = 0; top < 512; ++top) {
      const uint32_t zeros = std::countl_zero(top << 23 | 1u << 26); // at most 5
      const uint32_t extra = kLengthLowBits[zeros < 5 ? zeros : 0];
      const uint32_t prefix = zeros < 5 ? zeros + 1 : 5;
      const uint32_t low = extra ? (top >> (9 - prefix - extra)) & ((1u << extra) - 1) : 0;
      e[top] = {uint8_t(prefix + extra), uint8_t(kLengthBase[zeros] + low)};
    }
  }
};
constexpr LengthTable kLengthTable;
// Control bits of a length code by its count of leading zeros.
constexpr uint8_t kLengthCodeBits[6] = {1, 2, 4, 6, 9, 5};

// Room the bounded decoder's unchecked steps need. One step takes at most a
// control word, 36 literals (read as 64), another word and three data bytes,
// and writes at most 36 literals (64 with slack) and a 282-byte copy (+31).
constexpr size_t kInMargin = 4 + 64 + 4 + 3 + 5;
constexpr size_t kOutMargin = 36 + 282 + 31 + 35;
static_assert(kInMargin <= kDecodeInSlack && kOutMargin <= kDecodeOutSlack);

// What a bounded decode returns: the codes of DecodeStatus.
constexpr int kDamaged = int(DecodeStatus::Damaged);
constexpr int kDone = int(DecodeStatus::Done);

// The bounded form decodes between the positions in `w` and leaves them, and
// its bit buffer, where it stopped. The trusted form uses only w.out and w.in
// as the starts of the whole output and input.
template <bool kBounded>
[[gnu::always_inline]] inline int Decode(DecodeWindows& w) {
  uint8_t* const dest = w.out;
  const uint8_t* const src = w.in;
  uint8_t* out = dest + w.outPos;
  const uint8_t* in = src + w.inPos;
  uint8_t* const outEnd = dest + w.outEnd;    // bounded form only
  const uint8_t* const inEnd = src + w.inEnd; // bounded form only
  const size_t destSize = w.outEnd;
  const size_t srcSize = w.inEnd;
  Bits64 buf = w.bits; // bits not yet taken, left-aligned, zeros below
  uint32_t left = w.left;
  int result = kDamaged;
  // The unchecked steps run while out < outSafe and in < inSafe.
  uint8_t* const outSafe = destSize >= kOutMargin ? outEnd - kOutMargin : dest;
  const uint8_t* const inSafe = srcSize >= kInMargin ? inEnd - kInMargin : src;
  (void)outEnd;
  (void)inEnd;
  (void)outSafe;
  (void)inSafe;

// Merges the next control word in below the `left` bits (left < 32).
#define FA2_MERGE()                             \
  do {                                          \
    buf |= Bits64(LoadLe32(in)) << (32 - left); \
    in += 4;                                    \
    left += 32;                                 \
  } while (0)
#define FA2_SKIP(n) \
  do {              \
    buf <<= (n);    \
    left -= (n);    \
  } while (0)

  for (;;) {
    if constexpr (kBounded) {
      if (out >= outSafe || in >= inSafe) [[unlikely]] {
        // Near the end of a window that is not the stream's end: the caller
        // makes room or brings input, and the decode goes on where it was.
        if (out >= outSafe && !w.outFinal) {
          result = int(DecodeStatus::OutputFull);
          goto done;
        }
        if (in >= inSafe && !w.inFinal) {
          result = int(DecodeStatus::InputLow);
          goto done;
        }
        goto careful;
      }
    }
    if (left == 0) FA2_MERGE();
    {
      // A run of literals: every leading 1 bit (at most the bits left).
      const uint32_t run = uint32_t(std::countl_one(buf));
      if constexpr (kBounded) {
        // Whole groups whatever the run, even none: no branch to mispredict.
        Move<32>(out, in);
        if (run > 32) [[unlikely]]
          Move<32>(out + 32, in + 32);
        out += run;
        in += run;
        FA2_SKIP(run);
        if (left == 0) continue;
      } else if (run != 0) {
        CopyLiteralsExact(out, in, run);
        out += run;
        in += run;
        FA2_SKIP(run);
        if (left == 0) continue;
      }
    }
    {
      // The next bit is a 0 and two more are needed whatever follows.
      if (left < 3) FA2_MERGE();
      size_t dist;
      size_t len;
      if (buf >> 62 == 1) { // 0 1 s: two-byte match
        const uint32_t wide = uint32_t(buf >> 61) & 1;
        FA2_SKIP(3);
        uint32_t v = *in++;
        if (wide) {
          if (left < 3) FA2_MERGE();
          v = 256 + (v << 3) + uint32_t(buf >> 61);
          FA2_SKIP(3);
          if (v == 2303) {
            if constexpr (kBounded) result = w.outFinal && out == outEnd ? kDone : kDamaged;
            goto done;
          }
        }
        dist = v + 1;
        len = 2;
      } else {
        FA2_SKIP(2);
        // Offset class: 0 to 4 zeros, ended by a 1 unless there are 4.
        if (buf == 0 && left < 4) FA2_MERGE();
        const uint32_t cls = uint32_t(std::countl_zero(buf | Bits64(1) << 59));
        FA2_SKIP(cls + (cls < 4));
        const uint32_t low = kOffsetLowBits[cls];
        uint32_t v = uint32_t(*in++) << low;
        if (left < low) FA2_MERGE();
        v += kOffsetBase[cls] + uint32_t(buf >> (64 - low));
        FA2_SKIP(low);
        dist = v + 1;
        // Length class: 0 to 5 zeros, ended by a 1 unless there are 5; then
        // its extra bits. Every bit of the code is needed once the class is
        // known, so the word is merged before the table is read if need be.
        if (buf == 0 && left < 5) FA2_MERGE();
        const uint32_t zeros = uint32_t(std::countl_zero(buf | Bits64(1) << 58));
        if (left < kLengthCodeBits[zeros]) FA2_MERGE();
        const LengthEntry e = kLengthTable.e[buf >> 55];
        FA2_SKIP(e.bits);
        len = e.len;
        if constexpr (kBounded) {
          // The byte is there to read in the unchecked region; take it only
          // for the long form, without a branch.
          const size_t isByte = e.len == 27;
          len += *in & (0 - isByte);
          in += isByte;
        } else if (e.len == 27) {
          len += *in++;
        }
      }
      if constexpr (kBounded) {
        if (dist > size_t(out - dest)) [[unlikely]]
          goto done;
        out = CopyMatchSlack(out, dest, dist, len);
      } else {
        out = CopyMatchExact(out, dest, dist, len);
      }
    }
    continue;

  careful:
    __attribute__((unused));
    if constexpr (kBounded) {
      // One code, every bit, byte and copy checked.
#define FA2_BIT(b)                           \
  do {                                       \
    if (left == 0) {                         \
      if (size_t(inEnd - in) < 4) goto done; \
      FA2_MERGE();                           \
    }                                        \
    (b) = uint32_t(buf >> 63);               \
    FA2_SKIP(1);                             \
  } while (0)
#define FA2_BITS(v, k)                      \
  do {                                      \
    (v) = 0;                                \
    for (uint32_t i_ = 0; i_ < (k); ++i_) { \
      uint32_t b_;                          \
      FA2_BIT(b_);                          \
      (v) = (v) << 1 | b_;                  \
    }                                       \
  } while (0)
#define FA2_BYTE(v)             \
  do {                          \
    if (in == inEnd) goto done; \
    (v) = *in++;                \
  } while (0)
      uint32_t bit;
      uint32_t byte;
      FA2_BIT(bit);
      if (bit) {
        FA2_BYTE(byte);
        if (out == outEnd) goto done;
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
          FA2_BITS(low, 3u);
          v = 256 + (v << 3) + low;
          if (v == 2303) {
            result = w.outFinal && out == outEnd ? kDone : kDamaged;
            goto done;
          }
        }
        dist = v + 1;
        len = 2;
      } else {
        uint32_t cls = 0;
        for (;;) {
          FA2_BIT(bit);
          if (bit || ++cls == 4) break;
        }
        uint32_t v;
        FA2_BYTE(v);
        uint32_t low;
        FA2_BITS(low, uint32_t(kOffsetLowBits[cls]));
        v = kOffsetBase[cls] + (v << kOffsetLowBits[cls]) + low;
        dist = v + 1;
        uint32_t zeros = 0;
        for (;;) {
          FA2_BIT(bit);
          if (bit || ++zeros == 5) break;
        }
        if (zeros == 5) {
          FA2_BYTE(byte);
          len = 27 + byte;
        } else {
          FA2_BITS(low, uint32_t(kLengthLowBits[zeros]));
          len = kLengthBase[zeros] + low;
        }
      }
      if (dist > size_t(out - dest) || len > size_t(outEnd - out)) goto done;
      out = CopyMatchExact(out, dest, dist, len);
#undef FA2_BYTE
#undef FA2_BITS
#undef FA2_BIT
    }
  }
#undef FA2_SKIP
#undef FA2_MERGE

done:
  w.outPos = size_t(out - dest);
  w.inPos = size_t(in - src);
  w.bits = buf;
  w.left = left;
  return result;
}

} // namespace

void DecompressStream(uint8_t* dest, const uint8_t* src) {
  DecodeWindows w{dest, 0, 0, true, src, 0, 0, true, 0, 0};
  Decode<false>(w);
}

int DecompressStreamBounded(uint8_t* dest, size_t destSize, const uint8_t* src, size_t srcSize, size_t* produced) {
  DecodeWindows w{dest, 0, destSize, true, src, 0, srcSize, true, 0, 0};
  const DecodeStatus result = DecodeStreamPiece(w);
  if (produced) *produced = w.outPos;
  return result == DecodeStatus::Done;
}

// One copy of the bounded decoder serves both forms.
[[gnu::noinline]] DecodeStatus DecodeStreamPiece(DecodeWindows& w) { return DecodeStatus(Decode<true>(w)); }
