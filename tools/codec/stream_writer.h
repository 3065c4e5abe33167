// Writing the codes of a stream (format: archive/decompress.cpp) into a
// buffer that is handed on in pieces, so a stream of any length is written
// through a bounded buffer.
// Format: docs/formats.md, "The compressed stream".
//
// Control word placement mirrors the decoder: a new 4-byte word is reserved
// at the end of the output at the moment a bit no longer fits in the current
// one, and data bytes are appended in the order the decoder reads them.
// Everything in front of the word being filled is final and can be handed
// on; the word itself and what follows it stay until the word is full.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>

#include "codec/block_parse.h"

namespace codec {

class StreamWriter {
public:
  // Receives the finished bytes in order.
  using Sink = std::function<void(const uint8_t* data, size_t size)>;

  explicit StreamWriter(Sink sink) : sink_(std::move(sink)), buffer_(new uint8_t[kCapacity]) {
    at_.out = buffer_.get();
  }

  // The codes of one block in order; `data` is the block's first byte, where
  // the literals come from. The cursor lives in locals while the codes are
  // written: stored bytes can then never be taken for its fields.
  void Write(const uint8_t* data, const Step* steps, size_t count) {
    Cursor c = at_;
    const uint8_t* const flushAt = buffer_.get() + kFlushAt;
    auto handOn = [&] {
      at_ = c;
      Flush(size_t(c.control - buffer_.get()));
      c = at_;
    };
    for (const Step* s = steps; s != steps + count; ++s) {
      if (s->dist == 0) {
        // A run of literals, as many at once as the control word has room
        // for: their flag bits are ones, their bytes follow one another.
        for (uint32_t k = 0; k < s->len;) {
          const uint32_t take = c.Literals(data + k, s->len - k);
          k += take;
          if (c.out >= flushAt) [[unlikely]]
            handOn();
        }
      } else if (s->len == 2) {
        c.Pair(s->dist);
      } else {
        c.Match(s->len, s->dist);
      }
      data += s->len;
      if (c.out >= flushAt) [[unlikely]]
        handOn();
    }
    at_ = c;
  }

  // Writes the end code and the last control word and hands on the rest.
  void End() {
    at_.Bits(3, 3); // 0 1 1
    *at_.out++ = 0xFF;
    at_.Bits(7, 3);
    at_.Store();
    Flush(size_t(at_.out - buffer_.get()));
  }

  uint64_t BytesWritten() const { return handed_ + uint64_t(at_.out - buffer_.get()); }

private:
  // Bytes are handed on once this many are held. A code adds at most 14
  // bytes (three control words and two data bytes), a piece of a run of
  // literals at most 36 (a word and 32 bytes), and the word being filled is
  // never more than 32 codes from the end, so the buffer never holds more
  // than kFlushAt plus a few hundred bytes.
  static constexpr size_t kFlushAt = size_t(1) << 20;
  static constexpr size_t kCapacity = kFlushAt + 4096;

  struct Cursor {
    uint8_t* out = nullptr;     // the end of the bytes held
    uint8_t* control = nullptr; // the word being filled; none before the first bit
    uint32_t word = 0;
    uint32_t room = 0; // bits left in it

    // `count` (1 to 13) control bits, the first taken the most significant.
    [[gnu::always_inline]] void Bits(uint32_t v, uint32_t count) {
      if (count <= room) {
        room -= count;
        word |= v << room;
        return;
      }
      // The word is full after `room` bits: the rest opens a new word,
      // placed after every data byte written so far.
      const uint32_t rest = count - room;
      if (room != 0) word |= v >> rest;
      if (control != nullptr) Store();
      control = out;
      out += 4;
      word = (v & ((1u << rest) - 1)) << (32 - rest);
      room = 32 - rest;
    }

    void Store() { // little-endian
      control[0] = uint8_t(word);
      control[1] = uint8_t(word >> 8);
      control[2] = uint8_t(word >> 16);
      control[3] = uint8_t(word >> 24);
    }

    // Up to `count` literals from `bytes`, as many as the current control
    // word (or a new one) has room for; returns how many were written.
    [[gnu::always_inline]] uint32_t Literals(const uint8_t* bytes, uint32_t count) {
      Bits(1, 1); // the first opens a new word when this one is full
      *out++ = bytes[0];
      const uint32_t take = std::min(count - 1, room);
      if (take != 0) {
        room -= take;
        word |= ((uint32_t(1) << take) - 1) << room; // take < 32: the first bit is in this word
        std::memcpy(out, bytes + 1, take);
        out += take;
      }
      return take + 1;
    }

    // Two-byte match, distance 1..2303.
    [[gnu::always_inline]] void Pair(size_t dist) {
      size_t v = dist - 1;
      if (v < 256) {
        Bits(2, 3); // 0 1 0
        *out++ = uint8_t(v);
      } else {
        v -= 256;
        Bits(3, 3); // 0 1 1
        *out++ = uint8_t(v >> 3);
        Bits(uint32_t(v & 7), 3);
      }
    }

    // Match of 3..282 bytes, distance 1..8192.
    [[gnu::always_inline]] void Match(size_t len, size_t dist) {
      const uint32_t v = uint32_t(dist - 1);
      // 0 0, the class selector, B, the low bits.
      if (v < 512) {
        Bits(1, 3);
        *out++ = uint8_t(v >> 1);
        Bits(v & 1, 1);
      } else if (v < 1024) {
        Bits(1, 4);
        *out++ = uint8_t((v - 512) >> 1);
        Bits(v & 1, 1);
      } else if (v < 2048) {
        Bits(1, 5);
        *out++ = uint8_t((v - 1024) >> 2);
        Bits(v & 3, 2);
      } else if (v < 4096) {
        Bits(1, 6);
        *out++ = uint8_t((v - 2048) >> 3);
        Bits(v & 7, 3);
      } else {
        Bits(0, 6);
        *out++ = uint8_t((v - 4096) >> 4);
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
        *out++ = uint8_t(n - 27);
      }
    }
  };

  // Hands on the first `count` bytes held (what lies in front of the word
  // being filled, or everything at the end).
  [[gnu::noinline]] void Flush(size_t count) {
    if (count == 0) return;
    sink_(buffer_.get(), count);
    handed_ += count;
    const size_t kept = size_t(at_.out - buffer_.get()) - count;
    std::memmove(buffer_.get(), buffer_.get() + count, kept);
    at_.out = buffer_.get() + kept;
    if (at_.control != nullptr)
      at_.control = at_.control - buffer_.get() >= ptrdiff_t(count) ? at_.control - count : nullptr;
  }

  Sink sink_;
  std::unique_ptr<uint8_t[]> buffer_;
  Cursor at_;
  uint64_t handed_ = 0;
};

} // namespace codec
