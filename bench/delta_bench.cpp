// Delta benchmark (bench/delta-compare.sh runs it):
//
//   delta_bench build BASE RESULT OUT    the delta of RESULT against BASE
//                                        through the stream encoder (level 2)
//                                        to OUT, as fa2 build stores it; its
//                                        figures on stderr
//   delta_bench measure BASE RESULT      prints: the full member's stored
//                                        size, the delta's, apply MB/s (the
//                                        delta's stream decoded and applied
//                                        to the base in memory), decode MB/s
//                                        (the full member's stream), the
//                                        applier alone MB/s
//   delta_bench generate BASE RESULT MIB a generated pair of MIB MiB: the
//                                        result is the base with an edit, an
//                                        insertion and a deletion every MiB
//
// Stored sizes are what fa2 build keeps: the stream, or the plain bytes when
// the stream is not smaller. Speeds are of result bytes in the thread's CPU
// time, the fastest of 3 runs.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "codec/delta_encoder.h"
#include "codec/encoder.h"
#include "cpu_time.h"

namespace {

using Bytes = std::vector<uint8_t>;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "delta_bench: %s\n", what.c_str());
  std::exit(1);
}

double BestTime(const std::function<void()>& run) {
  double best = 1e30;
  for (int i = 0; i < 3; ++i) {
    const double t0 = CpuNow();
    run();
    best = std::min(best, CpuNow() - t0);
  }
  return best;
}

Bytes ReadFile(const char* path) {
  std::FILE* f = std::fopen(path, "rb");
  if (!f) Fail(std::string("cannot read ") + path);
  Bytes b;
  uint8_t piece[1 << 16];
  size_t n;
  while ((n = std::fread(piece, 1, sizeof piece, f)) > 0) b.insert(b.end(), piece, piece + n);
  std::fclose(f);
  return b;
}
uint64_t FileSize(const char* path) {
  std::FILE* f = std::fopen(path, "rb");
  if (!f || fseeko(f, 0, SEEK_END) != 0) Fail(std::string("cannot read ") + path);
  const uint64_t size = uint64_t(ftello(f));
  std::fclose(f);
  return size;
}

// The delta of `result` against `base`, through the level-2 encoder to `sink`.
codec::DeltaStats Delta(const char* base, const char* result, const StreamEncoder::Sink& sink, uint64_t* plain) {
  DeltaHeader header{uint32_t(FileSize(base)), uint32_t(FileSize(result)), {}, {}};
  StreamEncoder encoder(kCompressDefault, sink);
  codec::DeltaStats stats;
  std::string error;
  *plain = 0;
  auto take = [&](const uint8_t* p, size_t n) { return encoder.Write(p, n), *plain += n, true; };
  if (codec::EncodeDelta(base, result, header, UINT64_MAX, take, &stats, error) != 1) Fail("cannot read " + error);
  encoder.Finish();
  return stats;
}

int Build(const char* base, const char* result, const char* outPath) {
  std::FILE* out = std::fopen(outPath, "wb");
  if (!out) Fail(std::string("cannot write ") + outPath);
  uint64_t stream = 0, plain;
  const double t0 = CpuNow();
  const codec::DeltaStats s = Delta(
      base, result, [&](const uint8_t* p, size_t n) { stream += n, std::fwrite(p, 1, n, out); }, &plain);
  const double t = CpuNow() - t0;
  std::fclose(out);
  std::fprintf(stderr,
               "delta %llu bytes (stream %llu): %llu copies of %llu bytes, %llu adds of %llu bytes; index %.1f MiB, "
               "stride %u; %.2f s CPU\n",
               (unsigned long long)plain, (unsigned long long)stream, (unsigned long long)s.copies,
               (unsigned long long)s.copied, (unsigned long long)s.adds, (unsigned long long)s.added,
               double(s.indexBytes) / 1048576, s.stride, t);
  return 0;
}

