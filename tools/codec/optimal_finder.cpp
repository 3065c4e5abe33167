// The best level's match finder (see optimal_finder.h for how it works and
// why its matches are exact).
#include "codec/optimal_finder.h"

#include <algorithm>
#include <limits>

#include "codec/byte_compare.h"

namespace codec {

namespace {

constexpr uint32_t kNone = std::numeric_limits<uint32_t>::max();
// Twice the window, so a slot is never reused while its position is in reach.
constexpr size_t kSlots = 2 * kMaxDistance;
constexpr size_t kSlotMask = kSlots - 1;
// More long runs than can end within reach of one position.
constexpr size_t kRunRing = 2048;
static_assert(kRunRing > kMaxDistance / (OptimalFinder::kTreeRun + 1) + 2);

// The tree of a position: a hash of its first three bytes.
inline uint32_t TreeKey(const uint8_t* p) {
  return ((uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]) * 2654435761u) >> 16;
}

} // namespace

OptimalFinder::OptimalFinder()
    : head_(65536, kNone),
      below_(2 * kSlots, kNone),
      pairLast_(65536, kNone),
      lastEnd_(256 * (kTreeRun + 1), 0),
      runs_(kRunRing) {}

void OptimalFinder::Reset(const uint8_t* data, size_t size) {
  data_ = data;
  size_ = size;
  std::fill(head_.begin(), head_.end(), kNone);
  std::fill(pairLast_.begin(), pairLast_.end(), kNone);
  std::fill(lastEnd_.begin(), lastEnd_.end(), 0u);
  runStart_ = runEnd_ = 0;
  runCount_ = 0;
  std::fill(std::begin(lastRun_), std::end(lastRun_), 0u);
  candidates_.clear();
  stairs_.clear();
  byLength_.clear();
  nextByLength_ = 0;
}

size_t OptimalFinder::Visit(size_t pos, MatchRecord* out, size_t* pairDist) {
  *pairDist = 0;
  if (pos + 2 > size_) return 0;
  const uint32_t key = uint32_t(data_[pos]) << 8 | data_[pos + 1];
  if (const uint32_t last = pairLast_[key]; last != kNone && pos - last <= kMaxPairDistance) *pairDist = pos - last;
  pairLast_[key] = uint32_t(pos);

  const bool first = pos >= runEnd_;
  if (first) { // the run starting here
    runStart_ = pos;
    runEnd_ = pos + 1;
    while (runEnd_ < size_ && data_[runEnd_] == data_[pos]) ++runEnd_;
    if (runEnd_ - pos > kTreeRun) StartLongRun();
  }
  const size_t run = runEnd_ - pos;
  const size_t limit = std::min(kMaxMatch, size_ - pos);
  size_t n = 0;
  if (run > kTreeRun) {
    if (out != nullptr) n = first ? LongRunStart(limit, out, 0) : LongRunInside(pos, limit, out, 0);
  } else {
    // In the tree. Just after the first bytes of a long run the previous
    // position is not there to be found: its match comes first.
    size_t best = kMinMatch - 1;
    if (!first && run + 1 > kTreeRun && out != nullptr) {
      best = std::min(run, limit);
      out[n++] = {uint32_t(best), 1};
    }
    n = TreeInsert(pos, limit, best, out, n);
  }
  if (first) // the latest run of each length, for the long runs to come
    for (size_t len = kMinMatch; len <= std::min(run, kTreeRun); ++len)
      lastEnd_[size_t(data_[pos]) * (kTreeRun + 1) + len] = uint32_t(runEnd_ + 1);
  return n;
}

