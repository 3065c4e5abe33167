// Parsing one block of input into codes, given the history in front of it.
// A block's parse depends only on its bytes and the history (at most one
// window), so blocks can be parsed in any order or at the same time and
// their codes written one after another.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace codec {

// One code: a literal (len 1, dist 0), a two-byte match or a match.
struct Step {
  uint32_t len;
  uint32_t dist;
};

// Parses data[start, size) into `steps` (cleared first) at `level` (1 to
// 3; 0: the greedy parse over level 3's finder that serves as a reference);
// data[0, start) is the history, at most one window of it. No code reaches
// past `size`. The working tables are the call's own: blocks can be parsed
// on several threads at once.
void ParseBlock(int level, const uint8_t* data, size_t start, size_t size, std::vector<Step>& steps);

// Level 3 and the reference (optimal_parse.cpp).
void ParseOptimalBlock(const uint8_t* data, size_t start, size_t size, std::vector<Step>& steps);
void ParseGreedyBlock(const uint8_t* data, size_t start, size_t size, std::vector<Step>& steps);

} // namespace codec
