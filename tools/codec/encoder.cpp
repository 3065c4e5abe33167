// Stream encoder: the inverse of archive/decompress.cpp, whose header
// describes the format.
//
// Costs are exact: a code's size is its control bits plus eight per data
// byte, so every choice below compares real stream sizes.
//
// Control word placement mirrors the decoder: a new 4-byte word is reserved at
// the end of the output at the moment a bit no longer fits in the current one,
// and data bytes are appended in the order the decoder reads them.
//
// Memory: every match finder keeps fixed tables (a window's worth of links
// and hash heads), and the optimal parse keeps one block's costs and arrivals;
// nothing grows with the input apart from the output itself.

#include "codec/encoder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <functional>
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

// Length classes: first length and code bits of each.
struct LengthClass {
  uint16_t first;
  uint16_t last;
  uint32_t bits;
};
constexpr LengthClass kLengthClasses[] = {
    {3, 3, 1}, {4, 4, 2}, {5, 6, 4}, {7, 10, 6}, {11, 26, 9}, {27, 282, 13}};

// ---- Stream writer ----------------------------------------------------------------

// Writes into a buffer of MaxCompressedSize bytes.
class StreamWriter {
public:
  explicit StreamWriter(uint8_t* out) : begin_(out), out_(out) {}

  void Literal(uint8_t b) {
    Bits(1, 1);
    *out_++ = b;
  }

  // Two-byte match, distance 1..2303.
  void Pair(size_t dist) {
    size_t v = dist - 1;
    if (v < 256) {
      Bits(2, 3); // 0 1 0
      *out_++ = uint8_t(v);
    } else {
      v -= 256;
      Bits(3, 3); // 0 1 1
      *out_++ = uint8_t(v >> 3);
      Bits(uint32_t(v & 7), 3);
    }
  }

  // Match of 3..282 bytes, distance 1..8192.
  void Match(size_t len, size_t dist) {
    const uint32_t v = uint32_t(dist - 1);
    // 0 0, the class selector, B, the low bits.
    if (v < 512) {
      Bits(1, 3);
      *out_++ = uint8_t(v >> 1);
      Bits(v & 1, 1);
    } else if (v < 1024) {
      Bits(1, 4);
      *out_++ = uint8_t((v - 512) >> 1);
      Bits(v & 1, 1);
    } else if (v < 2048) {
      Bits(1, 5);
      *out_++ = uint8_t((v - 1024) >> 2);
      Bits(v & 3, 2);
    } else if (v < 4096) {
      Bits(1, 6);
      *out_++ = uint8_t((v - 2048) >> 3);
      Bits(v & 7, 3);
    } else {
      Bits(0, 6);
      *out_++ = uint8_t((v - 4096) >> 4);
      Bits(v & 15, 4);
    }
    const uint32_t n = uint32_t(len);
    if (n == 3)
      Bits(1, 1);
    else if (n == 4)
      Bits(1, 2);
    else if (n <= 6)
      Bits(2 | (n - 5), 4);
    else if (n <= 10)
      Bits(4 | (n - 7), 6);
    else if (n <= 26)
      Bits(16 | (n - 11), 9);
    else {
      Bits(0, 5);
      *out_++ = uint8_t(n - 27);
    }
  }

  // Writes the end code and the last control word; returns the stream size.
  size_t End() {
    Bits(3, 3); // 0 1 1
    *out_++ = 0xFF;
    Bits(7, 3);
    Store(control_, word_);
    return size_t(out_ - begin_);
  }

private:
  // `count` (1 to 13) control bits, the first taken the most significant.
  void Bits(uint32_t v, uint32_t count) {
    const uint32_t room = 32 - used_;
    if (count <= room) {
      word_ |= v << (room - count);
      used_ += count;
      return;
    }
    // The word is full after `room` bits: the rest opens a new word, placed
    // after every data byte written so far.
    const uint32_t rest = count - room;
    if (room != 0)
      word_ |= v >> rest;
    if (control_ != nullptr)
      Store(control_, word_);
    control_ = out_;
    out_ += 4;
    word_ = (v & ((1u << rest) - 1)) << (32 - rest);
    used_ = rest;
  }

