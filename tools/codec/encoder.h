// The stream encoder used by the archive tools and tests. The updater itself
// only decodes (archive/decompress.cpp describes the stream format).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Levels of effort. Every level produces a valid stream.
constexpr int kCompressFast = 1;    // greedy over one hash probe per position
constexpr int kCompressDefault = 2; // lazy matching over hash chains
constexpr int kCompressBest = 3;    // optimal parse: the fewest code bits there are

// Compresses `size` bytes into one stream that DecompressStream turns back
// into exactly those bytes. Levels outside 1..3 are clamped into that range.
//
// Level 3 finds, at every position, every match length with its nearest
// distance (a binary-tree match finder over the whole 8 KiB window, no depth
// limit) and the nearest two-byte match, and takes the shortest path in bits
// through them. Since a code's size grows with its distance and there are no
// repeat offsets, that path has the fewest code bits of any stream for the
// input. The parse works on blocks of kOptimalBlock bytes (memory is bounded
// whatever the input size); a parse is optimal within each block and only
// inputs longer than a block are cut, where a cut costs at most 47 bits.
// The stream's size in bytes is its code bits plus the unused bits of its
// last control word (0 to 31), rounded to whole bytes.
std::vector<uint8_t> CompressStream(const uint8_t* data, size_t size,
                                    int level = kCompressDefault);

// For comparison only (tests, benchmark): a greedy parse over level 3's match
// finder and blocks (longest match, nearest among equals, else the nearest
// two-byte match, else a literal). Level 3 is never larger in code bits.
std::vector<uint8_t> CompressStreamGreedyReference(const uint8_t* data, size_t size);

// Bytes of input the optimal parse plans at a time.
constexpr size_t kOptimalBlock = size_t(256) << 10;

// An upper bound on the size of CompressStream's output for `n` input bytes.
size_t MaxCompressedSize(size_t n);
