// Finding resource "UPDATE" 102 in a Windows executable without Windows.
//
// A PE image: "MZ" header whose field at 0x3C points to "PE\0\0", a 20-byte
// file header (section count at +2, optional header size at +16), the
// optional header (magic 0x10B for 32-bit, 0x20B for 64-bit; data directory
// 2 is the resource table) and the section table (40 bytes a section:
// virtual size +8, virtual address +12, raw size +16, raw offset +20).
// The resource table is a three-level tree (type, name, language) of
// directories: 16-byte header with named and numbered entry counts at +12 and
// +14, then 8-byte entries (name or id; offset, high bit set for a
// subdirectory). Names are a 16-bit length and UTF-16 characters. A leaf holds
// the data's address (RVA) and size.
#include "fa2/lib/toolkit.h"

namespace fa2 {

namespace {

struct Reader {
  const Bytes& b;
  bool ok = true;
  uint32_t U16(size_t at) {
    if (at + 2 > b.size()) { ok = false; return 0; }
    return b[at] | b[at + 1] << 8;
  }
  uint32_t U32(size_t at) {
    if (at + 4 > b.size()) { ok = false; return 0; }
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
  }
};

struct Section {
  uint32_t virtualAddress, virtualSize, rawOffset, rawSize;
};

bool RvaToOffset(const std::vector<Section>& sections, uint32_t rva, uint32_t length, size_t* offset) {
  for (const Section& s : sections) {
    uint32_t span = std::max(s.virtualSize, s.rawSize);
    if (rva >= s.virtualAddress && uint64_t(rva) + length <= uint64_t(s.virtualAddress) + span) {
      if (uint64_t(rva - s.virtualAddress) + length > s.rawSize) return false;
      *offset = size_t(s.rawOffset) + (rva - s.virtualAddress);
      return true;
    }
  }
  return false;
}

// The entry of directory `dir` (an offset in the file) that matches the name
// or the id; returns its offset field or 0xFFFFFFFF.
uint32_t FindEntry(Reader& r, size_t rsrc, size_t dir, const char* name, uint32_t id, bool any) {
  uint32_t named = r.U16(dir + 12), numbered = r.U16(dir + 14);
  for (uint32_t i = 0; i < named + numbered && r.ok && i < 4096; ++i) {
    size_t entry = dir + 16 + 8 * size_t(i);
    uint32_t key = r.U32(entry), target = r.U32(entry + 4);
    if (any) return target;
    if ((key & 0x80000000u) && name) {
      size_t at = rsrc + (key & 0x7FFFFFFFu);
      uint32_t length = r.U16(at);
      std::string text;
      for (uint32_t c = 0; c < length && r.ok; ++c) {
        uint32_t ch = r.U16(at + 2 + 2 * c);
        text.push_back(ch < 128 ? char(std::toupper(int(ch))) : '?');
      }
      if (text == name) return target;
    } else if (!(key & 0x80000000u) && !name && key == id) {
      return target;
    }
  }
  return 0xFFFFFFFFu;
}

}  // namespace

bool LooksLikePe(const Bytes& image) {
  Reader r{image};
  if (image.size() < 64 || image[0] != 'M' || image[1] != 'Z') return false;
  uint32_t pe = r.U32(0x3C);
  return r.ok && r.U32(pe) == 0x00004550u;
}

bool FindUpdateResourceInPe(const Bytes& image, size_t* offset, size_t* size, std::string& error) {
  if (!LooksLikePe(image)) {
    error = "not a Windows executable";
    return false;
  }
  Reader r{image};
  size_t pe = r.U32(0x3C);
  size_t fileHeader = pe + 4;
  uint32_t sectionCount = r.U16(fileHeader + 2);
  uint32_t optionalSize = r.U16(fileHeader + 16);
  size_t optional = fileHeader + 20;
  uint32_t magic = r.U16(optional);
  size_t directories = optional + (magic == 0x20B ? 112 : 96);
  uint32_t directoryCount = r.U32(optional + (magic == 0x20B ? 108 : 92));
  if (!r.ok || (magic != 0x10B && magic != 0x20B) || directoryCount < 3) {
    error = "executable without a resource table";
    return false;
  }
  uint32_t rsrcRva = r.U32(directories + 2 * 8), rsrcSize = r.U32(directories + 2 * 8 + 4);
  std::vector<Section> sections;
  size_t table = optional + optionalSize;
  for (uint32_t i = 0; i < sectionCount && r.ok; ++i) {
    size_t s = table + 40 * size_t(i);
    sections.push_back({r.U32(s + 12), r.U32(s + 8), r.U32(s + 20), r.U32(s + 16)});
  }
  size_t rsrc;
  if (!r.ok || rsrcRva == 0 || !RvaToOffset(sections, rsrcRva, rsrcSize, &rsrc)) {
    error = "executable without a resource table";
    return false;
  }
  uint32_t type = FindEntry(r, rsrc, rsrc, "UPDATE", 0, false);
  if (type == 0xFFFFFFFFu || !(type & 0x80000000u)) {
    error = "executable carries no resource \"UPDATE\" 102";
    return false;
  }
  uint32_t name = FindEntry(r, rsrc, rsrc + (type & 0x7FFFFFFFu), nullptr, 102, false);
  if (name == 0xFFFFFFFFu || !(name & 0x80000000u)) {
    error = "executable carries no resource \"UPDATE\" 102";
    return false;
  }
  uint32_t language = FindEntry(r, rsrc, rsrc + (name & 0x7FFFFFFFu), nullptr, 0, true);
  if (language == 0xFFFFFFFFu || (language & 0x80000000u)) {
    error = "resource \"UPDATE\" 102 is damaged";
    return false;
  }
  size_t leaf = rsrc + language;
  uint32_t dataRva = r.U32(leaf), dataSize = r.U32(leaf + 4);
  if (!r.ok || !RvaToOffset(sections, dataRva, dataSize, offset)) {
    error = "resource \"UPDATE\" 102 lies outside the file";
    return false;
  }
  *size = dataSize;
  return true;
}

}  // namespace fa2
