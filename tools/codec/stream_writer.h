// Writing the codes of a stream (format: archive/decompress.cpp) into a
// buffer that is handed on in pieces, so a stream of any length is written
// through a bounded buffer.
//
// Control word placement mirrors the decoder: a new 4-byte word is reserved
// at the end of the output at the moment a bit no longer fits in the current
// one, and data bytes are appended in the order the decoder reads them.
// Everything in front of the word being filled is final and can be handed
// on; the word itself and what follows it stay until the word is full.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace codec {

class StreamWriter {
public:
  // Receives the finished bytes in order.
  using Sink = std::function<void(const uint8_t* data, size_t size)>;

  explicit StreamWriter(Sink sink) : sink_(std::move(sink)) { buffer_.reserve(kFlushAt + 64); }

  void Literal(uint8_t b) {
    Bits(1, 1);
    buffer_.push_back(b);
    MaybeFlush();
  }

  // Two-byte match, distance 1..2303.
  void Pair(size_t dist) {
    size_t v = dist - 1;
    if (v < 256) {
      Bits(2, 3); // 0 1 0
      buffer_.push_back(uint8_t(v));
    } else {
      v -= 256;
      Bits(3, 3); // 0 1 1
      buffer_.push_back(uint8_t(v >> 3));
      Bits(uint32_t(v & 7), 3);
    }
    MaybeFlush();
  }

  // Match of 3..282 bytes, distance 1..8192.
  void Match(size_t len, size_t dist) {
    const uint32_t v = uint32_t(dist - 1);
    // 0 0, the class selector, B, the low bits.
    if (v < 512) {
      Bits(1, 3);
      buffer_.push_back(uint8_t(v >> 1));
      Bits(v & 1, 1);
    } else if (v < 1024) {
      Bits(1, 4);
      buffer_.push_back(uint8_t((v - 512) >> 1));
      Bits(v & 1, 1);
    } else if (v < 2048) {
      Bits(1, 5);
      buffer_.push_back(uint8_t((v - 1024) >> 2));
      Bits(v & 3, 2);
    } else if (v < 4096) {
      Bits(1, 6);
      buffer_.push_back(uint8_t((v - 2048) >> 3));
      Bits(v & 7, 3);
    } else {
      Bits(0, 6);
      buffer_.push_back(uint8_t((v - 4096) >> 4));
      Bits(v & 15, 4);
    }
    const uint32_t n = uint32_t(len);
    if (n == 3)
      Bits(1, 1);
    else if (n == 4)
      Bits(1, 2);
    else if (n <= 6)
      Bits(2 | (n - 5), 4);
    else if (n <= 10)
      Bits(4 | (n - 7), 6);
    else if (n <= 26)
      Bits(16 | (n - 11), 9);
    else {
      Bits(0, 5);
      buffer_.push_back(uint8_t(n - 27));
    }
    MaybeFlush();
  }

  // Writes the end code and the last control word and hands on the rest.
  void End() {
    Bits(3, 3); // 0 1 1
    buffer_.push_back(0xFF);
    Bits(7, 3);
    Store();
    Flush(buffer_.size());
  }

  uint64_t BytesWritten() const { return handed_ + buffer_.size(); }

private:
  static constexpr size_t kFlushAt = size_t(1) << 20;
  static constexpr size_t kNoWord = ~size_t(0);

  // `count` (1 to 13) control bits, the first taken the most significant.
  void Bits(uint32_t v, uint32_t count) {
    const uint32_t room = 32 - used_;
    if (count <= room) {
      word_ |= v << (room - count);
      used_ += count;
      return;
    }
    // The word is full after `room` bits: the rest opens a new word, placed
    // after every data byte written so far.
    const uint32_t rest = count - room;
    if (room != 0)
      word_ |= v >> rest;
    if (control_ != kNoWord)
      Store();
    control_ = buffer_.size();
    buffer_.resize(buffer_.size() + 4);
    word_ = (v & ((1u << rest) - 1)) << (32 - rest);
    used_ = rest;
  }

  void Store() {
    uint8_t* at = buffer_.data() + control_;
    at[0] = uint8_t(word_);
    at[1] = uint8_t(word_ >> 8);
    at[2] = uint8_t(word_ >> 16);
    at[3] = uint8_t(word_ >> 24);
  }

  // Hands on what lies in front of the word being filled.
  void MaybeFlush() {
    if (buffer_.size() >= kFlushAt && control_ != kNoWord && control_ > 0)
      Flush(control_);
  }

  void Flush(size_t count) {
    if (count == 0)
      return;
    sink_(buffer_.data(), count);
    handed_ += count;
    buffer_.erase(buffer_.begin(), buffer_.begin() + ptrdiff_t(count));
    if (control_ != kNoWord)
      control_ -= count;
  }

  Sink sink_;
  std::vector<uint8_t> buffer_;
  uint64_t handed_ = 0;
  size_t control_ = kNoWord; // offset of the word being filled in buffer_
  uint32_t word_ = 0;
  uint32_t used_ = 32; // no word yet: the first bit reserves the first word
};

} // namespace codec
