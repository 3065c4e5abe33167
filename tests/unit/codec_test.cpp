// Stream decoder (both forms) and the encoder of the tools.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "unit/piecewise_decode.h"
#include "codec/encoder.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes FromString(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Assembles a stream code by code, placing control words where the decoder
// looks for them, and keeps the output the stream should decode to (each
// copy done byte by byte, the defining form).
class StreamBuilder {
public:
  // Raw control bits, most significant first.
  StreamBuilder& Bits(uint32_t v, int count) {
    for (int i = count - 1; i >= 0; --i) {
      if (used_ == 32) {
        word_ = stream.size();
        stream.resize(stream.size() + 4, 0);
        used_ = 0;
      }
      const int index = 31 - used_++;
      if (v >> i & 1) stream[word_ + index / 8] |= uint8_t(1u << (index % 8));
    }
    return *this;
  }
  StreamBuilder& Byte(uint8_t b) {
    stream.push_back(b);
    return *this;
  }
  StreamBuilder& Literal(uint8_t b) {
    expected.push_back(b);
    return Bits(1, 1).Byte(b);
  }
  StreamBuilder& Literals(const Bytes& bytes) {
    for (uint8_t b : bytes) Literal(b);
    return *this;
  }
  StreamBuilder& Literals(const std::string& s) { return Literals(FromString(s)); }
  StreamBuilder& Pair(size_t dist) {
    Copy(dist, 2);
    const uint32_t v = uint32_t(dist - 1);
    if (v < 256) return Bits(2, 3).Byte(uint8_t(v));
    return Bits(3, 3).Byte(uint8_t((v - 256) >> 3)).Bits((v - 256) & 7, 3);
  }
  StreamBuilder& Match(size_t len, size_t dist) {
    Copy(dist, len);
    return MatchCode(len, dist);
  }
  // The code alone, for distances the output cannot serve.
  StreamBuilder& MatchCode(size_t len, size_t dist) {
    // Offset classes: selector bits (count, value), low bits, base of v.
    struct Class {
      int selCount;
      uint32_t sel;
      int low;
      uint32_t base;
    };
    static const Class kClasses[] = {{1, 1, 1, 0}, {2, 1, 1, 512}, {3, 1, 2, 1024}, {4, 1, 3, 2048}, {4, 0, 4, 4096}};
    const uint32_t v = uint32_t(dist - 1);
    int c = 4;
    while (c > 0 && v < kClasses[c].base) --c;
    const Class& k = kClasses[c];
    const uint32_t rest = v - k.base;
    Bits(0, 2).Bits(k.sel, k.selCount).Byte(uint8_t(rest >> k.low)).Bits(rest & ((1u << k.low) - 1), k.low);
    if (len == 3) return Bits(1, 1);
    if (len == 4) return Bits(1, 2);
    if (len <= 6) return Bits(1, 3).Bits(uint32_t(len - 5), 1);
    if (len <= 10) return Bits(1, 4).Bits(uint32_t(len - 7), 2);
    if (len <= 26) return Bits(1, 5).Bits(uint32_t(len - 11), 4);
    return Bits(0, 5).Byte(uint8_t(len - 27));
  }
  StreamBuilder& End() { return Bits(3, 3).Byte(0xFF).Bits(7, 3); }

  Bytes stream;
  Bytes expected;

private:
  void Copy(size_t dist, size_t len) {
    for (size_t i = 0; i < len; ++i) expected.push_back(expected[expected.size() - dist]);
  }
  size_t word_ = 0;
  int used_ = 32;
};

// A heap block of exactly the given bytes, so that the address sanitizer sees
// any read past the end.
std::unique_ptr<uint8_t[]> ExactCopy(const Bytes& bytes, size_t count) {
  std::unique_ptr<uint8_t[]> copy(new uint8_t[count == 0 ? 1 : count]);
  if (count) std::memcpy(copy.get(), bytes.data(), count);
  return copy;
}

constexpr size_t kGuard = 16;
constexpr uint8_t kGuardByte = 0xA5;

// Decodes `stream` with the trusted decoder into a guarded buffer and with the
// bounded decoder from an exact-size copy; both must agree and the guard
// bytes must survive. Returns the decoded bytes.
// Output room and input window sizes for decoding in pieces: the smallest
// the decoder takes, odd ones, and the member reader's.
constexpr std::pair<size_t, size_t> kPieceWindows[] = {
    {kDecodeOutSlack + 1, kDecodeInSlack + 1}, {1000, 97}, {kMemberPieceSize, kMemberStoredPieceSize}};