  static void Store(uint8_t* at, uint32_t w) {
    at[0] = uint8_t(w);
    at[1] = uint8_t(w >> 8);
    at[2] = uint8_t(w >> 16);
    at[3] = uint8_t(w >> 24);
  }

  uint8_t* begin_;
  uint8_t* out_;
  uint8_t* control_ = nullptr;
  uint32_t word_ = 0;
  uint32_t used_ = 32; // no word yet: the first bit reserves the first word
};

// Runs `parse` on a writer over a buffer of the maximum size.
template <class Parse> std::vector<uint8_t> WriteStream(size_t size, Parse parse) {
  std::vector<uint8_t> out(MaxCompressedSize(size));
  StreamWriter writer(out.data());
  parse(writer);
  out.resize(writer.End());
  return out;
}

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
    if (x != 0)
      return n + (size_t(std::countr_zero(x)) >> 3);
    n += 8;
  }
  while (n < limit && a[n] == b[n])
    ++n;
  return n;
}

// The last position of every two-byte pair: the nearest two-byte match.
class PairTable {
public:
  PairTable() : last_(65536, -1) {}

  // Distance of the nearest earlier occurrence of the pair at `pos` within
  // two-byte reach (0 if none), then records `pos`. Call for every position
  // in order.
  size_t NearestAndInsert(const uint8_t* data, size_t size, size_t pos) {
    if (pos + 1 >= size)
      return 0;
    const uint32_t key = uint32_t(data[pos]) << 8 | data[pos + 1];
    const int64_t p = last_[key];
    last_[key] = int64_t(pos);
    if (p < 0)
      return 0;
    const size_t dist = pos - size_t(p);
    return dist <= kMaxPairDistance ? dist : 0;
  }

private:
  std::vector<int64_t> last_;
};

// ---- Level 1: one hash probe per position -------------------------------------------

void ParseFast(StreamWriter& w, const uint8_t* data, size_t size) {
  constexpr int kHashBits = 14;
  std::vector<uint32_t> table(size_t(1) << kHashBits, 0); // position + 1, 0 for none
  auto hash = [&](size_t p) { return (Load32(data + p) * 2654435761u) >> (32 - kHashBits); };
  size_t pos = 0;
  while (pos + 4 <= size) {
    const uint32_t h = hash(pos);
    const size_t cand = table[h];
    table[h] = uint32_t(pos + 1);
    if (cand != 0 && pos - (cand - 1) <= kMaxDistance &&
        Load32(data + cand - 1) == Load32(data + pos)) {
      const size_t from = cand - 1;
      const size_t limit = std::min(kMaxMatch, size - pos);
      const size_t len = CommonLength(data + from, data + pos, 4, limit);
      w.Match(len, pos - from);
      // The match's last positions go into the table for the next ones.
      const size_t end = pos + len;
      for (size_t p = std::max(pos + 1, end - std::min<size_t>(len, 3)); p < end && p + 4 <= size; ++p)
        table[hash(p)] = uint32_t(p + 1);
      pos = end;
      continue;
    }
    w.Literal(data[pos]);
    ++pos;
  }
  for (; pos < size; ++pos)
    w.Literal(data[pos]);
}

// ---- Level 2: lazy matching over hash chains ----------------------------------------

class ChainFinder {
public:
  ChainFinder(const uint8_t* data, size_t size, int depth)
      : data_(data), size_(size), depth_(depth), head_(kHashSize, -1), prev_(kChainSize, -1) {}

  // Makes every position before `end` available to later searches.
  void InsertUpTo(size_t end) {
    for (; inserted_ < end; ++inserted_) {
      const size_t p = inserted_;
      pairDist_ = pairs_.NearestAndInsert(data_, size_, p);
      if (p + 2 < size_) {
        const uint32_t h = Hash(p);
        prev_[p & kChainMask] = head_[h];
        head_[h] = int64_t(p);
      }
    }
  }

  // The nearest two-byte match at the last position inserted.
  size_t PairDistance() const { return pairDist_; }

