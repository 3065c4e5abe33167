// The delta encoder (delta_encoder.h). The base is indexed by a hash of the
// kWindow bytes at every stride-th position (the stride grows with the base
// so the index never passes kMaxSlots entries); the result is scanned with
// the same hash rolled over every position. A position's candidates are the
// base blocks its hash finds and the continuation, the base byte as far past
// the last copy's end as the result has gone since (which resumes a copy
// after bytes changed in place). Each candidate is checked against the base
// and extended both ways; the longest wins when it pays, else the byte is
// left for an "add". Performance and the measurements behind the figures:
// docs/performance.md, "Delta members".

#include "codec/delta_encoder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

namespace codec {
namespace {

constexpr uint32_t kWindow = 16;                  // bytes hashed at a position
constexpr uint32_t kMinStride = 8;                // base positions between indexed blocks, at least
constexpr uint32_t kMaxSlots = 1u << 24;          // index entries (8 bytes each), at most
constexpr uint32_t kMinCopy = 24;                 // a copy found through the index, at least
constexpr uint32_t kMinContinuation = 8;          // a copy resuming at the continuation, at least
constexpr uint32_t kPageBits = 16;                // the base cache: 256 pages of 64 KiB
constexpr uint32_t kPages = 256;                  //
constexpr size_t kResultBuffer = size_t(4) << 20; // the result's window
constexpr uint64_t kLookAhead = 64 << 10;         // how far candidates are compared before one is chosen
constexpr uint64_t kMaxPending = 1 << 20;         // literals held back before an "add" is written
constexpr uint64_t kKeepBehind = 64 << 10;        // of those, kept for extending a later copy backwards
constexpr size_t kOutBuffer = 256 << 10;
constexpr uint32_t kEmpty = 0xFFFFFFFFu; // no block starts there: it leaves no room for kWindow bytes

constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;

std::FILE* OpenRead(const std::string& path) {
#ifdef _WIN32
  return _wfopen(std::filesystem::u8path(path).wstring().c_str(), L"rb");
#else
  return std::fopen(path.c_str(), "rb");
#endif
}

bool ReadAt(std::FILE* file, uint64_t offset, uint8_t* to, size_t count) {
#ifdef _WIN32
  if (_fseeki64(file, int64_t(offset), SEEK_SET) != 0) return false;
#else
  if (fseeko(file, off_t(offset), SEEK_SET) != 0) return false;
#endif
  return std::fread(to, 1, count, file) == count;
}

struct File {
  std::FILE* file = nullptr;
  ~File() {
    if (file) std::fclose(file);
  }
};

constexpr uint64_t Power(uint64_t base, uint32_t exponent) {
  uint64_t r = 1;
  while (exponent--) r *= base;
  return r;
}
constexpr uint64_t kOutgoing = Power(kMultiplier, kWindow); // the weight of the byte leaving the window

uint64_t HashOf(const uint8_t* p) {
  uint64_t h = 0;
  for (uint32_t i = 0; i < kWindow; ++i) h = h * kMultiplier + p[i];
  return h;
}

// The low bits of a polynomial hash depend only on the low bits of the
// bytes; slot and check are taken from mixed high bits.
uint32_t SlotOf(uint64_t h, uint32_t slotBits) {
  return uint32_t((h * 0xD6E8FEB86659FD93ull) >> (64 - slotBits)) & ~1u;
}
uint32_t CheckOf(uint64_t h) { return uint32_t(h >> 32); }

struct Entry {
  uint32_t position;
  uint32_t check;
};

// Bytes equal at the front of a and b, at most n.
size_t MatchLength(const uint8_t* a, const uint8_t* b, size_t n) {
  size_t i = 0;
  while (i + 8 <= n) {
    uint64_t x, y;
    std::memcpy(&x, a + i, 8);
    std::memcpy(&y, b + i, 8);
    if (x != y) return i + size_t(__builtin_ctzll(x ^ y) >> 3);
    i += 8;
  }
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

// Random reads of the base: direct-mapped pages.
class BaseCache {
public:
  BaseCache(std::FILE* file, uint64_t size)
      : file_(file), size_(size), data_(new uint8_t[size_t(kPages) << kPageBits]), tags_(kPages, UINT64_MAX) {}
  // The base from `position` (below its size) to its page's end, `*avail` bytes.
  const uint8_t* At(uint64_t position, size_t* avail) {
    const uint64_t page = position >> kPageBits;
    const size_t slot = size_t(page % kPages);
    uint8_t* bytes = data_.get() + (slot << kPageBits);
    const uint64_t start = page << kPageBits;
    const size_t count = size_t(std::min<uint64_t>(uint64_t(1) << kPageBits, size_ - start));
    if (tags_[slot] != page) {
      if (!ReadAt(file_, start, bytes, count)) {
        failed = true;
        std::memset(bytes, 0, count);
      }
      tags_[slot] = page;
    }
    const size_t offset = size_t(position - start);
    *avail = count - offset;
    return bytes + offset;
  }
  uint8_t Byte(uint64_t position) {
    size_t avail;
    return *At(position, &avail);
  }
  bool failed = false;

private:
  std::FILE* file_;
  uint64_t size_;
  std::unique_ptr<uint8_t[]> data_; // left unwritten until read: only the pages used count
  std::vector<uint64_t> tags_;
};

// The result read forward through one buffer: bytes [start, end) present.
class ResultWindow {
public:
  ResultWindow(std::FILE* file, uint64_t size) : file_(file), size_(size), buffer_(kResultBuffer) {}
  // Makes the bytes up to `to` (at most the size) present, dropping those
  // before `keep` when room is needed.
  void Ensure(uint64_t keep, uint64_t to) {
    to = std::min(to, size_);
    if (to <= end) return;
    if (to - start > buffer_.size()) {
      std::memmove(buffer_.data(), buffer_.data() + (keep - start), size_t(end - keep));
      start = keep;
    }
    const size_t count = size_t(std::min<uint64_t>(size_ - end, buffer_.size() - (end - start)));
    if (std::fread(buffer_.data() + (end - start), 1, count, file_) != count) failed = true;
    end += count;
  }
  const uint8_t* At(uint64_t position) const { return buffer_.data() + (position - start); }
  uint64_t start = 0, end = 0;
  bool failed = false;

private:
  std::FILE* file_;
  uint64_t size_;
  std::vector<uint8_t> buffer_;
};

class Encoder {
public:
  Encoder(std::FILE* base, std::FILE* result, const DeltaHeader& header, uint64_t limit, const DeltaSink& sink)
      : header_(header), limit_(limit), sink_(sink), cache_(base, header.baseSize), window_(result, header.resultSize) {
    out_.reserve(kOutBuffer);
  }

  // 1 done, 2 over the limit, 0 a read error (baseFailed/resultFailed), -1 the sink refused.
  int Run(std::FILE* base, DeltaStats* stats) {
    uint8_t bytes[kDeltaHeaderSize];
    PutDeltaHeader(header_, bytes);
    if (!Put(bytes, sizeof bytes)) return Stop();
    if (!BuildIndex(base)) return 0;
    stats_.indexBytes = index_.size() * sizeof(Entry);
    stats_.stride = stride_;
    const int done = Scan();
    if (done != 1) return done;
    if (!Flush()) return -1;
    *stats = stats_;
    stats->deltaBytes = written_;
    return 1;
  }
  bool baseFailed = false;

private:
  bool BuildIndex(std::FILE* base) {
    const uint64_t size = header_.baseSize;
    if (size < kWindow) return true;
    const uint64_t blocks = (size - kWindow) / kMinStride + 1;
    uint64_t slots = 2;
    while (slots < 2 * blocks && slots < kMaxSlots) slots *= 2;
    slotBits_ = 0;
    while ((uint64_t(1) << slotBits_) < slots) ++slotBits_;
    stride_ = uint32_t(std::max<uint64_t>(kMinStride, (size - kWindow) / slots + 1));
    index_.assign(size_t(slots), Entry{kEmpty, 0});
    std::vector<uint8_t> chunk(size_t(1) << 20);
    uint64_t next = 0; // the next block's start
    while (next + kWindow <= size) {
      const size_t count = size_t(std::min<uint64_t>(chunk.size(), size - next));
      if (!ReadAt(base, next, chunk.data(), count)) {
        baseFailed = true;
        return false;
      }
      uint64_t at = next;
      for (; at + kWindow <= next + count; at += stride_) {
        const uint64_t h = HashOf(chunk.data() + (at - next));
        Entry* bucket = &index_[SlotOf(h, slotBits_)];
        // The first block of a bucket stays; the second is the latest.
        Entry* place = bucket[0].position == kEmpty ? &bucket[0] : &bucket[1];
        *place = Entry{uint32_t(at), CheckOf(h)};
      }
      next = at;
    }
    return true;
  }

  // Result bytes from `r` equal to base bytes from `b`, at most `most`;
  // with `drop`, result bytes already compared need not stay.
  uint64_t Forward(uint64_t r, uint64_t b, uint64_t most, bool drop) {
    most = std::min({most, uint64_t(header_.resultSize) - r, uint64_t(header_.baseSize) - b});
    uint64_t n = 0;
    while (n < most) {
      if (r + n >= window_.end) window_.Ensure(drop ? r + n : litStart_, r + n + kLookAhead);
      size_t avail;
      const uint8_t* bp = cache_.At(b + n, &avail);
      const size_t span = size_t(std::min<uint64_t>({avail, window_.end - (r + n), most - n}));
      const size_t m = MatchLength(window_.At(r + n), bp, span);
      n += m;
      if (m < span || span == 0) break;
    }
    return n;
  }
  // Equal bytes before result position `r` (not before litStart_) and base position `b`.
  uint64_t Backward(uint64_t r, uint64_t b) {
    uint64_t n = 0;
    while (r - n > litStart_ && b - n > 0 && *window_.At(r - n - 1) == cache_.Byte(b - n - 1)) ++n;
    return n;
  }

  int Scan() {
    const uint64_t size = header_.resultSize;
    uint64_t pos = 0;
    uint64_t h = 0;
    bool hashed = false; // h is the hash of the kWindow bytes at pos
    while (pos < size) {
      if (pos + kWindow >= window_.end) window_.Ensure(litStart_, pos + kLookAhead);
      if (window_.failed) return 0;
      if (cache_.failed) return BaseError();
      // The candidates: the continuation, then the index's.
      uint64_t bestStart = 0, bestBase = 0, bestLength = 0;
      const uint64_t continuation = cursor_ + (pos - lastEnd_);
      if (continuation < header_.baseSize) {
        size_t avail;
        const uint8_t* bp = cache_.At(continuation, &avail);
        if (*bp == *window_.At(pos)) {
          const uint64_t forward = Forward(pos, continuation, kLookAhead, false);
          const uint64_t back = Backward(pos, continuation);
          if (forward + back >= std::min<uint64_t>(kMinContinuation, size - pos + back)) {
            bestStart = pos - back, bestBase = continuation - back, bestLength = forward + back;
          }
        }
      }
      if (bestLength < kLookAhead && pos + kWindow <= size && !index_.empty()) {
        if (!hashed) h = HashOf(window_.At(pos)), hashed = true;
        const Entry* bucket = &index_[SlotOf(h, slotBits_)];
        const uint32_t check = CheckOf(h);
        for (int i = 0; i < 2; ++i) {
          const Entry e = bucket[i];
          if (e.position == kEmpty || e.check != check) continue;
          if (bestLength && e.position == bestBase + (pos - bestStart)) continue;
          const uint64_t forward = Forward(pos, e.position, kLookAhead, false);
          if (forward < kWindow) continue;
          const uint64_t back = Backward(pos, e.position);
          if (forward + back > bestLength + (bestLength ? 4 : 0) && forward + back >= kMinCopy) {
            bestStart = pos - back, bestBase = e.position - back, bestLength = forward + back;
          }
        }
      }
      if (bestLength) {
        if (!Add(bestStart)) return Stop();
        if (bestLength >= kLookAhead) {
          const uint64_t end = bestStart + bestLength;
          bestLength += Forward(end, bestBase + bestLength, UINT64_MAX, true);
        }
        if (!Copy(bestBase, bestLength)) return Stop();
        pos = bestStart + bestLength;
        lastEnd_ = litStart_ = pos;
        hashed = false;
        continue;
      }
      if (pos - litStart_ >= kMaxPending && !Add(pos - kKeepBehind)) return Stop();
      if (hashed && pos + kWindow < size) {
        const uint8_t* p = window_.At(pos);
        h = h * kMultiplier + p[kWindow] - kOutgoing * p[0];
      } else {
        hashed = false;
      }
      ++pos;
    }
    if (window_.failed) return 0;
    if (cache_.failed) return BaseError();
    if (!Add(size)) return Stop();
    return 1;
  }

  int BaseError() {
    baseFailed = true;
    return 0;
  }
  int Stop() { return refused_ ? -1 : 2; }

  void Number(uint64_t v) {
    while (v >= 0x80) out_.push_back(uint8_t(v | 0x80)), v >>= 7;
    out_.push_back(uint8_t(v));
  }
  static uint64_t NumberSize(uint64_t v) {
    uint64_t n = 1;
    while (v >= 0x80) v >>= 7, ++n;
    return n;
  }
  bool Over(uint64_t more) const { return written_ + out_.size() + more > limit_; }
  // An "add" of the pending literals up to `to`.
  bool Add(uint64_t to) {
    if (to <= litStart_) return true;
    const uint64_t n = to - litStart_;
    if (Over(NumberSize(n << 1) + n)) return false;
    Number(n << 1);
    stats_.adds++, stats_.added += n;
    const uint8_t* p = window_.At(litStart_);
    uint64_t left = n;
    while (left) {
      const size_t piece = size_t(std::min<uint64_t>(left, kOutBuffer - out_.size()));
      out_.insert(out_.end(), p, p + piece);
      p += piece, left -= piece;
      if (out_.size() == kOutBuffer && !Flush()) return false;
    }
    litStart_ = to;
    return true;
  }
  bool Copy(uint64_t start, uint64_t n) {
    const uint64_t z = start >= cursor_ ? (start - cursor_) << 1 : (cursor_ - start) << 1 | 1;
    if (Over(NumberSize(n << 1 | 1) + NumberSize(z))) return false;
    Number(n << 1 | 1);
    Number(z);
    cursor_ = start + n;
    stats_.copies++, stats_.copied += n;
    return out_.size() < kOutBuffer - 16 || Flush();
  }
  bool Put(const uint8_t* p, size_t n) {
    if (Over(n)) return false;
    out_.insert(out_.end(), p, p + n);
    return true;
  }
  bool Flush() {
    if (out_.empty()) return true;
    if (!sink_(out_.data(), out_.size())) {
      refused_ = true;
      return false;
    }
    written_ += out_.size();
    out_.clear();
    return true;
  }

  const DeltaHeader& header_;
  uint64_t limit_;
  const DeltaSink& sink_;
  BaseCache cache_;
  ResultWindow window_;
  std::vector<Entry> index_;
  uint32_t slotBits_ = 1, stride_ = 0;
  uint64_t litStart_ = 0; // the first result byte no instruction has produced
  uint64_t lastEnd_ = 0;  // where in the result the last copy ended
  uint64_t cursor_ = 0;   // where in the base it ended
  std::vector<uint8_t> out_;
  uint64_t written_ = 0;
  bool refused_ = false;
  DeltaStats stats_;
};

} // namespace

int EncodeDelta(const std::string& basePath, const std::string& resultPath, const DeltaHeader& header, uint64_t limit,
                const DeltaSink& sink, DeltaStats* stats, std::string& error) {
  File base, result;
  base.file = OpenRead(basePath);
  if (!base.file) {
    error = basePath;
    return 0;
  }
  result.file = OpenRead(resultPath);
  if (!result.file) {
    error = resultPath;
    return 0;
  }
  std::setvbuf(base.file, nullptr, _IONBF, 0);
  std::setvbuf(result.file, nullptr, _IONBF, 0);
  DeltaStats ignored;
  Encoder encoder(base.file, result.file, header, limit, sink);
  const int done = encoder.Run(base.file, stats ? stats : &ignored);
  if (done == 0) error = encoder.baseFailed ? basePath : resultPath;
  if (done == -1) {
    error = "the delta's output";
    return 0;
  }
  return done;
}

} // namespace codec
