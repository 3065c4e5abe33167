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
//
// The headers and section table come from the image parser the resource
// writer uses (pe::ParseImage: every header, and every section's raw data,
// checked against the file's real length). The tree is walked here, apart
// from the writer's tree code, so that each checks the other's output; the
// directories are read only inside the raw data of the section that holds
// them, so that what is found lies wholly inside the file.
#include <cctype>
#include <cerrno>

#include "fa2/lib/pe_image.h"
#include "fa2/lib/toolkit.h"

namespace fa2 {

namespace {

// Bounded little-endian reads from the file: anything outside [begin, end)
// or unreadable clears `ok` and reads as 0.
struct Reader {
  const ByteSource& b;
  uint64_t begin = 0, end = 0;
  bool ok = true;
  uint32_t Le(uint64_t at, int n) {
    uint8_t bytes[4] = {};
    if (at < begin || at + n > end || !b.Read(at, bytes, size_t(n))) ok = false;
    if (!ok) return 0;
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = v << 8 | bytes[i];
    return v;
  }
  uint32_t U16(uint64_t at) { return Le(at, 2); }
  uint32_t U32(uint64_t at) { return Le(at, 4); }
};

using pe::Section;

// The file offset of `length` bytes at `rva`, when a section's raw data
// holds all of them.
bool RvaToOffset(const std::vector<Section>& sections, uint32_t rva, uint32_t length, uint64_t* offset) {
  for (const Section& s : sections) {
    if (rva >= s.virtualAddress && uint64_t(rva) + length <= uint64_t(s.virtualAddress) + s.rawSize) {
      *offset = uint64_t(s.rawOffset) + (rva - s.virtualAddress);
      return true;
    }
  }
  return false;
}

// The entry of directory `dir` (a file offset) that matches the name or the
// id (or the first one, with `any`); its offset field, or 0xFFFFFFFF.
uint32_t FindEntry(Reader& r, uint64_t rsrc, uint64_t dir, const char* name, uint32_t id, bool any) {
  const uint32_t named = r.U16(dir + 12), numbered = r.U16(dir + 14);
  for (uint32_t i = 0; i < named + numbered && r.ok; ++i) {
    const uint64_t entry = dir + 16 + 8 * uint64_t(i);
    const uint32_t key = r.U32(entry), target = r.U32(entry + 4);
    if (!r.ok) break;
    if (any) return target;
    if ((key & 0x80000000u) && name) {
      const uint64_t at = rsrc + (key & 0x7FFFFFFFu);
      const uint32_t length = r.U16(at);
      std::string text;
      for (uint32_t c = 0; c < length && r.ok && text.size() <= 8; ++c) {
        const uint32_t ch = r.U16(at + 2 + 2 * uint64_t(c));
        text.push_back(ch < 128 ? char(std::toupper(int(ch))) : '?');
      }
      if (r.ok && text == name) return target;
    } else if (!(key & 0x80000000u) && !name && key == id) {
      return target;
    }
  }
  return 0xFFFFFFFFu;
}

// The resource table's address and the sections, from the writer's parser
// over the file's headers.
bool ReadHeaders(const ByteSource& file, uint32_t* rsrcRva, std::vector<Section>& sections, std::string& error) {
  Bytes head;
  errno = 0;
  if (!pe::ReadImageHeaders(file, head)) {
    error = "cannot read the executable's headers (" + ReadFailureReason() + ")";
    return false;
  }
  pe::Image parsed;
  if (!pe::ParseImage(head, parsed, error, file.Size())) return false;
  if (parsed.directoryCount <= pe::kDirectoryResources) {
    error = "executable without a resource table";
    return false;
  }
  *rsrcRva = pe::U32(head, parsed.DirectoryField(pe::kDirectoryResources));
  sections = std::move(parsed.sections);
  for (Section& s : sections)
    if (!s.rawSize) s.rawOffset = 0;
  return true;
}

} // namespace

bool FindUpdateResourceInPe(const Bytes& image, size_t* offset, size_t* size, std::string& error) {
  uint64_t at = 0, length = 0;
  if (!FindUpdateResourceInPe(MemorySource(image.data(), image.size()), &at, &length, error)) return false;
  *offset = size_t(at);
  *size = size_t(length);
  return true;
}

bool FindUpdateResourceInPe(const ByteSource& image, uint64_t* offset, uint64_t* size, std::string& error) {
  uint32_t rsrcRva = 0;
  std::vector<Section> sections;
  if (!ReadHeaders(image, &rsrcRva, sections, error)) return false;
  // The directories must lie in the raw data of the section holding the root.
  const Section* home = nullptr;
  for (const Section& s : sections)
    if (rsrcRva >= s.virtualAddress && uint64_t(rsrcRva) + 16 <= uint64_t(s.virtualAddress) + s.rawSize) home = &s;
  if (rsrcRva == 0 || home == nullptr) {
    error = rsrcRva == 0 ? "executable without a resource table"
                         : "the resource table lies outside the file's sections";
    return false;
  }
  const uint64_t rsrc = uint64_t(home->rawOffset) + (rsrcRva - home->virtualAddress);
  Reader r{image, rsrc, uint64_t(home->rawOffset) + home->rawSize};
  const uint32_t type = FindEntry(r, rsrc, rsrc, "UPDATE", 0, false);
  const uint32_t name = type & 0x80000000u && type != 0xFFFFFFFFu
                            ? FindEntry(r, rsrc, rsrc + (type & 0x7FFFFFFFu), nullptr, 102, false)
                            : 0xFFFFFFFFu;
  if (!r.ok) {
    error = "resource table is damaged (an entry points outside section " + pe::PrintableName(home->name) + ")";
    return false;
  }
  if (name == 0xFFFFFFFFu || !(name & 0x80000000u)) {
    error = "executable carries no resource \"UPDATE\" 102";
    return false;
  }
  const uint32_t language = FindEntry(r, rsrc, rsrc + (name & 0x7FFFFFFFu), nullptr, 0, true);
  const uint64_t leaf = rsrc + language;
  const uint32_t dataRva = r.U32(leaf), dataSize = r.U32(leaf + 4);
  if (!r.ok || language == 0xFFFFFFFFu || (language & 0x80000000u)) {
    error = "resource \"UPDATE\" 102 is damaged";
    return false;
  }
  if (!RvaToOffset(sections, dataRva, dataSize, offset)) {
    error = "resource \"UPDATE\" 102 (" + std::to_string(dataSize) + " bytes at address " + std::to_string(dataRva) +
            ") lies outside the file";
    return false;
  }
  *size = dataSize;
  return true;
}

} // namespace fa2
