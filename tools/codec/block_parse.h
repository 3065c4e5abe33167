// Parsing one block of input into codes, given the history in front of it.
// A block's parse depends only on its bytes and the history (at most one
// window), so blocks can be parsed in any order or at the same time and
// their codes written one after another.
#pragma once

#include <cstddef>
#include <cstdint>

namespace codec {

// One code, or a run of literals: `len` literals (dist 0), a two-byte
// match (len 2) or a match.
struct Step {
  uint32_t len;
  uint32_t dist;
};

// Appends one literal to the codes ending at `out`, joining a run there.
inline Step* AddLiteral(Step* first, Step* out) {
  if (out != first && out[-1].dist == 0) {
    ++out[-1].len;
    return out;
  }
  *out = {1, 0};
  return out + 1;
}

// Parses data[start, size) at `level` (1 to 3; 0: the greedy parse over
// level 3's finder that serves as a reference) into `steps`, which has room
// for size - start codes, and returns their count (consecutive literals
// as one run); data[0, start) is the
// history, at most one window of it. No code reaches past `size`. The
// working tables are the call's own: blocks can be parsed on several
// threads at once.
size_t ParseBlock(int level, const uint8_t* data, size_t start, size_t size, Step* steps);

// Level 3 and the reference (optimal_parse.cpp).
size_t ParseOptimalBlock(const uint8_t* data, size_t start, size_t size, Step* steps);
size_t ParseGreedyBlock(const uint8_t* data, size_t start, size_t size, Step* steps);

} // namespace codec
