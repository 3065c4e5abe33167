// Codec benchmark: our stream decoders and encoder levels next to memcpy,
// LZ4, zlib, libdeflate and UCL on the same data in the same run.
//
//   codec_bench [--reps N] [--min-ms M] [--no-files] CORPUS_DIR
//   codec_bench --smoke          (a few hundred KB generated in memory, one
//                                 pass, every round trip checked)
//
// CORPUS_DIR holds one folder per category (bench/make-corpus.sh builds it).
// Each file is one stream. Rows: every file (unless --no-files), every
// category (sums over its files) and "all", the whole corpus concatenated as
// one stream. Throughput is always of decoded bytes, in the thread's CPU
// time; each decode is repeated until it has run M ms (default 200) at least
// N times (default 3) and the fastest run counts. Encoding runs once.

#include <lz4.h>
#include <lz4hc.h>
#include <libdeflate.h>
#include <ucl/ucl.h>
#include <zlib.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "codec/encoder.h"
#include "cpu_time.h"

namespace {

using Bytes = std::vector<uint8_t>;

// ---- The naive reference decoder: one bit at a time, one byte at a time ---------------

void NaiveDecode(uint8_t* dest, const uint8_t* src) {
  const uint8_t* in = src;
  uint8_t* out = dest;
  uint32_t word = 0;
  int left = 0;
  auto bit = [&]() -> uint32_t {
    if (left == 0) {
      word = uint32_t(in[0]) | uint32_t(in[1]) << 8 | uint32_t(in[2]) << 16 | uint32_t(in[3]) << 24;
      in += 4;
      left = 32;
    }
    --left;
    return word >> left & 1;
  };
  auto bits = [&](int n) {
    uint32_t v = 0;
    while (n-- > 0) v = v << 1 | bit();
    return v;
  };
  for (;;) {
    if (bit()) {
      *out++ = *in++;
      continue;
    }
    uint32_t dist;
    uint32_t len;
    if (bit()) {
      const uint32_t wide = bit();
      uint32_t v = *in++;
      if (wide) {
        v = 256 + 8 * v + bits(3);
        if (v == 2303) return;
      }
      dist = v + 1;
      len = 2;
    } else {
      int cls = 0;
      while (cls < 4 && !bit()) ++cls;
      static const int kLow[5] = {1, 1, 2, 3, 4};
      static const uint32_t kBase[5] = {0, 512, 1024, 2048, 4096};
      const uint32_t b = *in++;
      dist = kBase[cls] + (b << kLow[cls]) + bits(kLow[cls]) + 1;
      int zeros = 0;
      while (zeros < 5 && !bit()) ++zeros;
      switch (zeros) {
        case 0: len = 3; break;
        case 1: len = 4; break;
        case 2: len = 5 + bits(1); break;
        case 3: len = 7 + bits(2); break;
        case 4: len = 11 + bits(4); break;
        default: len = 27 + *in++; break;
      }
    }
    for (uint32_t i = 0; i < len; ++i, ++out) *out = out[-int(dist)];
  }
}

// ---- Timing ----------------------------------------------------------------------------

struct Options {
  int reps = 3;
  double minMs = 200;
  bool files = true;
  bool smoke = false;
  size_t storedL3 = 0, storedGreedy = 0; // per file, plain when the stream is not smaller
};
Options g;


// Fastest of at least g.reps runs lasting g.minMs in all.
double BestTime(const std::function<void()>& run) {
  double best = 1e30;
  double total = 0;
  for (int i = 0; i < g.reps || total * 1000 < g.minMs; ++i) {
    const double t0 = CpuNow();
    run();
    const double t = CpuNow() - t0;
    best = std::min(best, t);
    total += t;
  }
  return best;
}

double OnceTime(const std::function<void()>& run) {
  const double t0 = CpuNow();
  run();
  return CpuNow() - t0;
}

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "codec_bench: %s\n", what.c_str());
  std::exit(1);
}

