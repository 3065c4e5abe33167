// Stream encoder: the inverse of archive/decompress.cpp, whose header
// describes the format.
//
// Matches are found with hash chains over 3-byte prefixes (window 8192) and a
// table of the last position of every 2-byte pair (two-byte matches reach
// 2303 back). Costs are exact: a code's size is its control bits plus eight
// per data byte, so every choice below compares real stream sizes.
//
// Control word placement mirrors the decoder: a new 4-byte word is reserved at
// the end of the output at the moment a bit no longer fits in the current one,
// and data bytes are appended in the order the decoder reads them.

#include "codec/encoder.h"

#include <algorithm>
#include <limits>

namespace {

constexpr size_t kMinMatch = 3;
constexpr size_t kMaxMatch = 282;
constexpr size_t kMaxDistance = 8192;     // matches of 3 bytes and more
constexpr size_t kMaxPairDistance = 2303; // two-byte matches; 2304 would be the end code

// ---- Code sizes in bits -----------------------------------------------------------

constexpr uint32_t kLiteralBits = 9;

uint32_t OffsetBits(size_t dist) {
  const size_t v = dist - 1;
  if (v < 512)
    return 10;
  if (v < 1024)
    return 11;
  if (v < 2048)
    return 13;
  if (v < 4096)
    return 15;
  return 16;
}

uint32_t LengthBits(size_t len) {
  if (len == 3)
    return 1;
  if (len == 4)
    return 2;
  if (len <= 6)
    return 4;
  if (len <= 10)
    return 6;
  if (len <= 26)
    return 9;
  return 13;
}

uint32_t PairBits(size_t dist) { return dist <= 256 ? 11 : 14; }

uint32_t MatchBits(size_t len, size_t dist) {
  return len == 2 ? PairBits(dist) : 2 + OffsetBits(dist) + LengthBits(len);
}

// ---- Stream writer ----------------------------------------------------------------

class StreamWriter {
public:
  explicit StreamWriter(std::vector<uint8_t>& out) : out_(out) {}

  void Literal(uint8_t b) {
    Bit(1);
    Byte(b);
  }

  // Two-byte match, distance 1..2303.
  void Pair(size_t dist) {
    size_t v = dist - 1;
    Bits(1, 2); // 0 1
    if (v < 256) {
      Bit(0);
      Byte(uint8_t(v));
    } else {
      v -= 256;
      Bit(1);
      Byte(uint8_t(v >> 3));
      Bits(uint32_t(v & 7), 3);
    }
  }

  // Match of 3..282 bytes, distance 1..8192.
  void Match(size_t len, size_t dist) {
    const size_t v = dist - 1;
    Bits(0, 2);
    if (v < 512) {
      Bit(1);
      Byte(uint8_t(v >> 1));
      Bits(uint32_t(v & 1), 1);
    } else if (v < 1024) {
      Bits(1, 2);
      Byte(uint8_t((v - 512) >> 1));
      Bits(uint32_t(v & 1), 1);
    } else if (v < 2048) {
      Bits(1, 3);
      Byte(uint8_t((v - 1024) >> 2));
      Bits(uint32_t(v & 3), 2);
    } else if (v < 4096) {
      Bits(1, 4);
      Byte(uint8_t((v - 2048) >> 3));
      Bits(uint32_t(v & 7), 3);
    } else {
      Bits(0, 4);
      Byte(uint8_t((v - 4096) >> 4));
      Bits(uint32_t(v & 15), 4);
    }
    if (len == 3) {
      Bit(1);
    } else if (len == 4) {
      Bits(1, 2);
    } else if (len <= 6) {
      Bits(1, 3);
      Bits(uint32_t(len - 5), 1);
    } else if (len <= 10) {
      Bits(1, 4);
      Bits(uint32_t(len - 7), 2);
    } else if (len <= 26) {
      Bits(1, 5);
      Bits(uint32_t(len - 11), 4);
    } else {
      Bits(0, 5);
      Byte(uint8_t(len - 27));
    }
  }

  void End() {
    Bits(3, 3); // 0 1 1
    Byte(0xFF);
    Bits(7, 3);
  }

private:
  void Bit(uint32_t b) {
    if (used_ == 32) {
      control_ = out_.size();
      out_.resize(out_.size() + 4, 0);
      used_ = 0;
    }
    const uint32_t index = 31 - used_; // bit index within the little-endian word
    if (b)
      out_[control_ + index / 8] |= uint8_t(1u << (index % 8));
    ++used_;
  }