Bytes DecodeBoth(const Bytes& stream, size_t size) {
  auto source = ExactCopy(stream, stream.size());
  Bytes trusted(size + 2 * kGuard, kGuardByte);
  DecompressStream(trusted.data() + kGuard, source.get());
  for (size_t i = 0; i < kGuard; ++i) {
    EXPECT_EQ(trusted[i], kGuardByte) << "before the output, byte " << i;
    EXPECT_EQ(trusted[kGuard + size + i], kGuardByte) << "after the output, byte " << i;
  }
  Bytes decoded(trusted.begin() + kGuard, trusted.begin() + kGuard + size);

  // The bounded decoder writes whole groups past a copy while it is far from
  // the end; none may land past the destination.
  constexpr size_t kWideGuard = 512;
  Bytes bounded(size + kWideGuard, kGuardByte);
  size_t produced = ~size_t(0);
  EXPECT_EQ(DecompressStreamBounded(bounded.data(), size, source.get(), stream.size(), &produced), 1);
  EXPECT_EQ(produced, size);
  for (size_t i = size; i < bounded.size(); ++i)
    EXPECT_EQ(bounded[i], kGuardByte) << "bounded decoder wrote past the output, byte " << i - size;
  bounded.resize(size);
  EXPECT_TRUE(bounded == decoded) << "the bounded decoder disagrees with the trusted one";
  for (const auto& [outRoom, inRoom] : kPieceWindows) {
    Bytes pieces;
    EXPECT_EQ(DecodeInPieces(stream.data(), stream.size(), size, outRoom, inRoom, &pieces), 1) << outRoom;
    EXPECT_TRUE(pieces == decoded) << "decoding in pieces of " << outRoom << " disagrees";
  }
  return decoded;
}

Bytes DecodeBoth(const StreamBuilder& b) { return DecodeBoth(b.stream, b.expected.size()); }

// Bounded decode from an exact-size copy of the first `srcSize` bytes into an
// exact-size destination.
// Decoding the same in pieces must give the same verdict and count.
int Bounded(const Bytes& stream, size_t srcSize, size_t destSize, size_t* produced) {
  auto source = ExactCopy(stream, srcSize);
  std::unique_ptr<uint8_t[]> dest(new uint8_t[destSize == 0 ? 1 : destSize]);
  size_t count = 0;
  const int ok = DecompressStreamBounded(dest.get(), destSize, source.get(), srcSize, &count);
  for (const auto& [outRoom, inRoom] : kPieceWindows) {
    Bytes pieces;
    EXPECT_EQ(DecodeInPieces(source.get(), srcSize, destSize, outRoom, inRoom, &pieces), ok) << outRoom;
    EXPECT_EQ(pieces.size(), count) << outRoom;
  }
  if (produced) *produced = count;
  return ok;
}

Bytes RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out(n);
  for (auto& b : out) b = uint8_t(rng() >> 24);
  return out;
}

// Word salad: repetitive like text, with matches of every length and distance.
Bytes Text(size_t n, uint32_t seed) {
  static const char* const kWords[] = {
      "the",     "update",  "archive",   "member",     "of",        "a",       "game",    "file",   "folder",
      "disc",    "install", "setup",     "is",         "to",        "and",     "with",    "copy",   "newer",
      "version", "data",    "registry",  "key",        "value",     "Windows", "program", "wizard", "next",
      "back",    "abort",   "directory", "compressed", "scrambled", "stream",  "control", "word",   "literal"};
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < n) {
    s += kWords[rng() % std::size(kWords)];
    const uint32_t r = rng() % 16;
    s += r == 0 ? ".\r\n" : r == 1 ? ", " : " ";
  }
  s.resize(n);
  return FromString(s);
}

// ---- Stream format -----------------------------------------------------------------

TEST(StreamFormat, WorkedExampleDecodesToAbcabcabc) {
  const Bytes stream = {0x00, 0x80, 0x6F, 0xE4, 0x61, 0x62, 0x63, 0x01, 0xFF};
  EXPECT_EQ(DecodeBoth(stream, 9), FromString("abcabcabc"));

  StreamBuilder b;
  b.Literals("abc").Match(6, 3).End();
  EXPECT_EQ(b.stream, stream) << "the test's stream builder must agree with the format";
}

TEST(StreamFormat, EndCodeAloneDecodesToNothing) {
  const Bytes stream = {0x00, 0x00, 0x00, 0x7C, 0xFF};
  EXPECT_EQ(DecodeBoth(stream, 0), Bytes());
  EXPECT_EQ(StreamBuilder().End().stream, stream);
}

// ---- Control word placement ---------------------------------------------------------

TEST(ControlWordPlacement, SecondWordFollowsThe32LiteralsOfTheFirst) {
  Bytes stream = {0xFF, 0xFF, 0xFF, 0xFF};
  Bytes literals;
  for (int i = 0; i < 32; ++i) literals.push_back(uint8_t('A' + i));
  stream.insert(stream.end(), literals.begin(), literals.end());
  // Offset 36: end code bits 0 1 1, its byte, then 1 1 1.
  stream.insert(stream.end(), {0x00, 0x00, 0x00, 0x7C, 0xFF});
  EXPECT_EQ(DecodeBoth(stream, 32), literals);

  StreamBuilder b;
  b.Literals(literals).End();
  EXPECT_EQ(b.stream, stream);
}

TEST(ControlWordPlacement, LiteralOpeningANewWordFollowsThatWord) {
  Bytes stream = {0xFF, 0xFF, 0xFF, 0xFF};
  Bytes literals(32, 'x');
  stream.insert(stream.end(), literals.begin(), literals.end());
  // Bits 1, then end code 0 1 1 .. 1 1 1: 1011 1110 = 0xBE000000.
  stream.insert(stream.end(), {0x00, 0x00, 0x00, 0xBE, 'Z', 0xFF});
  literals.push_back('Z');
  EXPECT_EQ(DecodeBoth(stream, 33), literals);
}

