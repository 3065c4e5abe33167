// The best level's finder against a brute-force search, and the encoder fed
// in pieces and on threads against the one-call form.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "archive/archive.h"
#include "codec/encoder.h"
#include "codec/optimal_finder.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Runs of every length around the finder's split and the longest match,
// between stretches that repeat earlier ones, plain bytes and short runs.
Bytes RunsAndCopies(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  static const size_t kRuns[] = {2, 3, 31, 32, 33, 34, 40, 100, 281, 282, 283, 600};
  Bytes d;
  while (d.size() < n) {
    switch (rng() % 4) {
      case 0: d.insert(d.end(), kRuns[rng() % 12] + rng() % 3, uint8_t(rng() % 3)); break;
      case 1:
        for (size_t k = 1 + rng() % 6; k > 0; --k) d.push_back(uint8_t(rng() % 4));
        break;
      default:
        if (d.size() > 8) {
          const size_t from = d.size() - 1 - rng() % std::min<size_t>(d.size() - 1, 9000);
          for (size_t k = 0, len = 3 + rng() % 300; k < len; ++k) d.push_back(d[from + k]);
        }
    }
  }
  d.resize(n);
  return d;
}

// Every length's nearest distance at every position, by comparing every
// distance: common[d] is the match length at distance d, kept from the
// position after (one byte more when the bytes agree). The last record of
// each position is the nearest two-byte match, as {0, distance}.
std::vector<std::vector<codec::MatchRecord>> BruteForceRecords(const Bytes& d) {
  std::vector<std::vector<codec::MatchRecord>> out(d.size());
  std::vector<uint32_t> common(codec::kMaxDistance + 1, 0);
  for (size_t i = d.size(); i-- > 0;) {
    uint32_t best = 2, pair = 0;
    for (size_t dist = 1; dist <= codec::kMaxDistance; ++dist) {
      common[dist] = dist <= i && d[i] == d[i - dist] ? std::min<uint32_t>(common[dist] + 1, 282) : 0;
      if (common[dist] > best) {
        best = common[dist];
        out[i].push_back({best, uint32_t(dist)});
      }
      if (pair == 0 && common[dist] >= 2 && dist <= codec::kMaxPairDistance) pair = uint32_t(dist);
    }
    out[i].push_back({0, pair});
  }
  return out;
}

TEST(OptimalFinder, EveryLengthAtItsNearestDistance) {
  for (uint32_t seed = 0; seed < 6; ++seed) {
    const Bytes d = RunsAndCopies(seed < 3 ? 3000 : 24000, seed);
    const auto want = BruteForceRecords(d);
    codec::OptimalFinder finder;
    finder.Reset(d.data(), d.size());
    codec::MatchRecord got[codec::kMaxRecords + 1];
    for (size_t i = 0; i < d.size(); ++i) {
      size_t pair = 0;
      const size_t n = finder.Find(i, got, &pair);
      got[n] = {0, uint32_t(pair)};
      ASSERT_EQ(n + 1, want[i].size()) << "seed " << seed << " at " << i;
      for (size_t k = 0; k <= n; ++k)
        ASSERT_TRUE(got[k].len == want[i][k].len && got[k].dist == want[i][k].dist)
            << "seed " << seed << " at " << i << ": record " << k;
    }
  }
}

TEST(StreamEncoder, PiecesAndThreadsGiveTheOneCallStream) {
  const Bytes d = RunsAndCopies(kEncoderBlock * 2 + 12345, 7);
  std::mt19937 rng(8);
  for (int level : {kCompressFast, kCompressDefault, kCompressBest}) {
    const Bytes whole = CompressStream(d.data(), d.size(), level);
    Bytes plain(d.size());
    ASSERT_TRUE(DecompressStreamBounded(plain.data(), plain.size(), whole.data(), whole.size()));
    ASSERT_TRUE(plain == d) << "level " << level;
    for (unsigned threads : {1u, 2u, 3u}) {
      Bytes pieces;
      StreamEncoder encoder(
          level, [&](const uint8_t* p, size_t n) { pieces.insert(pieces.end(), p, p + n); }, threads);
      for (size_t at = 0; at < d.size();) {
        const size_t n = std::min(d.size() - at, size_t(rng() % 100000));
        encoder.Write(d.data() + at, n);
        at += n;
      }
      encoder.Finish();
      EXPECT_TRUE(pieces == whole) << "level " << level << ", " << threads << " threads";
      EXPECT_EQ(encoder.BytesOut(), whole.size());
    }
  }
}

} // namespace