  // The longest match of 3 bytes or more at `pos` (nearest among equals), as
  // (length, distance); length 0 when there is none.
  std::pair<size_t, size_t> Longest(size_t pos) const {
    const size_t limit = std::min(kMaxMatch, size_ - pos);
    if (limit < kMinMatch)
      return {0, 0};
    const uint8_t* here = data_ + pos;
    size_t best = kMinMatch - 1;
    size_t bestDist = 0;
    int budget = depth_;
    int64_t cand = head_[Hash(pos)];
    if (cand == int64_t(pos)) // inserted already, for its two-byte match
      cand = prev_[pos & kChainMask];
    for (; cand >= 0 && budget > 0; --budget) {
      const size_t dist = pos - size_t(cand);
      if (dist > kMaxDistance)
        break;
      const uint8_t* there = data_ + cand;
      if (there[best] == here[best]) {
        const size_t len = CommonLength(there, here, 0, limit);
        if (len > best) {
          best = len;
          bestDist = dist;
          if (len == limit)
            break;
        }
      }
      cand = prev_[size_t(cand) & kChainMask];
    }
    return bestDist ? std::pair{best, bestDist} : std::pair<size_t, size_t>{0, 0};
  }

private:
  static constexpr size_t kHashBits = 15;
  static constexpr size_t kHashSize = size_t(1) << kHashBits;
  // Twice the window, so a slot is never reused while its position is in reach.
  static constexpr size_t kChainSize = 2 * kMaxDistance;
  static constexpr size_t kChainMask = kChainSize - 1;

  uint32_t Hash(size_t p) const {
    const uint32_t v = uint32_t(data_[p]) << 16 | uint32_t(data_[p + 1]) << 8 | data_[p + 2];
    return (v * 2654435761u) >> (32 - kHashBits);
  }

  const uint8_t* data_;
  size_t size_;
  int depth_;
  size_t inserted_ = 0;
  size_t pairDist_ = 0;
  std::vector<int64_t> head_;
  std::vector<int64_t> prev_;
  PairTable pairs_;
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

void Emit(StreamWriter& w, const uint8_t* data, size_t pos, const Step& step) {
  if (step.len == 1)
    w.Literal(data[pos]);
  else if (step.len == 2)
    w.Pair(step.dist);
  else
    w.Match(step.len, step.dist);
}

// The best single step at `pos`; positions up to `pos` must be inserted.
Step ChainStepAt(const ChainFinder& finder, size_t pos) {
  const auto [len, dist] = finder.Longest(pos);
  if (len != 0)
    return {len, dist};
  if (const size_t pair = finder.PairDistance())
    return {2, pair};
  return {1, 0};
}

// A match is put off by a literal when the match at the next position saves more.
void ParseLazy(StreamWriter& w, const uint8_t* data, size_t size, int depth) {
  constexpr size_t kGoodEnough = 64; // no lookahead past a match this long
  ChainFinder finder(data, size, depth);
  size_t pos = 0;
  Step step{1, 0};
  if (size != 0) {
    finder.InsertUpTo(1);
    step = ChainStepAt(finder, 0);
  }
  while (pos < size) {
    if (step.len > 1 && step.len < kGoodEnough && pos + 1 < size) {
      finder.InsertUpTo(pos + 2);
      const Step next = ChainStepAt(finder, pos + 1);
      if (Savings(next) > Savings(step)) {
        w.Literal(data[pos]);
        ++pos;
        step = next;
        continue;
      }
    }
    Emit(w, data, pos, step);
    pos += step.len;
    if (pos < size) {
      finder.InsertUpTo(pos + 1);
      step = ChainStepAt(finder, pos);
    }
  }
}

// ---- Level 3: every length at its nearest distance -----------------------------------

// A binary search tree per hash bucket over the suffixes in the window, in
// byte order, each node newer than the nodes below it (LZMA's "bt" finder).
// A search for a position walks from the newest node towards the suffix's
// place in the order and leaves the position as the new root. For every
// length L, the nearest earlier position sharing L bytes lies on that walk
// (the newest node of an interval in byte order that holds the suffix's
// place is on the walk to that place), and no node before it on the walk
// shares L bytes, so reporting each new longest match as it is met reports
// every length with its nearest distance. Keys are cut at the longest length
// a search can use; a node equal to the new one over that length can never
// again be nearer than it and leaves the tree. There is no depth limit: the
// walk stops only at the window's edge or at such an equal node.
class TreeFinder {
public:
  // Positions are kept in 32 bits: inputs stay under 4 GiB (the archive's
  // sizes are 32-bit).
  TreeFinder(const uint8_t* data, size_t size)
      : data_(data), size_(size), head_(65536, kNone), below_(2 * kSlots, kNone) {}