TEST(ControlWordPlacement, ByteNeededAfterTheLastBitPrecedesTheNextWord) {
  // 29 literals, then 0 1 0 takes bits 30..32; its byte is read before any
  // further bit is needed, so it stands in front of the second control word.
  Bytes stream = {0xFA, 0xFF, 0xFF, 0xFF}; // 29 ones, then 0 1 0
  Bytes out;
  for (int i = 0; i < 29; ++i) out.push_back(uint8_t(i));
  stream.insert(stream.end(), out.begin(), out.end());
  stream.push_back(0x04); // two-byte match, distance 5
  stream.insert(stream.end(), {0x00, 0x00, 0x00, 0x7C, 0xFF});
  out.push_back(24);
  out.push_back(25);
  EXPECT_EQ(DecodeBoth(stream, 31), out);

  StreamBuilder b;
  b.Literals(Bytes(out.begin(), out.begin() + 29)).Pair(5).End();
  EXPECT_EQ(b.stream, stream);
}

TEST(ControlWordPlacement, CodeSplitAcrossWordsReadsTheNewWordFirst) {
  // 31 literals and the first 0 of 0 1 0; the 1 0 open the second word, so
  // the match's byte comes after that word.
  Bytes stream = {0xFE, 0xFF, 0xFF, 0xFF};
  Bytes out;
  for (int i = 0; i < 31; ++i) out.push_back(uint8_t(100 + i));
  stream.insert(stream.end(), out.begin(), out.end());
  // Second word: 1 0, then end code 0 1 1 / 1 1 1: 1001 1111 = 0x9F000000.
  stream.insert(stream.end(), {0x00, 0x00, 0x00, 0x9F, 0x00, 0xFF});
  out.push_back(130);
  out.push_back(130);
  EXPECT_EQ(DecodeBoth(stream, 33), out);

  StreamBuilder b;
  b.Literals(Bytes(out.begin(), out.begin() + 31)).Pair(1).End();
  EXPECT_EQ(b.stream, stream);
}

TEST(ControlWordPlacement, TrailingBitsSplitAcrossWords) {
  // Every code shifted through every bit position of the control word.
  for (int shift = 0; shift < 32; ++shift) {
    StreamBuilder b;
    b.Literals(RandomBytes(8200, 7)).Literals(Bytes(size_t(shift), 'q'));
    b.Pair(300).Match(5, 4096).Match(282, 8192).Match(26, 2049).Match(10, 1025).Pair(2303);
    b.Literal('e').End();
    EXPECT_TRUE(DecodeBoth(b) == b.expected) << "shift " << shift;
  }
}

// ---- Match copies --------------------------------------------------------------------

TEST(MatchCopies, ShortDistancesRepeatAPattern) {
  StreamBuilder d1, d2, d3, pair;
  d1.Literals("A").Match(10, 1).End();
  d2.Literals("AB").Match(5, 2).End();
  d3.Literals("ABC").Match(7, 3).End();
  pair.Literals("A").Pair(1).End();
  EXPECT_EQ(DecodeBoth(d1), FromString("AAAAAAAAAAA"));
  EXPECT_EQ(DecodeBoth(d2), FromString("ABABABA"));
  EXPECT_EQ(DecodeBoth(d3), FromString("ABCABCABCA"));
  EXPECT_EQ(DecodeBoth(pair), FromString("AAA"));
}

TEST(MatchCopies, EveryDistanceUpToSixteenWithEveryTail) {
  for (size_t dist = 1; dist <= 16; ++dist) {
    for (size_t len = 3; len <= 40; ++len) {
      StreamBuilder b;
      b.Literals("0123456789abcdef").Match(len, dist).Literal('!').End();
      EXPECT_EQ(DecodeBoth(b), b.expected) << "distance " << dist << ", length " << len;
    }
  }
}

// Copies far from both ends of the output (the bounded decoder then moves
// whole 8-, 16- or 32-byte groups and may write past the copy) and the same
// copies as the last code of the output (where it must write exactly), at
// every distance around the group widths and every length to 48, then a few
// long ones. Each copy reads bytes the one before it has just written.
TEST(MatchCopies, DistancesAroundTheGroupWidthsFarFromAndAtTheEnd) {
  const Bytes head = RandomBytes(700, 31);
  const Bytes tail = RandomBytes(500, 32);
  std::vector<size_t> lengths;
  for (size_t len = 2; len <= 48; ++len) lengths.push_back(len);
  for (size_t len : {63, 64, 65, 95, 96, 97, 127, 200, 281, 282}) lengths.push_back(len);
  for (size_t dist = 1; dist <= 70; ++dist) {
    StreamBuilder far;
    far.Literals(head);
    for (size_t len : lengths) {
      if (len == 2 && dist <= 256)
        far.Pair(dist);
      else if (len > 2)
        far.Match(len, dist);
      far.Literal(uint8_t(len));
    }
    far.Literals(tail).End();
    EXPECT_EQ(DecodeBoth(far), far.expected) << "distance " << dist;
    for (size_t len : lengths) {
      if (len == 2) continue;
      StreamBuilder atEnd;
      atEnd.Literals(head).Match(len, dist).End();
      EXPECT_EQ(DecodeBoth(atEnd), atEnd.expected) << "distance " << dist << ", length " << len;
    }
  }
}

