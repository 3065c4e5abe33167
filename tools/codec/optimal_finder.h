// The best level's match finder: at every position, every match length
// with its nearest distance, and the nearest two-byte match.
//
// Two structures share the work, split by the run at a position (how many
// bytes equal to its first follow from it, itself included):
//
// - Positions whose run is at most kTreeRun bytes long go into binary
//   search trees of suffixes (LZMA's "bt" finder), one per hash of the
//   first three bytes.
//   A search walks from the newest node towards the suffix's place in byte
//   order and leaves the position as the new root. For every length L, the
//   nearest earlier position sharing L bytes lies on that walk (the newest
//   node of an interval in byte order that holds the suffix's place is on
//   the walk to that place), and no node before it on the walk shares L
//   bytes, so reporting each new longest match as it is met reports every
//   length with its nearest distance. Keys are cut at the longest length a
//   search can use; a node equal to the new one over that length can never
//   again be nearer than it and leaves the tree. There is no depth limit.
//
// - Positions with a longer run of a byte b (r > kTreeRun bytes of b from
//   them, then a byte that is not b) never enter a tree: there every earlier
//   run of b would be a node on the walk. Their matches follow from the
//   runs instead. Inside the run (not at its first byte) the previous
//   position matches r bytes at distance 1, so only longer matches count,
//   and a match longer than r must start exactly r bytes before the end of
//   an earlier run of b at least r long: its length is r plus the common
//   length of what follows the two runs, at the distance between the run
//   ends. So each long run keeps the earlier long runs of its byte within
//   reach with that common length, and a position takes those long enough
//   for its r, nearest first, each as long as it is longer than the ones
//   before (a staircase kept as r falls). At a long run's first byte the
//   nearest match of each length L <= r starts L bytes before the end of
//   the latest earlier run at least L long (a table for L up to kTreeRun,
//   the long runs beyond).
//
// A tree walk never misses a nearer position outside the trees: such a
// position shares at most r bytes with a position whose own run r is at
// most kTreeRun, the position just before (distance 1) shares r bytes too,
// and it is either in the tree or its match is reported first; at the
// first byte of a run, the nearest position sharing L <= r bytes ends its
// run exactly L bytes later and so is in a tree.
//
// Memory is fixed: 256 KiB of tree heads, 128 KiB of tree links, 256 KiB of
// two-byte heads, 33 KiB of run ends, a few KiB for the long runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace codec {

constexpr size_t kMinMatch = 3;
constexpr size_t kMaxMatch = 282;
constexpr size_t kMaxDistance = 8192;     // matches of 3 bytes and more
constexpr size_t kMaxPairDistance = 2303; // two-byte matches; 2304 would be the end code

struct MatchRecord {
  uint32_t len;
  uint32_t dist;
};
// The most records one position can have: one per length from 3 to 282.
constexpr size_t kMaxRecords = kMaxMatch - kMinMatch + 1;

class OptimalFinder {
public:
  OptimalFinder();

  // Starts over on `size` bytes at `data`; positions are offsets into them.
  // Inputs stay under 4 GiB (the archive's sizes are 32-bit).
  void Reset(const uint8_t* data, size_t size);

  // Writes to `out` each match at `pos` longer than every nearer one
  // (lengths increasing, each at its nearest distance) and returns their
  // count; *pairDist receives the distance of the nearest two-byte match
  // within reach, or 0. Every position must be passed, in order, to Find or
  // to Skip (which only takes the position in).
  size_t Find(size_t pos, MatchRecord* out, size_t* pairDist) { return Visit(pos, out, pairDist); }
  void Skip(size_t pos) {
    size_t pair;
    Visit(pos, nullptr, &pair);
  }

  // Runs longer than this stay out of the trees.
  static constexpr size_t kTreeRun = 32;

private:
  struct LongRun {
    uint32_t end; // the first byte after it
    uint32_t length;
    uint32_t prev; // the previous long run of its byte (index + 1), 0 for none
  };
  struct Candidate {
    uint32_t end, length, extra; // extra: common length after the two runs
  };

  size_t Visit(size_t pos, MatchRecord* out, size_t* pairDist);
  size_t TreeInsert(size_t pos, size_t limit, size_t best, MatchRecord* out, size_t n);
  void StartLongRun();
  size_t LongRunStart(size_t limit, MatchRecord* out, size_t n);
  size_t LongRunInside(size_t pos, size_t limit, MatchRecord* out, size_t n);

  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  std::vector<uint32_t> head_;     // per hash of three bytes: the newest tree node
  std::vector<uint32_t> below_;    // per slot: the smaller subtree, then the larger
  std::vector<uint32_t> pairLast_; // per two-byte prefix: its newest position
  // Per byte and length up to kTreeRun: the end (+ 1) of the latest run of
  // that byte at least that long.
  std::vector<uint32_t> lastEnd_;
  size_t runStart_ = 0, runEnd_ = 0;
  // Long runs, newest last, in a ring; per byte its newest (index + 1).
  std::vector<LongRun> runs_;
  uint32_t runCount_ = 0;
  uint32_t lastRun_[256] = {};
  // The current long run's candidates (nearest first), those that can serve
  // its inner positions (longest first), and the staircase (nearest first).
  std::vector<Candidate> candidates_;
  std::vector<uint32_t> byLength_;
  size_t nextByLength_ = 0;
  std::vector<uint32_t> stairs_;
};

} // namespace codec