  // Calls visit(len, dist) for each match longer than all nearer ones at
  // `pos` (lengths increasing, each at its nearest distance), then inserts
  // `pos`. Returns the distance of the nearest two-byte match within reach
  // (0 if none). Call for every position in order.
  template <class Visit> size_t FindAndInsert(size_t pos, Visit visit) {
    if (pos + 2 > size_)
      return 0;
    const uint8_t* here = data_ + pos;
    // The trees are kept per two-byte prefix, so the newest node is also the
    // nearest two-byte match.
    const uint32_t key = uint32_t(here[0]) << 8 | here[1];
    uint32_t cand = head_[key];
    const size_t pairDist = cand == kNone ? 0 : pos - cand;
    const size_t limit = std::min(kMaxMatch, size_ - pos);
    if (limit < kMinMatch)
      return pairDist <= kMaxPairDistance ? pairDist : 0; // no later match can come from here
    head_[key] = uint32_t(pos);
    uint32_t* smaller = &below_[2 * (pos & kSlotMask)];    // where the next smaller node hangs
    uint32_t* larger = &below_[2 * (pos & kSlotMask) + 1]; // and the next larger one
    size_t lenSmaller = 2;
    size_t lenLarger = 2;
    size_t best = kMinMatch - 1;
    for (;;) {
      if (cand == kNone || pos - cand > kMaxDistance) {
        *smaller = kNone;
        *larger = kNone;
        break;
      }
      const uint8_t* there = data_ + cand;
      const size_t len = CommonLength(there, here, std::min(lenSmaller, lenLarger), limit);
      if (len > best) {
        best = len;
        visit(len, pos - cand);
      }
      uint32_t* node = &below_[2 * (cand & kSlotMask)];
      if (len == limit) {
        // Equal over every byte a search can use: `pos` takes its place.
        *smaller = node[0];
        *larger = node[1];
        break;
      }
      if (there[len] < here[len]) {
        *smaller = cand;
        smaller = &node[1];
        lenSmaller = len;
        cand = node[1];
      } else {
        *larger = cand;
        larger = &node[0];
        lenLarger = len;
        cand = node[0];
      }
    }
    return pairDist <= kMaxPairDistance ? pairDist : 0;
  }

private:
  static constexpr uint32_t kNone = std::numeric_limits<uint32_t>::max();
  // Twice the window, so a slot is never reused while its position is in reach.
  static constexpr size_t kSlots = 2 * kMaxDistance;
  static constexpr size_t kSlotMask = kSlots - 1;

  const uint8_t* data_;
  size_t size_;
  std::vector<uint32_t> head_;  // per two-byte prefix: the newest position
  std::vector<uint32_t> below_; // per slot: the smaller subtree, then the larger
};

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

  void Clear() {
    pending_.clear();
    next_ = 0;
    active_.clear();
  }

  // A range whose first target is from + 27; `from` never decreases.
  void Add(const Range& r) { pending_.push_back(r); }

