// Encoder speed, this encoder against an earlier one, side by side in one
// process: for every corpus file each level is run by both encoders in turn
// (old, new, old, new ... `--rounds` times; the fastest run of each counts),
// so a change in the machine's load falls on both alike. Throughput is input
// bytes per thread CPU second. bench/encoder-compare.sh builds this with the
// earlier encoder's sources renamed to OldCompressStream.
//
//   encoder_compare [--rounds N] [--levels 123] [--threads T] [--no-files] CORPUS_DIR
//
// Prints, per file (unless --no-files) and per category, MB/s before and now
// for each level asked and now/before; for level 3 also the two stream
// sizes, which must stay within a few bytes of each other (the same code
// bits, up to which of equally cheap codes is taken). With --threads T > 1,
// also this encoder's level 3 on T threads in elapsed time (the stream is
// checked to be the one-thread stream), which only means something on a
// machine with T idle cores.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "codec/encoder.h"

std::vector<uint8_t> OldCompressStream(const uint8_t* data, size_t size, int level);

namespace {

using Bytes = std::vector<uint8_t>;

double CpuNow() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + 1e-9 * double(ts.tv_nsec);
}

struct Row {
  size_t bytes = 0;
  double seconds[4][2] = {}; // [level][old, new]
  size_t sizes[4][2] = {};
  double threaded = 0; // level 3 on --threads threads, elapsed
  void Add(const Row& o) {
    bytes += o.bytes;
    threaded += o.threaded;
    for (int l = 0; l < 4; ++l)
      for (int w = 0; w < 2; ++w) {
        seconds[l][w] += o.seconds[l][w];
        sizes[l][w] += o.sizes[l][w];
      }
  }
};

[[noreturn]] void Usage() {
  std::fprintf(stderr, "usage: encoder_compare [--rounds N] [--levels 123] [--threads T] [--no-files] CORPUS_DIR\n");
  std::exit(2);
}

double MBs(size_t bytes, double s) { return s > 0 ? double(bytes) / s / 1e6 : 0; }

void Print(const std::string& name, const Row& r, const std::string& levels) {
  std::printf("%-34s %7.2f", name.c_str(), double(r.bytes) / 1e6);
  for (const char c : levels) {
    const int l = c - '0';
    const double before = MBs(r.bytes, r.seconds[l][0]), now = MBs(r.bytes, r.seconds[l][1]);
    std::printf(" | %7.1f %7.1f %5.2f", before, now, before > 0 ? now / before : 0);
  }
  if (levels.find('3') != std::string::npos)
    std::printf(" | %+6lld", (long long)r.sizes[3][1] - (long long)r.sizes[3][0]);
  if (r.threaded > 0) std::printf(" | %7.1f", MBs(r.bytes, r.threaded));
  std::printf("\n");
}

} // namespace

int main(int argc, char** argv) {
  int rounds = 3;
  unsigned threads = 1;
  std::string levels = "123", dir;
  bool files = true;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--rounds" && i + 1 < argc)
      rounds = std::max(1, std::atoi(argv[++i]));
    else if (a == "--levels" && i + 1 < argc)
      levels = argv[++i];
    else if (a == "--threads" && i + 1 < argc)
      threads = unsigned(std::max(1, std::atoi(argv[++i])));
    else if (a == "--no-files")
      files = false;
    else if (a == "--help" || a == "-h" || a.empty() || a[0] == '-')
      Usage();
    else
      dir = a;
  }
  if (dir.empty() || levels.empty() || levels.find_first_not_of("123") != std::string::npos) Usage();

  std::vector<std::filesystem::path> paths;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
    if (e.is_regular_file() && e.path().parent_path() != std::filesystem::path(dir)) paths.push_back(e.path());
  std::sort(paths.begin(), paths.end());
  if (paths.empty()) {
    std::fprintf(stderr, "encoder_compare: no files in category folders under %s\n", dir.c_str());
    return 1;
  }

  std::printf("MB/s of input, thread CPU time, fastest of %d rounds; per level: before, now, now/before", rounds);
  std::printf("; then level 3 bytes now - before");
  if (threads > 1) std::printf("; then level 3 MB/s on %u threads, elapsed time", threads);
  std::printf("\n");
  std::printf("%-34s %7s", "input", "MB");
  for (const char c : levels)
    std::printf(" | %7s %7s %5s", (std::string("L") + c + " bef").c_str(), (std::string("L") + c + " now").c_str(),
                "ratio");
  std::printf("\n");
  std::map<std::string, Row> categories;
  Row all;
  for (const auto& path : paths) {
    std::ifstream f(path, std::ios::binary);
    const Bytes data{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
    Row r;
    r.bytes = data.size();
    for (const char c : levels) {
      const int l = c - '0';
      double best[2] = {1e30, 1e30};
      for (int round = 0; round < rounds; ++round)
        for (int who = 0; who < 2; ++who) {
          const double t0 = CpuNow();
          const Bytes out = who == 0 ? OldCompressStream(data.data(), data.size(), l)
                                     : CompressStream(data.data(), data.size(), l);
          best[who] = std::min(best[who], CpuNow() - t0);
          r.sizes[l][who] = out.size();
        }
      r.seconds[l][0] = best[0];
      r.seconds[l][1] = best[1];
    }
    if (threads > 1 && levels.find('3') != std::string::npos) {
      const Bytes one = CompressStream(data.data(), data.size(), kCompressBest);
      r.threaded = 1e30;
      for (int round = 0; round < rounds; ++round) {
        Bytes out;
        const auto t0 = std::chrono::steady_clock::now();
        StreamEncoder encoder(
            kCompressBest, [&](const uint8_t* p, size_t n) { out.insert(out.end(), p, p + n); }, threads);
        encoder.Write(data.data(), data.size());
        encoder.Finish();
        r.threaded = std::min(r.threaded, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        if (out != one) {
          std::fprintf(stderr, "encoder_compare: %s: %u threads gave another stream\n", path.c_str(), threads);
          return 1;
        }
      }
    }
    const std::string category = path.parent_path().filename().string();
    if (files) Print(category + "/" + path.filename().string(), r, levels);
    categories[category].Add(r);
    all.Add(r);
    std::fflush(stdout);
  }
  std::printf("\n");
  for (const auto& [name, r] : categories) Print(name, r, levels);
  Print("all", all, levels);
  return 0;
}