TEST(MatchCopies, ShortDistancesRightAtTheStartOfTheOutput) {
  // Fewer than 8 bytes written: no 8-byte pattern can be read back yet. The
  // literals after the copy put the bounded decoder on its fast path too.
  const Bytes tail = RandomBytes(600, 21);
  for (size_t dist = 1; dist <= 16; ++dist) {
    for (size_t len = 3; len <= 282; len += len < 40 ? 1 : 13) {
      StreamBuilder b;
      b.Literals(Bytes(tail.begin(), tail.begin() + dist)).Match(len, dist);
      StreamBuilder withTail = b;
      b.End();
      withTail.Literals(tail).End();
      EXPECT_EQ(DecodeBoth(b), b.expected) << "distance " << dist << ", length " << len;
      EXPECT_EQ(DecodeBoth(withTail), withTail.expected) << "distance " << dist << ", length " << len;
    }
  }
}

// A long stream of random codes: literal runs, two-byte matches and matches of
// every distance class and length, so that every code meets the decoders'
// wide copies at every bit position, far from the ends and near them.
StreamBuilder RandomCodes(size_t outputSize, uint32_t seed) {
  std::mt19937 rng(seed);
  StreamBuilder b;
  b.Literal(uint8_t(rng()));
  while (b.expected.size() < outputSize) {
    const size_t written = b.expected.size();
    const uint32_t kind = rng() % 8;
    if (kind < 2) {
      for (size_t n = 1 + rng() % 40; n > 0; --n) b.Literal(uint8_t(rng() >> 24));
    } else if (kind == 2) {
      b.Pair(1 + rng() % std::min<size_t>(written, 2303));
    } else if (kind == 3) {
      b.Match(3 + rng() % 40, 1 + rng() % std::min<size_t>(written, 16));
    } else {
      const size_t len = rng() % 4 == 0 ? 3 + rng() % 280 : 3 + rng() % 12;
      const size_t reach = rng() % 2 ? 600 : 8192;
      b.Match(len, 1 + rng() % std::min(written, reach));
    }
  }
  return b;
}

TEST(MatchCopies, RandomCodesDecodeAsByteByByteCopies) {
  for (uint32_t seed = 1; seed <= 12; ++seed) {
    StreamBuilder b = RandomCodes(seed % 3 == 0 ? 2000 : 120000, seed);
    b.End();
    EXPECT_TRUE(DecodeBoth(b) == b.expected) << "seed " << seed;
  }
}

// ---- Code fields ---------------------------------------------------------------------

TEST(MatchCodes, PairLongFormWithZeroFieldsIsDistance257) {
  StreamBuilder b;
  const Bytes prefix = RandomBytes(257, 1);
  b.Literals(prefix).Bits(3, 3).Byte(0).Bits(0, 3).End();
  Bytes want = prefix;
  want.push_back(prefix[0]);
  want.push_back(prefix[1]);
  EXPECT_TRUE(DecodeBoth(b.stream, 259) == want);
}

TEST(MatchCodes, PairLongFormReachesDistance2303) {
  StreamBuilder b;
  const Bytes prefix = RandomBytes(2303, 2);
  b.Literals(prefix).Bits(3, 3).Byte(0xFF).Bits(6, 3).End();
  Bytes want = prefix;
  want.push_back(prefix[0]);
  want.push_back(prefix[1]);
  EXPECT_TRUE(DecodeBoth(b.stream, 2305) == want);
}

TEST(MatchCodes, LargestOffsetAndLengthFields) {
  // Offset 0 0 0 0, B = 255, xxxx = 15; length 0 0 0 0 0, B = 255.
  StreamBuilder b;
  const Bytes prefix = RandomBytes(8192, 3);
  b.Literals(prefix).Bits(0, 2).Bits(0, 4).Byte(0xFF).Bits(15, 4).Bits(0, 5).Byte(0xFF).End();
  Bytes want = prefix;
  want.insert(want.end(), prefix.begin(), prefix.begin() + 282);
  EXPECT_TRUE(DecodeBoth(b.stream, 8192 + 282) == want);
}

TEST(MatchCodes, EveryOffsetAndLengthClassBoundary) {
  const Bytes prefix = RandomBytes(8192, 4);
  for (size_t dist : {1, 2, 511, 512, 513, 1024, 1025, 2048, 2049, 4096, 4097, 8191, 8192}) {
    for (size_t len : {3, 4, 5, 6, 7, 10, 11, 26, 27, 28, 281, 282}) {
      StreamBuilder b;
      b.Literals(prefix).Match(len, dist).End();
      EXPECT_TRUE(DecodeBoth(b) == b.expected) << "distance " << dist << ", length " << len;
    }
  }
  for (size_t dist : {1, 2, 255, 256, 257, 258, 2302, 2303}) {
    StreamBuilder b;
    b.Literals(Bytes(prefix.begin(), prefix.begin() + 2303)).Pair(dist).End();
    EXPECT_TRUE(DecodeBoth(b) == b.expected) << "two-byte match, distance " << dist;
  }
}

