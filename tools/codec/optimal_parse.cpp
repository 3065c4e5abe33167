// Level 3: the shortest path in code bits through a block, and the greedy
// parse over the same finder that serves as its reference.
//
// Costs are exact: a code's size is its control bits plus eight per data
// byte. From every position the path may take a literal, the nearest
// two-byte match and every match length at its nearest distance. Since the
// costs depend only on the code and a longer distance never costs less, no
// other choice can give a cheaper path: the block's parse has the fewest
// code bits of any.
#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>
#include <vector>

#include "codec/block_parse.h"
#include "codec/optimal_finder.h"

namespace codec {

namespace {

constexpr uint32_t kLiteralBits = 9;

uint32_t OffsetBits(size_t dist) {
  const size_t v = dist - 1;
  if (v < 512) return 10;
  if (v < 1024) return 11;
  if (v < 2048) return 13;
  if (v < 4096) return 15;
  return 16;
}

uint32_t PairBits(size_t dist) { return dist <= 256 ? 11 : 14; }

// Code bits of a length: 3, 4, 5-6, 7-10, 11-26 each have their own; 27 to
// 282 all cost the same.
constexpr size_t kLongFirst = 27;
constexpr uint32_t kLongBits = 13;
alignas(16) constexpr int32_t kShortLengthBits[32] = {0, 0, 0, 1, 2, 4, 4, 6, 6, 6, 6, 9, 9, 9, 9, 9,
                                                      9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 0, 0, 0, 0, 0};

// Offers every length from `lo` to `hi` of a match at `dist` to the
// targets past position costs[0], four lengths at a time; a target takes an
// offer only when it is cheaper, as one by one would. The offer is `cost`
// plus, with kShort (lengths up to 26), each length's own code bits; past
// 26 every length costs the same. The arrays reach 4 entries past the last
// target.
using Lanes = int32_t __attribute__((vector_size(16)));
template <bool kShort>
inline void RelaxLengths(uint32_t* costs, uint32_t* arrivals, uint32_t cost, size_t dist, size_t lo, size_t hi) {
  const Lanes base = Lanes{} + int32_t(cost);
  const Lanes code = Lanes{} + int32_t(dist << 9);
  const Lanes low = Lanes{} + int32_t(lo), high = Lanes{} + int32_t(hi);
  for (size_t l = lo & ~size_t(3); l <= hi; l += 4) {
    const Lanes length = Lanes{0, 1, 2, 3} + int32_t(l);
    Lanes offer = base, was, from;
    if constexpr (kShort) {
      Lanes bits;
      std::memcpy(&bits, &kShortLengthBits[l], 16);
      offer += bits;
    }
    std::memcpy(&was, &costs[l], 16);
    std::memcpy(&from, &arrivals[l], 16);
    const Lanes take = (offer < was) & (length >= low) & (length <= high);
    was = take ? offer : was;
    from = take ? (length | code) : from;
    std::memcpy(&costs[l], &was, 16);
    std::memcpy(&arrivals[l], &from, 16);
  }
}

// Relaxations of a whole range of targets by one cost, applied lazily: the
// longest length class (27 to 282) costs the same for every length, so a
// match of that class offers one cost to up to 256 targets. Ranges that
// start 27 past their position become active in order; each target takes
// the cheapest active range that still reaches it. The outcome is exactly
// that of relaxing every target in turn.
class RangeRelaxer {
public:
  struct Range {
    uint32_t cost;
    uint32_t from; // block index of the match's start
    uint32_t last; // last block index reached
    uint32_t dist;
    bool operator>(const Range& o) const { return cost > o.cost; }
  };

  // A range whose first target is from + 27; `from` never decreases.
  void Add(const Range& r) { pending_.push_back(r); }

