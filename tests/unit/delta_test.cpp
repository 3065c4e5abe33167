// The delta encoder of the tools against the updater's applier: every kind
// of change round trips, fed to the applier in pieces of every size.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "codec/delta_encoder.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Game-like bytes: mostly a few values, so short chance matches abound.
Bytes Noise(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& x : b) x = uint8_t(rng() % 8 == 0 ? rng() : rng() % 16);
  return b;
}
Bytes Spliced(Bytes b, size_t at, size_t drop, const Bytes& insert) {
  b.erase(b.begin() + at, b.begin() + at + drop);
  b.insert(b.begin() + at, insert.begin(), insert.end());
  return b;
}

Bytes Slice(const Bytes& b, size_t from, size_t to) { return Bytes(b.begin() + from, b.begin() + to); }
Bytes Flipped(Bytes b, size_t every) {
  for (size_t i = 1000; i < b.size(); i += every) b[i] ^= 0x5A;
  return b;
}
Bytes Joined(const std::vector<Bytes>& parts) {
  Bytes b;
  for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
  return b;
}

void WriteFile(const std::string& path, const Bytes& b) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_TRUE(f);
  EXPECT_EQ(b.empty() ? 0 : std::fwrite(b.data(), 1, b.size(), f), b.size());
  std::fclose(f);
}

struct Encoded {
  int result;
  Bytes delta;
  codec::DeltaStats stats;
  std::string error;
};
Encoded Encode(const Bytes& base, const Bytes& result, uint64_t limit = UINT64_MAX) {
  // Named by process: ctest runs the cases of this file at the same time.
  const std::string stem = testing::TempDir() + "delta_" + std::to_string(getpid());
  const std::string basePath = stem + "_base", resultPath = stem + "_result";
  WriteFile(basePath, base);
  WriteFile(resultPath, result);
  DeltaHeader header{uint32_t(base.size()), uint32_t(result.size()), {1}, {2}};
  Encoded e;
  auto sink = [&](const uint8_t* p, size_t n) { return e.delta.insert(e.delta.end(), p, p + n), true; };
  e.result = codec::EncodeDelta(basePath, resultPath, header, limit, sink, &e.stats, e.error);
  std::remove(basePath.c_str());
  std::remove(resultPath.c_str());
  return e;
}

// The applier's result, the delta fed in pieces of the sizes `pieces` cycles through.
Bytes Apply(const Bytes& base, const Bytes& delta, const std::vector<uint32_t>& pieces, DeltaStatus* status) {
  struct Context {
    const Bytes* base;
    Bytes out;
  } c{&base, {}};
  auto fetch = [](void* p, uint64_t offset, uint8_t* to, uint32_t count) {
    const Bytes& b = *static_cast<Context*>(p)->base;
    if (offset > b.size() || count > b.size() - offset) return 0;
    std::copy(b.begin() + offset, b.begin() + offset + count, to);
    return 1;
  };
  auto sink = [](void* p, const uint8_t* bytes, uint32_t count) {
    static_cast<Context*>(p)->out.insert(static_cast<Context*>(p)->out.end(), bytes, bytes + count);
    return 1;
  };
  Bytes workspace(kDeltaWorkspace);
  DeltaApplier applier;
  OpenDeltaApplier(&applier, fetch, &c, sink, &c, workspace.data());
  *status = DeltaStatus::More;
  for (size_t at = 0, i = 0; at < delta.size() && *status == DeltaStatus::More; ++i) {
    const uint32_t n = uint32_t(std::min<size_t>(pieces[i % pieces.size()], delta.size() - at));
    *status = FeedDelta(&applier, delta.data() + at, n);
    at += n;
  }
  if (*status == DeltaStatus::More) *status = FinishDelta(&applier);
  return c.out;
}

struct Case {
  const char* name;
  std::function<Bytes(const Bytes& base)> result;
  size_t baseSize;
  size_t mostDelta; // 0: no bound
};