// ---- Bounded decoder faults ---------------------------------------------------------

// A stream with every kind of code, and an encoded one.
std::vector<StreamBuilder> FaultSamples() {
  std::vector<StreamBuilder> samples(2);
  samples[0].Literals(RandomBytes(8200, 5)).Pair(3).Pair(500).Match(3, 1).Match(30, 513);
  samples[0].Match(300 - 27, 2000).Match(11, 4000).Literal(9).Match(282, 8192).End();
  const Bytes text = Text(3000, 6);
  samples[1].stream = CompressStream(text.data(), text.size());
  samples[1].expected = text;
  return samples;
}

TEST(BoundedDecoder, RejectsEveryTruncation) {
  for (const StreamBuilder& s : FaultSamples()) {
    const size_t size = s.expected.size();
    ASSERT_TRUE(DecodeBoth(s) == s.expected);
    for (size_t cut = 0; cut < s.stream.size(); ++cut) {
      size_t produced = ~size_t(0);
      EXPECT_EQ(Bounded(s.stream, cut, size, &produced), 0) << "cut at " << cut;
      EXPECT_LE(produced, size);
    }
  }
}

TEST(BoundedDecoder, RejectsCopiesFromBeforeTheOutput) {
  StreamBuilder atStart, match, pair, longPair, longMatch;
  atStart.Bits(0, 2).Bits(1, 1).Byte(0).Bits(0, 1).Bits(1, 1).End();             // distance 1, nothing written
  match.Literals("A").Bits(0, 2).Bits(1, 1).Byte(0).Bits(1, 1).Bits(1, 1).End(); // distance 2
  pair.Literals("A").Bits(2, 3).Byte(1).End();                                   // distance 2
  longPair.Literals(RandomBytes(256, 8)).Bits(3, 3).Byte(0).Bits(0, 3).End();    // distance 257
  longMatch.Literals(RandomBytes(8191, 9)).Bits(0, 2).Bits(0, 4).Byte(0xFF).Bits(15, 4).Bits(1, 1).End();
  const std::pair<const StreamBuilder*, size_t> cases[] = {
      {&atStart, 0}, {&match, 1}, {&pair, 1}, {&longPair, 256}, {&longMatch, 8191}};
  for (const auto& [b, written] : cases) {
    for (size_t destSize : {written, written + 2, written + 3}) {
      size_t produced = ~size_t(0);
      EXPECT_EQ(Bounded(b->stream, b->stream.size(), destSize, &produced), 0) << written;
      EXPECT_EQ(produced, written);
    }
  }
}

TEST(BoundedDecoder, RequiresExactlyTheDestinationSize) {
  for (const StreamBuilder& s : FaultSamples()) {
    const size_t size = s.expected.size();
    size_t produced = ~size_t(0);
    EXPECT_EQ(Bounded(s.stream, s.stream.size(), size + 1, &produced), 0);
    EXPECT_EQ(produced, size);
    for (size_t destSize : {size_t(0), size_t(1), size / 2, size - 2, size - 1}) {
      produced = ~size_t(0);
      EXPECT_EQ(Bounded(s.stream, s.stream.size(), destSize, &produced), 0) << destSize;
      EXPECT_LE(produced, destSize);
    }
  }
  // A match running past the end is refused before it writes anything.
  StreamBuilder b;
  b.Literals("A").Match(10, 1).End();
  Bytes dest(8, 0);
  size_t produced = 0;
  EXPECT_EQ(DecompressStreamBounded(dest.data(), 5, b.stream.data(), b.stream.size(), &produced), 0);
  EXPECT_EQ(produced, 1u);
  EXPECT_EQ(dest, Bytes({'A', 0, 0, 0, 0, 0, 0, 0}));
}

TEST(BoundedDecoder, RejectsCopiesFromBeforeTheOutputFarFromTheEnds) {
  const Bytes head = RandomBytes(1000, 22);
  const Bytes tail = RandomBytes(3000, 23);
  for (size_t dist : {1000, 1001, 1024, 4000}) {
    StreamBuilder b;
    b.Literals(head).MatchCode(10, dist).Literals(tail).End();
    size_t produced = ~size_t(0);
    const int ok = Bounded(b.stream, b.stream.size(), head.size() + 10 + tail.size(), &produced);
    EXPECT_EQ(ok, dist <= head.size() ? 1 : 0) << "distance " << dist;
    EXPECT_EQ(produced, dist <= head.size() ? head.size() + 10 + tail.size() : head.size());
  }
}

TEST(BoundedDecoder, RandomStreamsCutAnywhereAreRefused) {
  StreamBuilder b = RandomCodes(20000, 24);
  b.End();
  for (size_t cut = 0; cut < b.stream.size(); cut += 1 + cut % 97) {
    size_t produced = ~size_t(0);
    EXPECT_EQ(Bounded(b.stream, cut, b.expected.size(), &produced), 0) << "cut at " << cut;
    EXPECT_LE(produced, b.expected.size());
  }
}

