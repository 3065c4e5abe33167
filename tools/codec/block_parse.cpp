// Levels 1 and 2, and the choice of parse for a block. Positions are
// offsets into the block's buffer (history first); the history's positions
// are taken into the tables before the block is parsed, so matches reach
// back into it exactly as far as they would in one long parse.
#include "codec/block_parse.h"

#include <algorithm>
#include <utility>

#include "codec/byte_compare.h"
#include "codec/optimal_finder.h"

namespace codec {

namespace {

constexpr uint32_t kLiteralBits = 9;

uint32_t MatchBits(size_t len, size_t dist) {
  if (len == 2) return dist <= 256 ? 11 : 14;
  const size_t v = dist - 1;
  const uint32_t offset = v < 512 ? 10 : v < 1024 ? 11 : v < 2048 ? 13 : v < 4096 ? 15 : 16;
  const uint32_t length = len == 3 ? 1 : len == 4 ? 2 : len <= 6 ? 4 : len <= 10 ? 6 : len <= 26 ? 9 : 13;
  return 2 + offset + length;
}

// ---- Level 1: one hash probe per position -------------------------------------------

size_t ParseFast(const uint8_t* data, size_t start, size_t size, Step* steps) {
  Step* out = steps;
  constexpr int kHashBits = 14;
  std::vector<uint32_t> table(size_t(1) << kHashBits, 0); // position + 1, 0 for none
  auto hash = [&](size_t p) { return (Load32(data + p) * 2654435761u) >> (32 - kHashBits); };
  for (size_t p = start > kMaxDistance ? start - kMaxDistance : 0; p < start && p + 4 <= size; ++p)
    table[hash(p)] = uint32_t(p + 1);
  size_t pos = start;
  size_t literals = start; // the first position of the literals not yet stepped over
  while (pos + 4 <= size) {
    const uint32_t h = hash(pos);
    const size_t cand = table[h];
    table[h] = uint32_t(pos + 1);
    if (cand != 0 && pos - (cand - 1) <= kMaxDistance && Load32(data + cand - 1) == Load32(data + pos)) {
      const size_t from = cand - 1;
      const size_t len = CommonLength(data + from, data + pos, 4, std::min(kMaxMatch, size - pos));
      if (literals != pos) *out++ = {uint32_t(pos - literals), 0};
      *out++ = {uint32_t(len), uint32_t(pos - from)};
      // The match's last positions go into the table for the next ones.
      const size_t end = pos + len;
      for (size_t p = std::max(pos + 1, end - std::min<size_t>(len, 3)); p < end && p + 4 <= size; ++p)
        table[hash(p)] = uint32_t(p + 1);
      pos = literals = end;
      continue;
    }
    ++pos;
  }
  if (literals != size) *out++ = {uint32_t(size - literals), 0};
  return size_t(out - steps);
}

// ---- Level 2: lazy matching over hash chains ----------------------------------------

class ChainFinder {
public:
  ChainFinder(const uint8_t* data, size_t size, int depth)
      : data_(data),
        size_(size),
        depth_(depth),
        head_(kHashSize, kNone),
        prev_(kChainSize, kNone),
        pairLast_(65536, kNone) {}

  // Makes every position before `end` available to later searches.
  void InsertUpTo(size_t end) {
    for (; inserted_ < end; ++inserted_) {
      const size_t p = inserted_;
      pairDist_ = 0;
      if (p + 1 < size_) {
        const uint32_t key = uint32_t(data_[p]) << 8 | data_[p + 1];
        if (pairLast_[key] != kNone && p - pairLast_[key] <= kMaxPairDistance) pairDist_ = p - pairLast_[key];
        pairLast_[key] = uint32_t(p);
      }
      if (p + 2 < size_) {
        const uint32_t h = Hash(p);
        prev_[p & kChainMask] = head_[h];
        head_[h] = uint32_t(p);
      }
    }
  }

  // The nearest two-byte match at the last position inserted.
  size_t PairDistance() const { return pairDist_; }