  // The cheapest range reaching target `t` (t increasing), or null.
  const Range* At(uint32_t t) {
    for (; next_ < pending_.size() && pending_[next_].from + kLongFirst <= t; ++next_) {
      active_.push_back(pending_[next_]);
      std::push_heap(active_.begin(), active_.end(), std::greater<>());
    }
    if (next_ == pending_.size()) {
      pending_.clear();
      next_ = 0;
    }
    while (!active_.empty() && active_.front().last < t) {
      std::pop_heap(active_.begin(), active_.end(), std::greater<>());
      active_.pop_back();
    }
    if (active_.size() > 4096) { // expired ranges below the top: sweep them out
      std::erase_if(active_, [t](const Range& r) { return r.last < t; });
      std::make_heap(active_.begin(), active_.end(), std::greater<>());
    }
    return active_.empty() ? nullptr : &active_.front();
  }

private:
  std::vector<Range> pending_; // added, not yet reaching any target; at most 27 at a time
  size_t next_ = 0;
  std::vector<Range> active_; // min-heap by cost
};

// A range offer from a position changes nothing when the offer just made
// from an earlier position reached every one of its targets at no higher
// cost (ties go to the earlier offer). Inside a long match, offer after
// offer is such a repeat: they are left out.
struct Offer {
  uint32_t first = 1, last = 0, cost = 0; // none yet
  bool Covers(const Offer& o) const { return first <= o.first && last >= o.last && cost <= o.cost; }
};

} // namespace

size_t ParseOptimalBlock(const uint8_t* data, size_t start, size_t size, Step* steps) {
  constexpr uint32_t kUnreached = std::numeric_limits<int32_t>::max(); // compared as signed
  OptimalFinder finder;
  finder.Reset(data, size);
  for (size_t p = 0; p < start; ++p) finder.Skip(p);
  RangeRelaxer ranges;
  const size_t n = size - start;
  std::vector<uint32_t> cost(n + 1 + 8, kUnreached); // 4 lengths at a time reach past n
  std::vector<uint32_t> arrival(n + 1 + 8);          // length | distance << 9
  MatchRecord records[kMaxRecords];
  Offer lastRange, lastFarther;

  // Settles target t with the lazily relaxed ranges.
  auto settle = [&](size_t t) {
    if (const RangeRelaxer::Range* r = ranges.At(uint32_t(t)); r && r->cost < cost[t]) {
      cost[t] = r->cost;
      arrival[t] = uint32_t(t - r->from) | r->dist << 9;
    }
  };

  cost[0] = 0;
  for (size_t i = 0; i < n; ++i) {
    settle(i);
    const uint32_t here = cost[i];
    if (here + kLiteralBits < cost[i + 1]) {
      cost[i + 1] = here + kLiteralBits;
      arrival[i + 1] = 1;
    }
    const size_t room = n - i;
    size_t covered = kMinMatch - 1;
    size_t pair = 0;
    const size_t count = finder.Find(start + i, records, &pair);
    for (size_t m = 0; m < count && covered < room; ++m) {
      const size_t dist = records[m].dist;
      const uint32_t offsetBits = OffsetBits(dist);
      // A longer match as cheap to reach offers every length this one does.
      if (m + 1 < count && OffsetBits(records[m + 1].dist) == offsetBits) continue;
      const size_t top = std::min<size_t>(records[m].len, room);
      const uint32_t offsetCost = here + 2 + offsetBits;
      if (covered < kLongFirst - 1)
        RelaxLengths<true>(&cost[i], &arrival[i], offsetCost, dist, covered + 1, std::min(top, kLongFirst - 1));
      if (top >= kLongFirst) {
        const uint32_t c = offsetCost + kLongBits;
        if (covered < kLongFirst) {
          const Offer offer{uint32_t(i + kLongFirst), uint32_t(i + top), c};
          if (!lastRange.Covers(offer)) {
            lastRange = offer;
            ranges.Add({c, uint32_t(i), uint32_t(i + top), uint32_t(dist)});
          }
        } else if (const Offer offer{uint32_t(i + covered + 1), uint32_t(i + top), c}; !lastFarther.Covers(offer)) {
          // lengths past those of a nearer match, offered at once
          lastFarther = offer;
          RelaxLengths<false>(&cost[i], &arrival[i], c, dist, covered + 1, top);
        }
      }
      covered = std::max(covered, top);
    }
    if (pair != 0 && room >= 2) {
      const uint32_t c = here + PairBits(pair);
      if (c < cost[i + 2]) {
        cost[i + 2] = c;
        arrival[i + 2] = 2 | uint32_t(pair) << 9;
      }
    }
  }
  settle(n);
  Step* out = steps;
  for (size_t i = n; i > 0; i -= arrival[i] & 511)
    out = (arrival[i] & 511) == 1 ? AddLiteral(steps, out) : (*out = {arrival[i] & 511, arrival[i] >> 9}, out + 1);
  std::reverse(steps, out);
  return size_t(out - steps);
}

// Level 3's finder, with the longest match taken at every step (longest
// match, nearest among equals, else the nearest two-byte match, else a
// literal).
size_t ParseGreedyBlock(const uint8_t* data, size_t start, size_t size, Step* steps) {
  Step* out = steps;
  OptimalFinder finder;
  finder.Reset(data, size);
  for (size_t p = 0; p < start; ++p) finder.Skip(p);
  MatchRecord records[kMaxRecords];
  size_t next = start; // the first position not yet covered by a step
  for (size_t pos = start; pos < size; ++pos) {
    size_t pair = 0;
    const size_t count = finder.Find(pos, records, &pair);
    if (pos < next) continue;
    Step step{1, 0};
    if (count != 0) step = {uint32_t(std::min<size_t>(records[count - 1].len, size - pos)), records[count - 1].dist};
    if (step.len < kMinMatch) step = pair != 0 && pos + 2 <= size ? Step{2, uint32_t(pair)} : Step{1, 0};
    out = step.len == 1 ? AddLiteral(steps, out) : (*out = step, out + 1);
    next = pos + step.len;
  }
  return size_t(out - steps);
}

} // namespace codec