TEST(BoundedDecoder, InputEdges) {
  const Bytes endOnly = {0x00, 0x00, 0x00, 0x7C, 0xFF};
  uint8_t dest[1];
  size_t produced = ~size_t(0);
  EXPECT_EQ(DecompressStreamBounded(dest, 0, nullptr, 0, &produced), 0);
  EXPECT_EQ(produced, 0u);
  EXPECT_EQ(DecompressStreamBounded(dest, 0, endOnly.data(), endOnly.size(), nullptr), 1);
  // Bytes after the end code are not looked at.
  Bytes padded = endOnly;
  padded.insert(padded.end(), 11, 0xEE);
  EXPECT_EQ(DecompressStreamBounded(dest, 0, padded.data(), padded.size(), &produced), 1);
  EXPECT_EQ(produced, 0u);
}

// ---- Encoder -------------------------------------------------------------------------

// Encodes, checks the size bound and decodes with both decoders; returns the
// compressed size.
size_t RoundTrip(const Bytes& data, int level) {
  const Bytes stream = CompressStream(data.data(), data.size(), level);
  EXPECT_LE(stream.size(), MaxCompressedSize(data.size()));
  EXPECT_TRUE(DecodeBoth(stream, data.size()) == data) << "level " << level << ", " << data.size() << " bytes";
  return stream.size();
}

constexpr int kLevels[] = {kCompressFast, kCompressDefault, kCompressBest};

TEST(EncoderRoundTrip, EmptyAndTinyInputs) {
  for (int level : kLevels) {
    EXPECT_EQ(CompressStream(nullptr, 0, level), Bytes({0x00, 0x00, 0x00, 0x7C, 0xFF}));
    for (const Bytes& data : {Bytes{0}, Bytes{0xFF}, Bytes{1, 1}, Bytes{1, 2}, Bytes{7, 7, 7}, Bytes{1, 2, 1, 2},
                              Bytes{1, 2, 3, 1, 2, 3}, Bytes(33, 'z')})
      RoundTrip(data, level);
  }
}

TEST(EncoderRoundTrip, RandomDataStaysWithinTheBound) {
  for (int level : kLevels)
    for (size_t size : {100, 4096, 70000}) RoundTrip(RandomBytes(size, uint32_t(size)), level);
}

TEST(EncoderRoundTrip, RunsOfEveryLength) {
  Bytes data;
  std::mt19937 rng(11);
  for (size_t len = 1; len <= 600; len += 1 + len / 16) data.insert(data.end(), len, uint8_t(rng()));
  for (int level : kLevels) RoundTrip(data, level);
}

TEST(EncoderRoundTrip, EveryMatchLengthAroundTheCodeLimits) {
  const Bytes source = RandomBytes(1000, 12);
  for (size_t len = 2; len <= 600; ++len) {
    Bytes data(source.begin(), source.begin() + 700);
    data.insert(data.end(), source.begin() + 50, source.begin() + 50 + std::min<size_t>(len, 650));
    data.insert(data.end(), source.begin() + 900, source.end());
    for (int level : kLevels) RoundTrip(data, level);
  }
}

TEST(EncoderRoundTrip, TextCompressesAndHigherLevelsDoNoWorse) {
  const Bytes text = Text(200000, 13);
  const size_t fast = RoundTrip(text, kCompressFast);
  const size_t lazy = RoundTrip(text, kCompressDefault);
  const size_t best = RoundTrip(text, kCompressBest);
  EXPECT_LT(fast, text.size() / 2);
  EXPECT_LE(lazy, fast);
  EXPECT_LE(best, lazy + 4); // fewer bits; whole control words may round up
}

TEST(EncoderRoundTrip, LargeInputs) {
  Bytes mixed = Text(400000, 14);
  const Bytes noise = RandomBytes(300000, 15);
  mixed.insert(mixed.end(), noise.begin(), noise.end());
  mixed.insert(mixed.end(), 200000, 0);
  mixed.resize(1 << 20, 'x');
  for (int level : kLevels) RoundTrip(mixed, level);

  const Bytes zeros(1 << 20, 0);
  EXPECT_LT(RoundTrip(zeros, kCompressFast), 16384u); // 282-byte matches of 25 bits
}

// Data whose second part repeats the first `dist` bytes back: whole blocks
// when `pairs` is false, else two bytes out of every three (the third is
// fresh), so that only two-byte matches fit.
Bytes RepeatAtDistance(size_t dist, size_t repeated, bool pairs, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes data = RandomBytes(dist, seed);
  for (size_t i = 0; i < repeated; ++i) {
    uint8_t b = data[data.size() - dist];
    if (pairs && i % 3 == 2)
      while (b == data[data.size() - dist]) b = uint8_t(rng() >> 24);
    data.push_back(b);
  }
  return data;
}

TEST(EncoderLimits, MatchesReach8192Back) {
  for (int level : kLevels) {
    const size_t inside = RoundTrip(RepeatAtDistance(8192, 1000, false, 16), level);
    const size_t outside = RoundTrip(RepeatAtDistance(8193, 1000, false, 16), level);
    EXPECT_LT(inside + 900, outside) << "level " << level;
  }
}

