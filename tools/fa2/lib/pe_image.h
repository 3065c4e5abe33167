// The parts of a PE image (32- and 64-bit Windows executables) that the
// resource writer reads and edits: headers, section table, data directories,
// the resource tree and the file checksum.
//
// Offsets used here (all little-endian):
//   0x3C in the MZ header       offset of "PE\0\0"
//   file header (20 bytes)      +2 section count, +8 symbol table pointer,
//                               +16 optional header size
//   optional header             +0 magic (0x10B PE32, 0x20B PE32+),
//                               +8 SizeOfInitializedData, +32 SectionAlignment,
//                               +36 FileAlignment, +56 SizeOfImage,
//                               +60 SizeOfHeaders, +64 CheckSum,
//                               +92/+108 directory count, +96/+112 directories
//   data directory (8 bytes)    address, size; 2 resources (RVA),
//                               4 certificates (file offset), 6 debug (RVA)
//   section header (40 bytes)   +0 name, +8 VirtualSize, +12 VirtualAddress,
//                               +16 SizeOfRawData, +20 PointerToRawData,
//                               +36 Characteristics
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fa2/lib/toolkit.h"

namespace fa2::pe {

constexpr uint32_t kDirectoryResources = 2;
constexpr uint32_t kDirectoryCertificates = 4;
constexpr uint32_t kDirectoryDebug = 6;
constexpr uint32_t kDirectoryBoundImports = 11;
constexpr size_t kSectionHeaderSize = 40;
constexpr uint32_t kSectionInitializedData = 0x00000040;
constexpr uint32_t kSectionRead = 0x40000000;

inline uint32_t U16(const Bytes& b, size_t at) { return b[at] | b[at + 1] << 8; }
inline uint32_t U32(const Bytes& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
inline void Put16(Bytes& b, size_t at, uint32_t v) {
  b[at] = uint8_t(v);
  b[at + 1] = uint8_t(v >> 8);
}
inline void Put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}
inline uint64_t AlignUp(uint64_t n, uint32_t alignment) { return (n + alignment - 1) / alignment * alignment; }

struct Section {
  size_t header; // file offset of its 40-byte header
  std::string name;
  uint32_t virtualSize, virtualAddress, rawSize, rawOffset, characteristics;
  // Bytes of address space it may claim: its VirtualSize, or its raw size
  // when that is larger (readers that map by either must not run into the
  // next section).
  uint32_t Span() const { return std::max(virtualSize, rawSize); }
};

struct Image {
  size_t fileHeader = 0;   // just after "PE\0\0"
  size_t optional = 0;     // optional header
  size_t sectionTable = 0; // first section header
  bool is64 = false;
  uint32_t fileAlignment = 0, sectionAlignment = 0, sizeOfHeaders = 0;
  size_t directories = 0; // first data directory
  uint32_t directoryCount = 0;
  std::vector<Section> sections;

  size_t CheckSumField() const { return optional + 64; }
  size_t DirectoryField(uint32_t index) const { return directories + 8 * size_t(index); }
  // End of the last section's raw data: what follows is the overlay
  // (symbol table, certificates, appended data).
  uint64_t RawEnd() const;
  // Lowest file offset of any section's raw data (the end of the headers' room).
  uint64_t FirstRaw() const;
  // First free section-aligned address after every section.
  uint64_t NextVirtualAddress() const;
};

// The message for a file that ends before a part its headers declare:
// "cut short: WHAT ends at byte END but the file has SIZE bytes".
std::string CutShort(const std::string& what, uint64_t end, uint64_t size);
// A section name fit for a message (unprintable bytes as '?').
std::string PrintableName(const std::string& name);

// Reads the headers and section table. Fails on anything that is not a
// well-formed PE32 or PE32+ image, and on a file that ends before its headers
// or any section's raw data do. `file` may be only the first bytes of a file
// of `fileSize` bytes, as long as it holds the headers and section table.
bool ParseImage(const Bytes& file, Image& out, std::string& error, uint64_t fileSize = ~uint64_t(0));
// The first bytes of the file behind `source`: enough for ParseImage (or the
// whole file when it is shorter), at most 16 MiB.
bool ReadImageHeaders(const ByteSource& source, Bytes& head);
// `size` bytes at `rva`, from the section that holds them; bytes past a
// section's raw data but within its virtual size read as zeros. False when
// no section holds the whole range.
bool ReadAtRva(const Bytes& file, const Image& image, uint32_t rva, uint32_t size, Bytes& out);
// The file offset of `rva` when its bytes lie in a section's raw data.
bool RvaToFileOffset(const Image& image, uint32_t rva, uint32_t size, uint64_t* offset);
// The image checksum as the loader's check computes it: 16-bit words
// summed with end-around carry, the checksum field counted as zero, plus the
// file length. Fed in pieces of any size, in file order.
class CheckSum {
public:
  explicit CheckSum(uint64_t checkSumField) : field_(checkSumField) {}
  void Add(const uint8_t* data, size_t size);
  uint32_t Finish() const;

private:
  uint64_t field_, at_ = 0, sum_ = 0;
};
uint32_t ComputeCheckSum(const Bytes& file, size_t checkSumField);
// After bytes were inserted or removed at file offset `from`, moves every
// file offset the headers hold that lies at or after `from` by `delta`:
// section raw data pointers, the COFF symbol table pointer and the debug
// directory's data pointers.
void ShiftFileOffsets(Bytes& file, const Image& image, uint64_t from, int64_t delta);

// ---- Resource tree -------------------------------------------------------------------
// A directory's own header fields, kept as found.
struct DirectoryHeader {
  uint32_t characteristics = 0, timeDateStamp = 0;
  uint16_t majorVersion = 0, minorVersion = 0;
};
// One entry of a resource directory: a subdirectory (children) or, at the
// language level, a data leaf.
struct ResourceNode {
  ResourceKey key;
  bool isLeaf = false;
  DirectoryHeader header;             // subdirectories
  std::vector<ResourceNode> children; // subdirectories
  uint32_t codePage = 0;              // leaves
  Bytes data;                         // leaves
  // A leaf whose bytes are written apart (an archive): only their count is
  // here, and they go last, after everything SerializeResourceTree returns.
  bool external = false;
  uint64_t externalSize = 0;
};
struct ResourceTree {
  DirectoryHeader header;
  std::vector<ResourceNode> types;
};

// Reads the whole tree (type, name, language) with every leaf's bytes.
// An image without a resource directory gives an empty tree.
bool ParseResourceTree(const Bytes& file, const Image& image, ResourceTree& out, std::string& error);
// Lays the tree out as the contents of a resource section that will be
// loaded at `sectionRva` (layout described in pe_resource_tree.cpp). An
// external leaf's bytes belong right after what is returned (a multiple of 8).
Bytes SerializeResourceTree(const ResourceTree& tree, uint32_t sectionRva);
// Windows' order of directory entries: named ones first, by name without
// regard to case, then ids ascending.
bool ResourceKeyLess(const ResourceKey& a, const ResourceKey& b);
bool SameResourceKey(const ResourceKey& a, const ResourceKey& b); // names case-insensitively

} // namespace fa2::pe