  // The longest match of 3 bytes or more at `pos` (nearest among equals), as
  // (length, distance); length 0 when there is none.
  std::pair<size_t, size_t> Longest(size_t pos) const {
    const size_t limit = std::min(kMaxMatch, size_ - pos);
    if (limit < kMinMatch) return {0, 0};
    const uint8_t* here = data_ + pos;
    size_t best = kMinMatch - 1;
    size_t bestDist = 0;
    int budget = depth_;
    uint32_t cand = head_[Hash(pos)];
    if (cand == pos) // inserted already, for its two-byte match
      cand = prev_[pos & kChainMask];
    for (; cand != kNone && budget > 0; --budget) {
      const size_t dist = pos - cand;
      if (dist > kMaxDistance) break;
      const uint8_t* there = data_ + cand;
      if (there[best] == here[best]) {
        const size_t len = CommonLength(there, here, 0, limit);
        if (len > best) {
          best = len;
          bestDist = dist;
          if (len == limit) break;
        }
      }
      cand = prev_[cand & kChainMask];
    }
    return bestDist ? std::pair{best, bestDist} : std::pair<size_t, size_t>{0, 0};
  }

private:
  static constexpr size_t kHashBits = 15;
  static constexpr size_t kHashSize = size_t(1) << kHashBits;
  // Twice the window, so a slot is never reused while its position is in reach.
  static constexpr size_t kChainSize = 2 * kMaxDistance;
  static constexpr size_t kChainMask = kChainSize - 1;
  static constexpr uint32_t kNone = ~uint32_t(0);

  uint32_t Hash(size_t p) const {
    const uint32_t v = uint32_t(data_[p]) << 16 | uint32_t(data_[p + 1]) << 8 | data_[p + 2];
    return (v * 2654435761u) >> (32 - kHashBits);
  }

  const uint8_t* data_;
  size_t size_;
  int depth_;
  size_t inserted_ = 0;
  size_t pairDist_ = 0;
  std::vector<uint32_t> head_; // positions (blocks stay under 4 GiB), kNone for none
  std::vector<uint32_t> prev_;
  std::vector<uint32_t> pairLast_;
};

// Bits saved against coding the same bytes as literals.
int Savings(const Step& s) { return s.len == 1 ? 0 : int(kLiteralBits * s.len) - int(MatchBits(s.len, s.dist)); }

// The best single step at `pos`; positions up to `pos` must be inserted.
Step ChainStepAt(const ChainFinder& finder, size_t pos) {
  const auto [len, dist] = finder.Longest(pos);
  if (len != 0) return {uint32_t(len), uint32_t(dist)};
  if (const size_t pair = finder.PairDistance()) return {2, uint32_t(pair)};
  return {1, 0};
}

// A match is put off by a literal when the match at the next position saves more.
size_t ParseLazy(const uint8_t* data, size_t start, size_t size, int depth, Step* steps) {
  Step* out = steps;
  constexpr size_t kGoodEnough = 64; // no lookahead past a match this long
  ChainFinder finder(data, size, depth);
  size_t pos = start;
  Step step{1, 0};
  if (pos < size) {
    finder.InsertUpTo(pos + 1);
    step = ChainStepAt(finder, pos);
  }
  while (pos < size) {
    if (step.len > 1 && step.len < kGoodEnough && pos + 1 < size) {
      finder.InsertUpTo(pos + 2);
      const Step next = ChainStepAt(finder, pos + 1);
      if (Savings(next) > Savings(step)) {
        out = AddLiteral(steps, out);
        ++pos;
        step = next;
        continue;
      }
    }
    out = step.len == 1 ? AddLiteral(steps, out) : (*out = step, out + 1);
    pos += step.len;
    if (pos < size) {
      finder.InsertUpTo(pos + 1);
      step = ChainStepAt(finder, pos);
    }
  }
  return size_t(out - steps);
}

} // namespace

size_t ParseBlock(int level, const uint8_t* data, size_t start, size_t size, Step* steps) {
  switch (level) {
    case 0: return ParseGreedyBlock(data, start, size, steps);
    case 1: return ParseFast(data, start, size, steps);
    case 2: return ParseLazy(data, start, size, 64, steps);
    default: return ParseOptimalBlock(data, start, size, steps);
  }
}

} // namespace codec