// Level 1 looks for matches of 4 bytes and more only.
TEST(EncoderLimits, TwoByteMatchesReach2303BackAndPreferTheShortCode) {
  for (int level : {kCompressDefault, kCompressBest}) {
    const size_t near = RoundTrip(RepeatAtDistance(256, 3000, true, 17), level);
    const size_t far = RoundTrip(RepeatAtDistance(257, 3000, true, 17), level);
    const size_t last = RoundTrip(RepeatAtDistance(2303, 3000, true, 18), level);
    const size_t beyond = RoundTrip(RepeatAtDistance(2304, 3000, true, 18), level);
    // 1000 pairs: 11 bits each near, 14 far, 18 (two literals) beyond reach.
    EXPECT_LT(near + 250, far) << "level " << level;
    EXPECT_LT(last + 350, beyond) << "level " << level;
  }
}

// ---- Optimal parse ---------------------------------------------------------------------

// Code sizes from the format's tables: an offset code is its selector bits,
// one data byte and its low bits; a length code its prefix and extra bits.
size_t OffsetCodeBits(size_t dist) {
  const size_t v = dist - 1;
  if (v < 512) return 1 + 8 + 1;
  if (v < 1024) return 2 + 8 + 1;
  if (v < 2048) return 3 + 8 + 2;
  if (v < 4096) return 4 + 8 + 3;
  return 4 + 8 + 4;
}
size_t LengthCodeBits(size_t len) {
  if (len == 3) return 1;
  if (len == 4) return 2;
  if (len <= 6) return 3 + 1;
  if (len <= 10) return 4 + 2;
  if (len <= 26) return 5 + 4;
  return 5 + 8;
}
constexpr size_t kEndCodeBits = 3 + 8 + 3;

// The code bits of a stream: the control bits its codes take and 8 for each
// data byte, up to and including the end code (the unused bits of the last
// control word are not counted). Walks the stream as a decoder would.
size_t CodeBits(const Bytes& stream) {
  size_t pos = 0, bits = 0;
  uint32_t word = 0;
  int left = 0;
  auto bit = [&]() -> uint32_t {
    if (left == 0) {
      word = uint32_t(stream.at(pos)) | uint32_t(stream.at(pos + 1)) << 8 | uint32_t(stream.at(pos + 2)) << 16 |
             uint32_t(stream.at(pos + 3)) << 24;
      pos += 4;
      left = 32;
    }
    ++bits;
    return word >> --left & 1;
  };
  auto take = [&](int n) {
    uint32_t v = 0;
    while (n-- > 0) v = v << 1 | bit();
    return v;
  };
  auto byte = [&]() -> uint32_t {
    bits += 8;
    return stream.at(pos++);
  };
  for (;;) {
    if (bit()) {
      byte();
    } else if (bit()) {
      const uint32_t wide = bit();
      const uint32_t b = byte();
      if (wide && take(3) == 7 && b == 255) return bits;
    } else {
      int cls = 0;
      while (cls < 4 && !bit()) ++cls;
      byte();
      take(cls < 2 ? 1 : cls);
      int zeros = 0;
      while (zeros < 5 && !bit()) ++zeros;
      if (zeros == 5)
        byte();
      else
        take(zeros < 2 ? 0 : zeros == 4 ? 4 : zeros - 1);
    }
  }
}

// The fewest code bits of any stream for `data`: a shortest path in which
// every position offers every code the format has there (a literal, a
// two-byte match at every distance that fits, a match of every length at
// every distance), so nothing is taken on trust from the encoder's finder.
size_t ExhaustiveMinBits(const Bytes& data) {
  const size_t n = data.size();
  std::vector<size_t> best(n + 1, ~size_t(0));
  best[0] = 0;
  auto relax = [&](size_t to, size_t c) { best[to] = std::min(best[to], c); };
  for (size_t i = 0; i < n; ++i) {
    relax(i + 1, best[i] + 9);
    for (size_t dist = 1; dist <= std::min<size_t>(i, 8192); ++dist) {
      size_t len = 0;
      while (i + len < n && len < 282 && data[i + len] == data[i + len - dist]) ++len;
      if (len >= 2 && dist <= 2303) relax(i + 2, best[i] + 3 + 8 + (dist <= 256 ? 0 : 3));
      for (size_t l = 3; l <= len; ++l) relax(i + l, best[i] + 2 + OffsetCodeBits(dist) + LengthCodeBits(l));
    }
  }
  return best[n] + kEndCodeBits;
}

// Every parse of a tiny input, tried one by one.
size_t EnumerateMinBits(const Bytes& data, size_t i = 0) {
  if (i == data.size()) return kEndCodeBits;
  size_t best = 9 + EnumerateMinBits(data, i + 1);
  for (size_t dist = 1; dist <= i; ++dist) {
    size_t len = 0;
    while (i + len < data.size() && data[i + len] == data[i + len - dist]) ++len;
    if (len >= 2) best = std::min(best, 11 + EnumerateMinBits(data, i + 2));
    for (size_t l = 3; l <= len; ++l)
      best = std::min(best, 2 + OffsetCodeBits(dist) + LengthCodeBits(l) + EnumerateMinBits(data, i + l));
  }
  return best;
}

