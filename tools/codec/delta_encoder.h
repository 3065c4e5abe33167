// The delta encoder: what turns one file (the base) into another, in the
// instructions the updater's applier reads (src/archive/archive.h, "Delta
// members"; docs/formats.md). The updater itself only applies deltas.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "archive/archive.h"

namespace codec {

struct DeltaStats {
  uint64_t copied = 0;     // result bytes taken from the base
  uint64_t added = 0;      // result bytes carried in the delta
  uint64_t copies = 0;     // copy instructions
  uint64_t adds = 0;       // add instructions
  uint64_t deltaBytes = 0; // header and instructions handed out
  size_t indexBytes = 0;   // memory of the base's index
  uint32_t stride = 0;     // base positions between indexed blocks
};

// Streams the delta that turns the file at `basePath` into the file at
// `resultPath` to `sink`: first the 80-byte header made from `header` (the
// caller's sizes and digests of the two files), then the instructions. Both
// files are read in pieces; memory is the base's index (bounded whatever the
// base's size) and fixed buffers. Returns 1 when the delta was handed out
// whole, 2 when it stopped because the delta would exceed `limit` bytes (it
// does not pay; what was handed out is to be dropped), 0 on a read error
// with `error` naming the file.
using DeltaSink = std::function<bool(const uint8_t* data, size_t size)>;
int EncodeDelta(const std::string& basePath, const std::string& resultPath, const DeltaHeader& header, uint64_t limit,
                const DeltaSink& sink, DeltaStats* stats, std::string& error);

} // namespace codec