  void Bits(uint32_t v, int count) {
    for (int i = count - 1; i >= 0; --i)
      Bit(v >> i & 1);
  }

  void Byte(uint8_t b) { out_.push_back(b); }

  std::vector<uint8_t>& out_;
  size_t control_ = 0;
  uint32_t used_ = 32; // no word yet: the first bit reserves the first word
};

// ---- Match finder -----------------------------------------------------------------

class MatchFinder {
public:
  MatchFinder(const uint8_t* data, size_t size, int depth)
      : data_(data), size_(size), depth_(depth), head_(kHashSize, -1), prev_(kChainSize, -1),
        lastPair_(65536, -1) {}

  // Makes every position before `end` available to later searches.
  void InsertUpTo(size_t end) {
    for (; inserted_ < end; ++inserted_) {
      const size_t p = inserted_;
      if (p + 1 < size_)
        lastPair_[Pair(p)] = int64_t(p);
      if (p + 2 < size_) {
        const uint32_t h = Hash(p);
        prev_[p & kChainMask] = head_[h];
        head_[h] = int64_t(p);
      }
    }
  }

  // Distance of the nearest earlier two-byte match at `pos`, 0 when there is
  // none within reach of the two-byte codes.
  size_t PairDistance(size_t pos) const {
    if (pos + 1 >= size_)
      return 0;
    const int64_t p = lastPair_[Pair(pos)];
    if (p < 0)
      return 0;
    const size_t dist = pos - size_t(p);
    return dist <= kMaxPairDistance ? dist : 0;
  }

  // Walks the candidates for a match of 3 bytes or more at `pos`, nearest
  // first, and calls visit(len, dist) for each one longer than all before it
  // (so each length is offered at its nearest distance).
  template <class Visit> void ForEachLonger(size_t pos, Visit visit) const {
    const size_t limit = std::min(kMaxMatch, size_ - pos);
    if (limit < kMinMatch)
      return;
    const uint8_t* here = data_ + pos;
    size_t best = kMinMatch - 1;
    int budget = depth_;
    for (int64_t cand = head_[Hash(pos)]; cand >= 0 && budget > 0; --budget) {
      const size_t dist = pos - size_t(cand);
      if (dist > kMaxDistance)
        break;
      const uint8_t* there = data_ + cand;
      if (there[best] == here[best]) {
        size_t len = 0;
        while (len < limit && there[len] == here[len])
          ++len;
        if (len > best) {
          best = len;
          visit(len, dist);
          if (len == limit)
            break;
        }
      }
      cand = prev_[size_t(cand) & kChainMask];
    }
  }

private:
  static constexpr size_t kHashBits = 15;
  static constexpr size_t kHashSize = size_t(1) << kHashBits;
  // Twice the window, so a slot is never reused while its position is in reach.
  static constexpr size_t kChainSize = 2 * kMaxDistance;
  static constexpr size_t kChainMask = kChainSize - 1;

  uint32_t Pair(size_t p) const { return uint32_t(data_[p]) << 8 | data_[p + 1]; }
  uint32_t Hash(size_t p) const {
    const uint32_t v = uint32_t(data_[p]) << 16 | uint32_t(data_[p + 1]) << 8 | data_[p + 2];
    return (v * 2654435761u) >> (32 - kHashBits);
  }

