// The FA2 container.
// Format: docs/formats.md, "The archive".
//
// All integers are little-endian. The archive is one block of bytes:
//
//   offset 0    header, 16 bytes: "FA2\0", flags, directoryOffset, entryCount
//   offset 16   each member's stored bytes, in directory order, each padded
//               with 0-15 unread bytes to a multiple of 16
//   directoryOffset   the directory: entryCount entries of 280 bytes
//
// Header flags: bit 0, the directory is one compressed stream filling
// everything from directoryOffset to the end of the archive; bit 1, the
// directory's stored bytes are scrambled (keyed by entryCount * 280 for a
// plain directory, by the length of the whole tail for a compressed one). With
// both, the tail was compressed first and scrambled second.
//
// An entry: name (260 bytes, NUL-terminated bare file name), storage flags
// (bit 1: the stored bytes are a compressed stream), a reserved byte, the
// scramble marker (exactly 1: stored bytes scrambled, keyed by storedSize), a
// reserved byte, the time stamp (a Windows file time, low half first),
// uncompressedSize, storedSize. Entries carry no offset: member i starts at 16
// plus the rounded stored sizes of the entries before it.
//
// Nothing here trusts the numbers: the directory must lie inside the block and
// decode exactly, and a member is readable only when its bytes lie between the
// header and the directory.
#include <cstring>

#include "archive/archive.h"

namespace {

// A compressed stream cannot expand by more than about 91 times (a 282-byte
// match costs 25 bits), so a directory claiming more is damaged.
constexpr uint64_t kMaxExpansion = 96;
constexpr uint64_t kMaxEntries = (0xFFFFFFFFull - kHeaderSize) / kEntrySize;

} // namespace

int CheckArchiveHeader(const uint8_t* base, uint32_t size, ArchiveHeader* header) {
  if (base == nullptr || size < kHeaderSize) return 0;
  std::memcpy(header, base, kHeaderSize);
  if (header->directoryOffset < kHeaderSize || header->directoryOffset > size) return 0;
  if (header->entryCount > kMaxEntries) return 0;
  const uint64_t tail = uint64_t(size) - header->directoryOffset;
  const uint64_t decoded = uint64_t(header->entryCount) * kEntrySize;
  if (header->flags & kDirectoryCompressed) {
    // The shortest stream is the end code alone: 5 bytes.
    if (tail < 5 || decoded > tail * kMaxExpansion) return 0;
  } else if (decoded > tail) {
    return 0;
  }
  return 1;
}

uint32_t DirectoryWorkingSize(const ArchiveHeader& header, uint32_t size) {
  return (header.flags & kDirectoryCompressed) ? size - header.directoryOffset : 0;
}

int DecodeDirectory(const uint8_t* base, uint32_t size, const ArchiveHeader& header, uint8_t* entries,
                    uint8_t* working) {
  const uint32_t decoded = header.entryCount * kEntrySize;
  const uint8_t* stored = base + header.directoryOffset;
  if (header.flags & kDirectoryCompressed) {
    const uint32_t tail = size - header.directoryOffset;
    std::memcpy(working, stored, tail);
    if (header.flags & kDirectoryScrambled) ScrambleBuffer(working, tail);
    return DecompressStreamBounded(entries, decoded, working, tail);
  }
  if (decoded) std::memcpy(entries, stored, decoded);
  if (header.flags & kDirectoryScrambled) ScrambleBuffer(entries, decoded);
  return 1;
}

int MemberReadable(const ArchiveEntry& entry, uint64_t offset, uint32_t directoryOffset) {
  if (std::memchr(entry.name, 0, kNameCapacity) == nullptr) return 0;
  if (offset + entry.storedSize > directoryOffset) return 0;
  // A member stored as it is has exactly its stored size: a larger stated
  // size would read past it, a smaller one would write the file cut short.
  if (!(entry.storageFlags & kMemberCompressed) && entry.uncompressedSize != entry.storedSize) return 0;
  return 1;
}