int Measure(const char* basePath, const char* resultPath) {
  const Bytes base = ReadFile(basePath), result = ReadFile(resultPath);
  const Bytes full = CompressStream(result.data(), result.size(), kCompressDefault);
  Bytes deltaStream, delta;
  uint64_t plain;
  Delta(
      basePath, resultPath, [&](const uint8_t* p, size_t n) { deltaStream.insert(deltaStream.end(), p, p + n); },
      &plain);
  delta.resize(plain);
  if (!DecompressStreamBounded(delta.data(), delta.size(), deltaStream.data(), deltaStream.size()))
    Fail("the delta's stream does not decode");

  struct Context {
    const Bytes* base;
    const Bytes* result;
    uint64_t at;
    bool same;
  } c{&base, &result, 0, true};
  auto fetch = [](void* p, uint64_t offset, uint8_t* to, uint32_t count) {
    const Bytes& b = *static_cast<Context*>(p)->base;
    if (offset > b.size() || count > b.size() - offset) return 0;
    std::memcpy(to, b.data() + offset, count);
    return 1;
  };
  auto sink = [](void* p, const uint8_t* bytes, uint32_t count) {
    Context* c = static_cast<Context*>(p);
    c->same = c->same && c->at + count <= c->result->size() && !std::memcmp(c->result->data() + c->at, bytes, count);
    c->at += count;
    return 1;
  };
  auto discard = [](void*, const uint8_t*, uint32_t) { return 1; };
  Bytes workspace(kDeltaWorkspace), decoded(std::max(result.size(), delta.size()));
  // Pieces of 64 KiB, as the member reader hands them on.
  auto apply = [&](const Bytes& d, PieceSink to) {
    DeltaApplier a;
    OpenDeltaApplier(&a, fetch, &c, to, &c, workspace.data());
    DeltaStatus status = DeltaStatus::More;
    for (size_t at = 0; at < d.size() && status == DeltaStatus::More; at += 65536)
      status = FeedDelta(&a, d.data() + at, uint32_t(std::min<size_t>(65536, d.size() - at)));
    return status == DeltaStatus::More ? FinishDelta(&a) : status;
  };
  if (apply(delta, sink) != DeltaStatus::Done || !c.same || c.at != result.size()) Fail("the delta does not apply");

  const double applyOnly = BestTime([&] { apply(delta, discard); });
  const double applyAll = BestTime([&] {
    DecompressStreamBounded(decoded.data(), delta.size(), deltaStream.data(), deltaStream.size());
    apply(decoded, discard);
  });
  const double decode = BestTime([&] {
    DecompressStreamBounded(decoded.data(), result.size(), full.data(), full.size());
  });
  const double mb = double(result.size()) / 1e6;
  std::printf("%zu %zu %.0f %.0f %.0f\n", std::min(full.size(), result.size()),
              std::min<size_t>(deltaStream.size(), plain), mb / applyAll, mb / decode, mb / applyOnly);
  return 0;
}

// Game-like bytes, streamed: runs, small values and repeats within a few KiB.
struct Generator {
  uint64_t state;
  uint64_t Next() {
    state ^= state << 13, state ^= state >> 7, state ^= state << 17;
    return state;
  }
  void Fill(uint8_t* p, size_t n) {
    for (size_t i = 0; i < n;) {
      const uint64_t r = Next();
      const size_t run = std::min<size_t>(n - i, 1 + (r >> 8) % 64);
      switch (r & 3) {
        case 0: std::memset(p + i, int(r >> 16), run); break;
        case 1:
          if (i >= 4096) {
            std::memmove(p + i, p + i - 1 - (r >> 20) % 4096, run);
            break;
          }
          [[fallthrough]];
        default:
          for (size_t k = 0; k < run; ++k) p[i + k] = uint8_t(Next() & 0x1F);
      }
      i += run;
    }
  }
};

int Generate(const char* basePath, const char* resultPath, uint64_t mib) {
  std::FILE* base = std::fopen(basePath, "wb");
  std::FILE* result = std::fopen(resultPath, "wb");
  if (!base || !result) Fail("cannot write the pair");
  Generator g{0x9E3779B97F4A7C15ull}, edits{12345};
  Bytes piece(1 << 20), other(4096);
  for (uint64_t i = 0; i < mib; ++i) {
    g.Fill(piece.data(), piece.size());
    std::fwrite(piece.data(), 1, piece.size(), base);
    // An edit in place, an insertion and a deletion at places of their own.
    const size_t at = edits.Next() % (piece.size() - 3 * other.size());
    edits.Fill(other.data(), other.size());
    std::memcpy(piece.data() + at, other.data(), 100 + edits.Next() % 1000);
    const size_t insert = at + 4096 + edits.Next() % 4096, length = 1 + edits.Next() % 2000;
    const size_t drop = insert + 4096, dropped = 1 + edits.Next() % 2000;
    std::fwrite(piece.data(), 1, insert, result);
    std::fwrite(other.data(), 1, length, result);
    std::fwrite(piece.data() + insert, 1, drop - insert, result);
    std::fwrite(piece.data() + drop + dropped, 1, piece.size() - drop - dropped, result);
  }
  if (std::fclose(base) != 0 || std::fclose(result) != 0) Fail("cannot write the pair");
  return 0;
}

} // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "build" && argc == 5) return Build(argv[2], argv[3], argv[4]);
  if (mode == "measure" && argc == 4) return Measure(argv[2], argv[3]);
  if (mode == "generate" && argc == 5) return Generate(argv[2], argv[3], std::strtoull(argv[4], nullptr, 10));
  std::fprintf(stderr, "usage: delta_bench build BASE RESULT OUT | measure BASE RESULT | generate BASE RESULT MIB\n");
  return 2;
}