TEST(Delta, EveryKindOfChangeRoundTrips) {
  const Bytes far = Noise(300000, 7);
  const Case cases[] = {
      {"edited", [](const Bytes& b) { return Flipped(b, 9973); }, 200000, 300},
      {"shifted", [](const Bytes& b) { return Spliced(Spliced(b, 3, 0, Noise(37, 2)), 900, 250, {}); }, 200000, 200},
      {"truncated", [](const Bytes& b) { return Slice(b, 0, 123457); }, 200000, 100},
      {"grown", [](const Bytes& b) { return Spliced(b, b.size(), 0, Noise(5000, 3)); }, 200000, 5200},
      {"emptied", [](const Bytes&) { return Bytes(); }, 200000, 80},
      {"empty base", [](const Bytes&) { return Noise(50000, 4); }, 0, 0},
      {"identical", [](const Bytes& b) { return b; }, 200000, 90},
      {"unrelated", [](const Bytes&) { return Noise(100000, 5); }, 200000, 0},
      {"moved block",
       [](const Bytes& b) { return Spliced(Spliced(b, 90000, 60000, {}), 1000, 0, Slice(b, 90000, 150000)); }, 200000,
       130},
      {"shorter than a hashed block", [](const Bytes&) { return Noise(5, 1); }, 3, 0},
      // Past the encoder's buffers and base cache: literals written before a
      // copy is found, a copy compared beyond its look-ahead, one from far
      // back, pages read again.
      {"long",
       [&far](const Bytes& b) {
         return Joined({Noise(4500000, 6), b, far, Slice(b, 0, 4096)});
       },
       17 << 20, 4500300},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes base = Noise(c.baseSize, 1);
    if (c.baseSize > (16 << 20)) std::copy(far.begin(), far.end(), base.begin() + (16 << 20) + 5000);
    const Bytes result = c.result(base);
    const Encoded e = Encode(base, result);
    ASSERT_EQ(e.result, 1) << e.error;
    EXPECT_EQ(e.stats.copied + e.stats.added, result.size());
    EXPECT_EQ(e.stats.deltaBytes, e.delta.size());
    EXPECT_LE(e.delta.size(), c.mostDelta ? c.mostDelta : SIZE_MAX);
    for (const std::vector<uint32_t>& pieces : {std::vector<uint32_t>{1, 2, 3, 4, 5, 6, 7}, {65521, 1 << 20}}) {
      DeltaStatus status;
      const Bytes out = Apply(base, e.delta, pieces, &status);
      EXPECT_EQ(status, DeltaStatus::Done);
      EXPECT_TRUE(out == result) << "pieces of " << pieces[0] << ": " << out.size() << " bytes of " << result.size();
    }
  }
}

TEST(Delta, StopsAtTheLimitAndNamesAFileItCannotRead) {
  const Bytes base = Noise(100000, 1);
  const Encoded whole = Encode(base, Spliced(base, 500, 0, Noise(3000, 2)));
  ASSERT_EQ(whole.result, 1);
  EXPECT_EQ(Encode(base, Spliced(base, 500, 0, Noise(3000, 2)), whole.delta.size()).delta, whole.delta);
  for (uint64_t limit : {uint64_t(0), uint64_t(79), uint64_t(whole.delta.size() - 1)}) {
    const Encoded cut = Encode(base, Spliced(base, 500, 0, Noise(3000, 2)), limit);
    EXPECT_EQ(cut.result, 2) << limit;
    EXPECT_LE(cut.delta.size(), limit);
  }
  EXPECT_EQ(Encode(base, Noise(100000, 9), 20000).result, 2);

  const std::string missing = testing::TempDir() + "delta_missing";
  DeltaHeader header{10, 10, {}, {}};
  std::string error;
  auto sink = [](const uint8_t*, size_t) { return true; };
  EXPECT_EQ(codec::EncodeDelta(missing, missing, header, UINT64_MAX, sink, nullptr, error), 0);
  EXPECT_EQ(error, missing);
}

} // namespace