  // The cheapest range reaching target `t` (t increasing), or null.
  const Range* At(uint32_t t) {
    for (; next_ < pending_.size() && pending_[next_].from + 27 <= t; ++next_) {
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

// Shortest path in bits through each block: from every position, a literal,
// the nearest two-byte match and every match length at its nearest distance.
// Since the costs depend only on the code and a longer distance never costs
// less, no other choice can give a cheaper path.
void ParseOptimal(StreamWriter& w, const uint8_t* data, size_t size) {
  constexpr uint32_t kUnreached = std::numeric_limits<uint32_t>::max();
  constexpr size_t kLongFirst = 27; // the longest length class, all one cost
  TreeFinder finder(data, size);
  RangeRelaxer ranges;
  const size_t block = std::min(size, kOptimalBlock);
  std::vector<uint32_t> cost(block + 1);
  std::vector<uint32_t> arrival(block + 1); // length | distance << 9
  std::vector<uint32_t> path;

  // Settles target t with the lazily relaxed ranges.
  auto settle = [&](size_t t) {
    if (const RangeRelaxer::Range* r = ranges.At(uint32_t(t)); r && r->cost < cost[t]) {
      cost[t] = r->cost;
      arrival[t] = uint32_t(t - r->from) | r->dist << 9;
    }
  };

  for (size_t start = 0; start < size; start += block) {
    const size_t n = std::min(block, size - start);
    std::fill(cost.begin(), cost.begin() + n + 1, kUnreached);
    cost[0] = 0;
    ranges.Clear();
    for (size_t i = 0; i < n; ++i) {
      settle(i);
      const size_t pos = start + i;
      const uint32_t here = cost[i];
      if (here + kLiteralBits < cost[i + 1]) {
        cost[i + 1] = here + kLiteralBits;
        arrival[i + 1] = 1;
      }
      const size_t room = n - i;
      size_t covered = kMinMatch - 1;
      const size_t pair = finder.FindAndInsert(pos, [&](size_t len, size_t dist) {
        const size_t top = std::min(len, room);
        const uint32_t offsetCost = here + 2 + OffsetBits(dist);
        for (const LengthClass& k : kLengthClasses) {
          if (k.last <= covered)
            continue;
          if (k.first > top)
            break;
          const uint32_t c = offsetCost + k.bits;
          const size_t first = std::max<size_t>(k.first, covered + 1);
          const size_t to = std::min<size_t>(k.last, top);
          if (first == kLongFirst) {
            ranges.Add({c, uint32_t(i), uint32_t(i + to), uint32_t(dist)});
            continue;
          }
          for (size_t l = first; l <= to; ++l) {
            if (c < cost[i + l]) {
              cost[i + l] = c;
              arrival[i + l] = uint32_t(l) | uint32_t(dist) << 9;
            }
          }
        }
        covered = std::max(covered, top);
      });
      if (pair != 0 && room >= 2) {
        const uint32_t c = here + PairBits(pair);
        if (c < cost[i + 2]) {
          cost[i + 2] = c;
          arrival[i + 2] = 2 | uint32_t(pair) << 9;
        }
      }
    }
    settle(n);
    path.clear();
    for (size_t i = n; i > 0; i -= arrival[i] & 511)
      path.push_back(arrival[i]);
    size_t pos = start;
    for (auto it = path.rbegin(); it != path.rend(); ++it) {
      const Step step{*it & 511, *it >> 9};
      Emit(w, data, pos, step);
      pos += step.len;
    }
  }
}

// Level 3's finder and blocks, with the longest match taken at every step.
void ParseGreedyTree(StreamWriter& w, const uint8_t* data, size_t size) {
  TreeFinder finder(data, size);
  const size_t block = std::min(size, kOptimalBlock);
  for (size_t start = 0; start < size; start += block) {
    const size_t end = std::min(size, start + block);
    size_t next = start; // the first position not yet covered by a step
    for (size_t pos = start; pos < end; ++pos) {
      Step step{1, 0};
      const size_t pair = finder.FindAndInsert(pos, [&](size_t len, size_t dist) { step = {len, dist}; });
      if (pos < next)
        continue;
      step.len = std::min(step.len, end - pos);
      if (step.len < kMinMatch)
        step = pair != 0 && pos + 2 <= end ? Step{2, pair} : Step{1, 0};
      Emit(w, data, pos, step);
      next = pos + step.len;
    }
  }
}

} // namespace

std::vector<uint8_t> CompressStream(const uint8_t* data, size_t size, int level) {
  level = std::clamp(level, kCompressFast, kCompressBest);
  return WriteStream(size, [&](StreamWriter& w) {
    switch (level) {
    case kCompressFast: ParseFast(w, data, size); break;
    case kCompressDefault: ParseLazy(w, data, size, 64); break;
    default: ParseOptimal(w, data, size); break;
    }
  });
}

std::vector<uint8_t> CompressStreamGreedyReference(const uint8_t* data, size_t size) {
  return WriteStream(size, [&](StreamWriter& w) { ParseGreedyTree(w, data, size); });
}

// Every code is smaller in bits than the literals it replaces, so a stream is
// at most n literals and the end code: 9n + 6 control bits, in at most
// n/32 + 2 words (n/8 + 8 bytes), and n + 1 data bytes.
size_t MaxCompressedSize(size_t n) { return n + n / 8 + 16; }
