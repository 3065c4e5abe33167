// The stream encoder used by the archive tools and tests. The updater itself
// only decodes (archive/decompress.cpp describes the stream format).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Levels of effort. Every level produces a valid stream; higher levels find
// better matches at the cost of time.
constexpr int kCompressFast = 1;    // greedy, short hash chains
constexpr int kCompressDefault = 2; // lazy matching, deeper chains
constexpr int kCompressBest = 3;    // cheapest parse in bits over deep chains

// Compresses `size` bytes into one stream that DecompressStream turns back
// into exactly those bytes. Levels outside 1..3 are clamped into that range.
std::vector<uint8_t> CompressStream(const uint8_t* data, size_t size,
                                    int level = kCompressDefault);

// An upper bound on the size of CompressStream's output for `n` input bytes.
size_t MaxCompressedSize(size_t n);