// Inputs full of matches: a small alphabet, runs, and copies of earlier
// stretches (some altered) from every distance class the size allows.
Bytes Structured(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  const uint32_t alphabet = 2 + rng() % 7;
  Bytes d;
  while (d.size() < n) {
    const uint32_t kind = rng() % 5;
    if (kind == 0 || d.size() < 4) {
      for (size_t k = 1 + rng() % 12; k > 0; --k) d.push_back(uint8_t('a' + rng() % alphabet));
    } else if (kind == 1) {
      d.insert(d.end(), 1 + rng() % 40, uint8_t(rng()));
    } else {
      const size_t dist = 1 + rng() % std::min<size_t>(d.size(), rng() % 2 ? 300 : 9000);
      for (size_t k = 2 + rng() % (rng() % 4 ? 12 : 300); k > 0; --k) d.push_back(d[d.size() - dist]);
      if (rng() % 3 == 0) d.back() ^= 1;
    }
  }
  d.resize(n);
  return d;
}

TEST(OptimalParse, TheReferenceAgreesWithEveryParseOfTinyInputs) {
  for (uint32_t seed = 0; seed < 60; ++seed) {
    const Bytes d = Structured(1 + seed % 11, seed);
    EXPECT_EQ(ExhaustiveMinBits(d), EnumerateMinBits(d)) << "seed " << seed;
  }
}

TEST(OptimalParse, BestLevelHasTheFewestBitsOfAnyStream) {
  for (uint32_t seed = 0; seed < 300; ++seed) {
    const size_t n = seed < 250 ? 1 + seed * 3 % 700 : 2000 + seed * 37 % 3000;
    const Bytes d = Structured(n, 1000 + seed);
    const Bytes stream = CompressStream(d.data(), d.size(), kCompressBest);
    ASSERT_TRUE(DecodeBoth(stream, d.size()) == d) << "seed " << seed;
    ASSERT_EQ(CodeBits(stream), ExhaustiveMinBits(d)) << "seed " << seed << ", " << n << " bytes";
  }
}

TEST(OptimalParse, FarDistancesAndTheWholeWindow) {
  // Distances up to 8192 and two-byte matches up to 2303 back, over random
  // bytes whose only long matches are the copies.
  for (uint32_t seed = 0; seed < 3; ++seed) {
    std::mt19937 rng(seed);
    Bytes d = RandomBytes(9000, 50 + seed);
    for (size_t at : {2000, 4100, 6000, 8500}) {
      const size_t dist = at - 1 - rng() % 300;
      for (size_t k = 0; k < 3 + rng() % 30; ++k) d[at + k] = d[at + k - std::min<size_t>(dist, 8192)];
    }
    const Bytes stream = CompressStream(d.data(), d.size(), kCompressBest);
    ASSERT_TRUE(DecodeBoth(stream, d.size()) == d);
    EXPECT_EQ(CodeBits(stream), ExhaustiveMinBits(d)) << "seed " << seed;
  }
}

TEST(OptimalParse, NeverMoreBitsThanTheOtherParses) {
  std::vector<Bytes> inputs = {Text(100000, 30), RandomBytes(50000, 31), Structured(60000, 32)};
  Bytes records;
  for (uint32_t i = 0; records.size() < 80000; ++i)
    for (uint32_t v : {i, i * 7, 0u, 0x00FF00FFu * (i % 5)})
      records.insert(records.end(), reinterpret_cast<uint8_t*>(&v), reinterpret_cast<uint8_t*>(&v) + 4);
  inputs.push_back(records);
  for (const Bytes& d : inputs) {
    const size_t best = CodeBits(CompressStream(d.data(), d.size(), kCompressBest));
    EXPECT_LE(best, CodeBits(CompressStreamGreedyReference(d.data(), d.size())));
    EXPECT_LE(best, CodeBits(CompressStream(d.data(), d.size(), kCompressDefault)));
    EXPECT_LE(best, CodeBits(CompressStream(d.data(), d.size(), kCompressFast)));
  }
}

TEST(OptimalParse, InputsLongerThanABlock) {
  // Two and a half blocks, with a long run and a repeated stretch across
  // each block boundary: the parse is cut there and must stay whole.
  Bytes d = Text(kOptimalBlock * 5 / 2, 33);
  for (size_t boundary = kOptimalBlock; boundary < d.size(); boundary += kOptimalBlock) {
    std::fill(d.begin() + boundary - 700, d.begin() + boundary + 600, uint8_t(0));
    std::copy(d.begin() + boundary - 5000, d.begin() + boundary - 4000, d.begin() + boundary + 1000);
  }
  const size_t best = CodeBits(CompressStream(d.data(), d.size(), kCompressBest));
  const Bytes greedy = CompressStreamGreedyReference(d.data(), d.size());
  ASSERT_TRUE(DecodeBoth(greedy, d.size()) == d);
  EXPECT_LE(best, CodeBits(greedy));
  for (int level : kLevels) RoundTrip(d, level);
}

TEST(OptimalParse, CodeBitsAndStreamSizeAgree) {
  // The stream is its code bits rounded up to whole control words.
  for (uint32_t seed = 0; seed < 20; ++seed) {
    const Bytes d = Structured(100 + seed * 50, 60 + seed);
    const Bytes stream = CompressStream(d.data(), d.size(), kCompressBest);
    const size_t bits = CodeBits(stream);
    EXPECT_GE(stream.size() * 8, bits);
    EXPECT_LT(stream.size() * 8, bits + 32);
  }
}

} // namespace