size_t OptimalFinder::TreeInsert(size_t pos, size_t limit, size_t best, MatchRecord* out, size_t n) {
  if (limit < kMinMatch) return n; // no later match can come from here
  const uint8_t* here = data_ + pos;
  // Every position sharing three bytes or more with this one is in its
  // tree; others whose first three bytes hash alike may be too.
  const uint32_t key = TreeKey(here);
  uint32_t cand = head_[key];
  head_[key] = uint32_t(pos);
  uint32_t* smaller = &below_[2 * (pos & kSlotMask)];    // where the next smaller node hangs
  uint32_t* larger = &below_[2 * (pos & kSlotMask) + 1]; // and the next larger one
  size_t lenSmaller = 0;
  size_t lenLarger = 0;
  for (;;) {
    if (cand == kNone || pos - cand > kMaxDistance) {
      *smaller = kNone;
      *larger = kNone;
      return n;
    }
    const uint8_t* there = data_ + cand;
    bool thereFirst;
    const size_t len = CommonLengthOrder(there, here, std::min(lenSmaller, lenLarger), limit, &thereFirst);
    if (len > best) {
      best = len;
      if (out != nullptr) out[n++] = {uint32_t(len), uint32_t(pos - cand)};
    }
    uint32_t* node = &below_[2 * (cand & kSlotMask)];
    if (len == limit) {
      // Equal over every byte a search can use: `pos` takes its place.
      *smaller = node[0];
      *larger = node[1];
      return n;
    }
    if (thereFirst) {
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
}

// A long run begins at runStart_: its candidates are the earlier long runs
// of its byte from which a match can reach it, and it joins them. A run
// that a nearer one at least as long matches as far after the run never
// offers a longer match than that one, so it is left out; the byte where
// it would have to match for more is compared first.
void OptimalFinder::StartLongRun() {
  const size_t s = runStart_, e = runEnd_;
  const uint8_t b = data_[s];
  const size_t extraLimit = std::min(kMaxMatch - kTreeRun - 1, size_ - e);
  candidates_.clear();
  for (uint32_t index = lastRun_[b]; index != 0 && runCount_ - (index - 1) < kRunRing;) {
    const LongRun& r = runs_[(index - 1) % kRunRing];
    index = r.prev;
    // The nearest match it offers is kTreeRun + 1 bytes long.
    if (r.end + kMaxDistance < s + kTreeRun + 1) break;
    size_t beat = 0; // the common length it must exceed
    bool beaten = false;
    for (const Candidate& k : candidates_)
      if (k.length >= r.length && k.extra + 1 > beat) {
        beat = k.extra + 1;
        beaten = true;
      }
    if (beaten && (beat > extraLimit || data_[r.end + beat - 1] != data_[e + beat - 1])) continue;
    const size_t extra = CommonLength(data_ + r.end, data_ + e, 0, extraLimit);
    if (beaten && extra < beat) continue;
    candidates_.push_back({r.end, r.length, uint32_t(extra)});
    if (extra == extraLimit && r.length >= e - s) break; // no farther run can offer anything
  }
  runs_[runCount_ % kRunRing] = {uint32_t(e), uint32_t(e - s), lastRun_[b]};
  lastRun_[b] = ++runCount_;
  // The inner positions take a candidate once r is at most its length.
  byLength_.clear();
  for (uint32_t i = 0; i < candidates_.size(); ++i)
    if (candidates_[i].extra > 0 && e - candidates_[i].end <= kMaxDistance) byLength_.push_back(i);
  std::stable_sort(byLength_.begin(), byLength_.end(),
                   [&](uint32_t a, uint32_t c) { return candidates_[a].length > candidates_[c].length; });
  nextByLength_ = 0;
  stairs_.clear();
}

size_t OptimalFinder::LongRunStart(size_t limit, MatchRecord* out, size_t n) {
  const size_t s = runStart_, e = runEnd_, r = e - s;
  // Length L <= r: L bytes before the end of the latest run at least L long
  // (each L at a distance of its own, farther as L grows); up to kTreeRun
  // from the table of all runs, then from the long ones.
  size_t best = kMinMatch - 1;
  const uint32_t* latest = &lastEnd_[size_t(data_[s]) * (kTreeRun + 1)];
  for (size_t len = kMinMatch; len <= kTreeRun; ++len) {
    if (latest[len] == 0 || s - (latest[len] - 1) + len > kMaxDistance) return n;
    best = len;
    out[n++] = {uint32_t(len), uint32_t(s - (latest[len] - 1) + len)};
  }
  size_t c = 0;
  const size_t top = std::min(r, limit);
  for (size_t len = kTreeRun + 1; len <= top; ++len) {
    while (c < candidates_.size() && candidates_[c].length < len) ++c;
    if (c == candidates_.size() || s - candidates_[c].end + len > kMaxDistance) return n;
    const size_t found = len < r ? len : std::min(limit, r + candidates_[c].extra);
    if (found > best) {
      best = found;
      out[n++] = {uint32_t(found), uint32_t(s - candidates_[c].end + len)};
    }
  }
  if (best == limit || r > limit) return n;
  // Longer than r: r bytes before the end of older runs at least r long.
  for (++c; c < candidates_.size() && best < limit; ++c) {
    const Candidate& k = candidates_[c];
    if (e - k.end > kMaxDistance) break;
    const size_t found = std::min(limit, r + k.extra);
    if (k.length >= r && found > best) {
      best = found;
      out[n++] = {uint32_t(found), uint32_t(e - k.end)};
    }
  }
  return n;
}

size_t OptimalFinder::LongRunInside(size_t pos, size_t limit, MatchRecord* out, size_t n) {
  const size_t r = runEnd_ - pos;
  size_t best = std::min(r, limit);
  out[n++] = {uint32_t(best), 1};
  if (best == limit) return n;
  // Candidates at least r long join the staircase: each stays only while
  // no nearer one offers as long a match.
  for (; nextByLength_ < byLength_.size() && candidates_[byLength_[nextByLength_]].length >= r; ++nextByLength_) {
    const uint32_t j = byLength_[nextByLength_];
    const uint32_t extra = candidates_[j].extra;
    auto at = std::lower_bound(stairs_.begin(), stairs_.end(), j);
    if (at != stairs_.begin() && candidates_[*(at - 1)].extra >= extra) continue;
    auto past = at;
    while (past != stairs_.end() && candidates_[*past].extra <= extra) ++past;
    at = stairs_.erase(at, past);
    stairs_.insert(at, j);
  }
  for (const uint32_t j : stairs_) {
    const size_t found = std::min(limit, r + candidates_[j].extra);
    out[n++] = {uint32_t(found), uint32_t(runEnd_ - candidates_[j].end)};
    if (found == limit) break;
  }
  return n;
}

} // namespace codec