  const uint8_t* data_;
  size_t size_;
  int depth_;
  size_t inserted_ = 0;
  std::vector<int64_t> head_;
  std::vector<int64_t> prev_;
  std::vector<int64_t> lastPair_;
};

// One step of a parse: a literal (len 1, dist 0) or a match.
struct Step {
  size_t len;
  size_t dist;
};

// Bits saved against coding the same bytes as literals.
int Savings(const Step& s) {
  return s.len == 1 ? 0 : int(kLiteralBits * s.len) - int(MatchBits(s.len, s.dist));
}

// The longest match at `pos` (nearest among equals), else the nearest
// two-byte match, else a literal. Positions before `pos` must be inserted.
Step LongestAt(const MatchFinder& finder, size_t pos) {
  Step step{1, 0};
  finder.ForEachLonger(pos, [&](size_t len, size_t dist) { step = {len, dist}; });
  if (step.len == 1) {
    if (const size_t dist = finder.PairDistance(pos))
      step = {2, dist};
  }
  return step;
}

void Emit(StreamWriter& writer, const uint8_t* data, size_t pos, const Step& step) {
  if (step.len == 1)
    writer.Literal(data[pos]);
  else if (step.len == 2)
    writer.Pair(step.dist);
  else
    writer.Match(step.len, step.dist);
}

// Greedy (lazy == false) or with one step of lookahead: a match is put off by
// a literal when the match at the next position saves more.
void ParseGreedy(StreamWriter& writer, const uint8_t* data, size_t size, int depth, bool lazy) {
  constexpr size_t kGoodEnough = 64; // no lookahead past a match this long
  MatchFinder finder(data, size, depth);
  size_t pos = 0;
  Step step{1, 0};
  if (size != 0)
    step = LongestAt(finder, 0);
  while (pos < size) {
    if (lazy && step.len > 1 && step.len < kGoodEnough && pos + 1 < size) {
      finder.InsertUpTo(pos + 1);
      const Step next = LongestAt(finder, pos + 1);
      if (Savings(next) > Savings(step)) {
        writer.Literal(data[pos]);
        ++pos;
        step = next;
        continue;
      }
    }
    Emit(writer, data, pos, step);
    pos += step.len;
    if (pos < size) {
      finder.InsertUpTo(pos);
      step = LongestAt(finder, pos);
    }
  }
}

// Shortest path in bits through every literal, the nearest two-byte match and
// every match length at its nearest distance, at every position.
void ParseOptimal(StreamWriter& writer, const uint8_t* data, size_t size, int depth) {
  constexpr uint64_t kUnreached = std::numeric_limits<uint64_t>::max();
  std::vector<uint64_t> cost(size + 1, kUnreached);
  std::vector<uint16_t> arriveLen(size + 1, 0);
  std::vector<uint16_t> arriveDist(size + 1, 0);
  auto relax = [&](size_t to, uint64_t c, size_t len, size_t dist) {
    if (c < cost[to]) {
      cost[to] = c;
      arriveLen[to] = uint16_t(len);
      arriveDist[to] = uint16_t(dist);
    }
  };

  MatchFinder finder(data, size, depth);
  cost[0] = 0;
  for (size_t pos = 0; pos < size; ++pos) {
    finder.InsertUpTo(pos);
    const uint64_t here = cost[pos];
    relax(pos + 1, here + kLiteralBits, 1, 0);
    if (const size_t dist = finder.PairDistance(pos))
      relax(pos + 2, here + PairBits(dist), 2, dist);
    size_t covered = kMinMatch - 1;
    finder.ForEachLonger(pos, [&](size_t len, size_t dist) {
      for (size_t n = covered + 1; n <= len; ++n)
        relax(pos + n, here + MatchBits(n, dist), n, dist);
      covered = len;
    });
  }

  std::vector<Step> steps;
  for (size_t pos = size; pos > 0; pos -= arriveLen[pos])
    steps.push_back({arriveLen[pos], arriveDist[pos]});
  size_t pos = 0;
  for (auto it = steps.rbegin(); it != steps.rend(); ++it) {
    Emit(writer, data, pos, *it);
    pos += it->len;
  }
}

} // namespace

std::vector<uint8_t> CompressStream(const uint8_t* data, size_t size, int level) {
  level = std::clamp(level, kCompressFast, kCompressBest);
  std::vector<uint8_t> out;
  out.reserve(MaxCompressedSize(size));
  StreamWriter writer(out);
  switch (level) {
  case kCompressFast: ParseGreedy(writer, data, size, 8, false); break;
  case kCompressDefault: ParseGreedy(writer, data, size, 128, true); break;
  default: ParseOptimal(writer, data, size, 512); break;
  }
  writer.End();
  return out;
}

// Every chosen code is smaller in bits than the literals it replaces, so the
// output is at most all literals: 9 bits a byte plus the 14-bit end code,
// with up to 31 unused bits in the last control word.
size_t MaxCompressedSize(size_t n) { return n + n / 8 + 16; }
