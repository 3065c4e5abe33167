// The stream encoder used by the archive tools and tests. The updater itself
// only decodes (archive/decompress.cpp describes the stream format).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

// Levels of effort. Every level produces a valid stream.
constexpr int kCompressFast = 1;    // greedy over one hash probe per position
constexpr int kCompressDefault = 2; // lazy matching over hash chains
constexpr int kCompressBest = 3;    // optimal parse: the fewest code bits there are
constexpr int kGreedyReference = 0; // level 3's finder parsed greedily, for comparisons

namespace codec {
class StreamWriter;
}

// Bytes of input parsed at a time. Every level parses block by block, each
// block with the window in front of it as history, so the codes of a block
// depend only on the input: blocks are parsed on as many threads as asked
// and the stream is the same whatever their number.
constexpr size_t kEncoderBlock = size_t(256) << 10;
constexpr size_t kOptimalBlock = kEncoderBlock;

// Encodes a stream given in pieces of any size and hands the encoded bytes
// on in pieces, so memory stays bounded whatever the input size: the blocks
// in flight (one per thread, each with its history and codes) and a buffer
// of output.
//
// Level 3 finds, at every position, every match length with its nearest
// distance and the nearest two-byte match (codec/optimal_finder.h), and
// takes the shortest path in bits through them. Since a code's size grows
// with its distance and there are no repeat offsets, that path has the
// fewest code bits of any stream for the block; only inputs longer than a
// block are cut, where a cut costs at most 47 bits against one parse of the
// whole. The stream's size in bytes is its code bits plus the unused bits
// of its last control word (0 to 31), rounded to whole bytes.
class StreamEncoder {
public:
  using Sink = std::function<void(const uint8_t* data, size_t size)>;

  // Levels above 3 count as 3. `threads` parse blocks at once.
  StreamEncoder(int level, Sink sink, unsigned threads = 1);
  ~StreamEncoder();
  StreamEncoder(const StreamEncoder&) = delete;
  StreamEncoder& operator=(const StreamEncoder&) = delete;

  void Write(const uint8_t* data, size_t size);
  // Parses what is left, writes the end code and hands on the last bytes.
  void Finish();

  uint64_t BytesOut() const;

  struct Job;

private:
  void Submit(bool last);
  void WriteOldest();

  int level_;
  unsigned threads_;
  std::unique_ptr<codec::StreamWriter> writer_;
  std::vector<uint8_t> input_; // the history, then the block being filled
  size_t history_ = 0;         // bytes of history at the front of input_
  std::deque<std::unique_ptr<Job>> inFlight_;
  std::vector<std::unique_ptr<Job>> spare_; // written jobs, their buffers kept for the next blocks
};

// The whole of `size` bytes as one stream (one thread); levels outside 1..3
// are clamped into that range.
std::vector<uint8_t> CompressStream(const uint8_t* data, size_t size, int level = kCompressDefault);

// For comparison only (tests, benchmark): a greedy parse over level 3's match
// finder and blocks (longest match, nearest among equals, else the nearest
// two-byte match, else a literal). Level 3 is never larger in code bits.
std::vector<uint8_t> CompressStreamGreedyReference(const uint8_t* data, size_t size);

// An upper bound on the size of a stream for `n` input bytes.
size_t MaxCompressedSize(size_t n);