// ---- The codecs --------------------------------------------------------------------------

Bytes ZlibCompress(const Bytes& in, int windowBits) {
  z_stream z{};
  if (deflateInit2(&z, 9, Z_DEFLATED, windowBits, 9, Z_DEFAULT_STRATEGY) != Z_OK) Fail("deflateInit2");
  Bytes out(deflateBound(&z, in.size()));
  z.next_in = const_cast<uint8_t*>(in.data());
  z.avail_in = uInt(in.size());
  z.next_out = out.data();
  z.avail_out = uInt(out.size());
  if (deflate(&z, Z_FINISH) != Z_STREAM_END) Fail("deflate");
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

void ZlibDecompress(const Bytes& in, uint8_t* out, size_t size) {
  z_stream z{};
  inflateInit(&z);
  z.next_in = const_cast<uint8_t*>(in.data());
  z.avail_in = uInt(in.size());
  z.next_out = out;
  z.avail_out = uInt(size);
  if (inflate(&z, Z_FINISH) != Z_STREAM_END) Fail("inflate");
  inflateEnd(&z);
}

Bytes Lz4Compress(const Bytes& in) {
  Bytes out(size_t(LZ4_compressBound(int(in.size()))));
  const int n = LZ4_compress_HC(reinterpret_cast<const char*>(in.data()), reinterpret_cast<char*>(out.data()),
                                int(in.size()), int(out.size()), 12);
  if (n <= 0) Fail("LZ4_compress_HC");
  out.resize(size_t(n));
  return out;
}

Bytes UclCompress(const Bytes& in) {
  Bytes out(in.size() + in.size() / 8 + 256);
  ucl_uint n = ucl_uint(out.size());
  // 32-bit little-endian control words; every other setting at its default
  // (all bits set). Level 8: UCL's decoder speed hardly depends on the level,
  // and 10 is very slow.
  ucl_compress_config_t conf;
  std::memset(&conf, 0xFF, sizeof conf);
  conf.bb_endian = 0;
  conf.bb_size = 32;
  if (ucl_nrv2e_99_compress(in.data(), ucl_uint(in.size()), out.data(), &n, nullptr, 8, &conf, nullptr) != UCL_E_OK)
    Fail("ucl_nrv2e_99_compress");
  out.resize(n);
  return out;
}

// ---- One input ----------------------------------------------------------------------------

struct Result {
  size_t size = 0;
  // Compressed sizes.
  size_t ours[3] = {};
  size_t greedy = 0, zlib9 = 0, zlib9w8k = 0, lz4hc = 0, ucl = 0;
  // Seconds: decodes (best run), encodes (one run).
  double dMemcpy = 0, dFast = 0, dBounded = 0, dNaive = 0, dLz4 = 0, dZlib = 0, dLibdeflate = 0, dUcl = 0;
  double eOurs[3] = {}, eZlib = 0, eLz4 = 0;

  void Add(const Result& r) {
    size += r.size;
    for (int i = 0; i < 3; ++i) {
      ours[i] += r.ours[i];
      eOurs[i] += r.eOurs[i];
    }
    greedy += r.greedy, zlib9 += r.zlib9, zlib9w8k += r.zlib9w8k, lz4hc += r.lz4hc, ucl += r.ucl;
    dMemcpy += r.dMemcpy, dFast += r.dFast, dBounded += r.dBounded, dNaive += r.dNaive;
    dLz4 += r.dLz4, dZlib += r.dZlib, dLibdeflate += r.dLibdeflate, dUcl += r.dUcl;
    eZlib += r.eZlib, eLz4 += r.eLz4;
  }
};

void Check(const Bytes& want, const Bytes& got, const char* who, const std::string& name) {
  if (std::memcmp(want.data(), got.data(), want.size()) != 0) Fail(std::string(who) + " decoded " + name + " wrongly");
}

Result Measure(const Bytes& data, const std::string& name) {
  Result r;
  r.size = data.size();
  Bytes streams[3];
  for (int level = 1; level <= 3; ++level) {
    r.eOurs[level - 1] = OnceTime([&] { streams[level - 1] = CompressStream(data.data(), data.size(), level); });
    r.ours[level - 1] = streams[level - 1].size();
  }
  r.greedy = CompressStreamGreedyReference(data.data(), data.size()).size();
  Bytes zlib9;
  r.eZlib = OnceTime([&] { zlib9 = ZlibCompress(data, 15); });
  r.zlib9 = zlib9.size();
  r.zlib9w8k = ZlibCompress(data, 13).size();
  Bytes lz4;
  r.eLz4 = OnceTime([&] { lz4 = Lz4Compress(data); });
  r.lz4hc = lz4.size();
  const Bytes ucl = UclCompress(data);
  r.ucl = ucl.size();

  const Bytes& ourStream = streams[2];
  // Exact-size copies of every stream, so a read past one is a read past its block.
  Bytes out(data.size());
  const size_t n = data.size();

  // Every decoder's output checked once, then timed.
  for (int level = 0; level < 3; ++level) {
    std::fill(out.begin(), out.end(), 0);
    DecompressStream(out.data(), streams[level].data());
    Check(data, out, "DecompressStream", name);
    std::fill(out.begin(), out.end(), 0);
    if (!DecompressStreamBounded(out.data(), n, streams[level].data(), streams[level].size()))
      Fail("DecompressStreamBounded refused " + name);
    Check(data, out, "DecompressStreamBounded", name);
  }
  std::fill(out.begin(), out.end(), 0);
  NaiveDecode(out.data(), ourStream.data());
  Check(data, out, "the naive decoder", name);

  r.dMemcpy = BestTime([&] { std::memcpy(out.data(), data.data(), n); });
  r.dFast = BestTime([&] { DecompressStream(out.data(), ourStream.data()); });
  r.dBounded = BestTime([&] { DecompressStreamBounded(out.data(), n, ourStream.data(), ourStream.size()); });
  r.dNaive = BestTime([&] { NaiveDecode(out.data(), ourStream.data()); });

  std::fill(out.begin(), out.end(), 0);
  r.dLz4 = BestTime([&] {
    if (LZ4_decompress_safe(reinterpret_cast<const char*>(lz4.data()), reinterpret_cast<char*>(out.data()),
                            int(lz4.size()), int(n)) != int(n))
      Fail("LZ4_decompress_safe");
  });
  Check(data, out, "LZ4", name);

  std::fill(out.begin(), out.end(), 0);
  r.dZlib = BestTime([&] { ZlibDecompress(zlib9, out.data(), n); });
  Check(data, out, "zlib", name);

  std::fill(out.begin(), out.end(), 0);
  libdeflate_decompressor* ld = libdeflate_alloc_decompressor();
  r.dLibdeflate = BestTime([&] {
    if (libdeflate_zlib_decompress(ld, zlib9.data(), zlib9.size(), out.data(), n, nullptr) != LIBDEFLATE_SUCCESS)
      Fail("libdeflate_zlib_decompress");
  });
  libdeflate_free_decompressor(ld);
  Check(data, out, "libdeflate", name);

  std::fill(out.begin(), out.end(), 0);
  r.dUcl = BestTime([&] {
    ucl_uint got = ucl_uint(n);
    if (ucl_nrv2e_decompress_le32(ucl.data(), ucl_uint(ucl.size()), out.data(), &got, nullptr) != UCL_E_OK || got != n)
      Fail("ucl_nrv2e_decompress_le32");
  });
  Check(data, out, "UCL", name);
  return r;
}

// ---- Report -------------------------------------------------------------------------------

double MBs(size_t bytes, double s) { return s > 0 ? double(bytes) / s / 1e6 : 0; }

void PrintHeader() {
  std::printf("\nCompressed size: ours as %% of the input; others as multiples of ours (level 3)\n");
  std::printf("%-28s %9s | %6s %6s %6s %6s | %6s %6s %6s %6s %6s\n", "input", "MB", "L3 %", "L1 %", "L2 %", "L3/gr",
              "zlib9", "z9-8K", "lz4hc", "ucl", "greedy");
}

void PrintSizes(const std::string& name, const Result& r) {
  const double ours = double(r.ours[2]);
  std::printf("%-28s %9.2f | %6.2f %6.2f %6.2f %6.3f | %6.3f %6.3f %6.3f %6.3f %6.3f\n", name.c_str(),
              double(r.size) / 1e6, 100.0 * ours / double(r.size), 100.0 * double(r.ours[0]) / double(r.size),
              100.0 * double(r.ours[1]) / double(r.size), ours / double(r.greedy), double(r.zlib9) / ours,
              double(r.zlib9w8k) / ours, double(r.lz4hc) / ours, double(r.ucl) / ours, double(r.greedy) / ours);
}

// "ours" in the ratios is the bounded decoder: it is the faster of the two
// (knowing where the output ends, it can write whole groups past a copy), and
// like LZ4_decompress_safe it checks its input.
void PrintSpeedHeader() {
  std::printf(
      "\nDecode MB/s of output (ours: level-3 streams); ours (bounded) against each as the "
      "other's time / ours; bnd/tr: bounded time / trusted time\n");
  std::printf("%-28s %7s %7s %7s %6s | %6s %6s %6s %6s %6s %6s | %6s\n", "input", "trusted", "bounded", "memcpy",
              "naive", "/lz4", "/zlib", "/ldefl", "/ucl", "/memcp", "/naive", "bnd/tr");
}

void PrintSpeed(const std::string& name, const Result& r) {
  const double ours = r.dBounded;
  std::printf("%-28s %7.0f %7.0f %7.0f %6.0f | %6.2f %6.2f %6.2f %6.2f %6.3f %6.2f | %6.2f\n", name.c_str(),
              MBs(r.size, r.dFast), MBs(r.size, r.dBounded), MBs(r.size, r.dMemcpy), MBs(r.size, r.dNaive),
              r.dLz4 / ours, r.dZlib / ours, r.dLibdeflate / ours, r.dUcl / ours, r.dMemcpy / ours, r.dNaive / ours,
              r.dBounded / r.dFast);
}

void PrintOthersHeader() {
  std::printf("\nDecode MB/s of the others; encode MB/s of input\n");
  std::printf("%-28s %7s %7s %7s %7s | %6s %6s %6s %6s %6s\n", "input", "lz4", "zlib", "ldefl", "ucl", "L1", "L2", "L3",
              "zlib9", "lz4hc");
}

void PrintOthers(const std::string& name, const Result& r) {
  std::printf("%-28s %7.0f %7.0f %7.0f %7.0f | %6.1f %6.1f %6.1f %6.1f %6.1f\n", name.c_str(), MBs(r.size, r.dLz4),
              MBs(r.size, r.dZlib), MBs(r.size, r.dLibdeflate), MBs(r.size, r.dUcl), MBs(r.size, r.eOurs[0]),
              MBs(r.size, r.eOurs[1]), MBs(r.size, r.eOurs[2]), MBs(r.size, r.eZlib), MBs(r.size, r.eLz4));
}

Bytes ReadFile(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// A few hundred KB for the smoke run: text, binary records, noise, a run.
std::vector<std::pair<std::string, Bytes>> SmokeInputs() {
  std::mt19937 rng(1);
  static const char* const kWords[] = {"update", "archive", "game", "file", "the", "of", "folder", "version"};
  Bytes text;
  while (text.size() < 150000) {
    const char* w = kWords[rng() % 8];
    text.insert(text.end(), w, w + std::strlen(w));
    text.push_back(rng() % 9 ? ' ' : '\n');
  }
  Bytes binary;
  for (uint32_t i = 0; binary.size() < 100000; ++i) {
    const uint32_t rec[4] = {i, i * 3, uint32_t(rng() % 16), 0x01010101u * (i % 7)};
    binary.insert(binary.end(), reinterpret_cast<const uint8_t*>(rec), reinterpret_cast<const uint8_t*>(rec + 4));
  }
  Bytes noise(40000);
  for (auto& b : noise) b = uint8_t(rng() >> 24);
  noise.insert(noise.end(), 20000, 0);
  return {{"smoke/text", text}, {"smoke/binary", binary}, {"smoke/noise+run", noise}};
}

} // namespace

int main(int argc, char** argv) {
  std::string dir;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--smoke")
      g.smoke = true;
    else if (a == "--reps" && i + 1 < argc)
      g.reps = std::atoi(argv[++i]);
    else if (a == "--min-ms" && i + 1 < argc)
      g.minMs = std::atof(argv[++i]);
    else if (a == "--no-files")
      g.files = false;
    else if (!a.empty() && a[0] != '-')
      dir = a;
    else
      Fail("usage: codec_bench [--reps N] [--min-ms M] [--no-files] CORPUS_DIR | --smoke");
  }
  if (ucl_init() != UCL_E_OK) Fail("ucl_init");

  // (category, name, bytes), sorted by path.
  std::vector<std::pair<std::string, Bytes>> inputs;
  if (g.smoke) {
    g.reps = 1;
    g.minMs = 0;
    inputs = SmokeInputs();
  } else {
    if (dir.empty()) Fail("no corpus folder given (bench/make-corpus.sh builds build/corpus)");
    std::vector<std::filesystem::path> paths;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
      if (e.is_regular_file() && e.path().parent_path() != std::filesystem::path(dir)) paths.push_back(e.path());
    std::sort(paths.begin(), paths.end());
    for (const auto& p : paths) inputs.emplace_back(std::filesystem::relative(p, dir).generic_string(), ReadFile(p));
    if (inputs.empty()) Fail("no files under " + dir);
  }

  std::map<std::string, Result> categories;
  std::vector<std::pair<std::string, Result>> files;
  Bytes all;
  for (const auto& [name, data] : inputs) {
    const Result r = Measure(data, name);
    g.storedL3 += std::min(r.ours[2], r.size);
    g.storedGreedy += std::min(r.greedy, r.size);
    std::fprintf(stderr, "measured %s\n", name.c_str());
    files.emplace_back(name, r);
    categories[name.substr(0, name.find('/'))].Add(r);
    all.insert(all.end(), data.begin(), data.end());
  }
  const Result whole = Measure(all, "all");

  auto table = [&](void (*header)(), void (*row)(const std::string&, const Result&)) {
    header();
    if (g.files)
      for (const auto& [name, r] : files) row(name, r);
    for (const auto& [name, r] : categories) row("[" + name + "]", r);
    row("all (one stream)", whole);
  };
  table(PrintHeader, PrintSizes);
  table(PrintSpeedHeader, PrintSpeed);
  table(PrintOthersHeader, PrintOthers);
  Result sum;
  for (const auto& [name, r] : files) sum.Add(r);
  std::printf("\nsum over files: L3 %zu bytes, greedy over the same finder %zu bytes: L3 %.2f%% smaller\n", sum.ours[2],
              sum.greedy, 100.0 * (1.0 - double(sum.ours[2]) / double(sum.greedy)));
  std::printf("stored as fa2 pack stores them (plain when not smaller): L3 %zu, greedy %zu: L3 %.2f%% smaller\n",
              g.storedL3, g.storedGreedy, 100.0 * (1.0 - double(g.storedL3) / double(g.storedGreedy)));
  if (g.smoke) std::printf("smoke run: every round trip checked\n");
  return 0;
}
