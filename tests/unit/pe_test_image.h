// PE images made section by section for the tests, without a cross
// compiler: an MZ stub, PE32 or PE32+ headers with 16 data directories,
// sections at file-aligned offsets, then an optional overlay.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "fa2/lib/pe_image.h"

namespace pe_test {

using fa2::Bytes;
namespace pe = fa2::pe;

inline constexpr uint32_t kFileAlign = 0x200, kSectionAlign = 0x1000;

struct TestSection {
  std::string name;
  uint32_t virtualAddress;
  Bytes raw;
  uint32_t virtualSize = 0; // 0: the raw size
};

struct ImageLayout {
  bool is64 = false;
  std::vector<TestSection> sections;
  int resources = -1;       // index of the section holding the resource tree
  uint32_t headers = 0x400; // SizeOfHeaders
  Bytes overlay;            // appended after the last section
};

inline void Put32(Bytes& b, size_t at, uint32_t v) { pe::Put32(b, at, v); }

// A minimal but complete PE image: MZ stub, headers, sections at
// file-aligned offsets, then the overlay.
inline Bytes MakeImage(const ImageLayout& layout) {
  const size_t peAt = 0x40, fileHeader = peAt + 4, optional = fileHeader + 20;
  const size_t optionalSize = layout.is64 ? 240 : 224;
  const size_t table = optional + optionalSize;
  Bytes b(layout.headers, 0);
  b[0] = 'M';
  b[1] = 'Z';
  Put32(b, 0x3C, uint32_t(peAt));
  std::memcpy(&b[peAt], "PE\0\0", 4);
  pe::Put16(b, fileHeader, layout.is64 ? 0x8664 : 0x14C);
  pe::Put16(b, fileHeader + 2, uint32_t(layout.sections.size()));
  pe::Put16(b, fileHeader + 16, uint32_t(optionalSize));
  pe::Put16(b, fileHeader + 18, 0x0102);
  pe::Put16(b, optional, layout.is64 ? 0x20B : 0x10B);
  Put32(b, optional + 32, kSectionAlign);
  Put32(b, optional + 36, kFileAlign);
  Put32(b, optional + 60, layout.headers);
  pe::Put16(b, optional + 68, 2); // GUI
  Put32(b, optional + (layout.is64 ? 108 : 92), 16);
  const size_t dirs = optional + (layout.is64 ? 112 : 96);
  uint32_t imageEnd = layout.headers;
  for (size_t i = 0; i < layout.sections.size(); ++i) {
    const TestSection& s = layout.sections[i];
    const size_t h = table + 40 * i;
    const uint32_t rawOffset = uint32_t(b.size());
    const uint32_t rawSize = uint32_t(pe::AlignUp(s.raw.size(), kFileAlign));
    std::memcpy(&b[h], s.name.data(), std::min<size_t>(8, s.name.size()));
    Put32(b, h + 8, s.virtualSize ? s.virtualSize : uint32_t(s.raw.size()));
    Put32(b, h + 12, s.virtualAddress);
    Put32(b, h + 16, rawSize);
    Put32(b, h + 20, rawSize ? rawOffset : 0);
    Put32(b, h + 36, 0x40000040);
    b.insert(b.end(), s.raw.begin(), s.raw.end());
    b.resize(rawOffset + rawSize, 0);
    imageEnd = std::max<uint32_t>(imageEnd,
                                  s.virtualAddress + std::max<uint32_t>(s.virtualSize, uint32_t(s.raw.size())));
    if (int(i) == layout.resources) {
      Put32(b, dirs + 16, s.virtualAddress);
      Put32(b, dirs + 20, uint32_t(s.raw.size()));
    }
  }
  Put32(b, optional + 56, uint32_t(pe::AlignUp(imageEnd, kSectionAlign)));
  b.insert(b.end(), layout.overlay.begin(), layout.overlay.end());
  return b;
}

} // namespace pe_test
