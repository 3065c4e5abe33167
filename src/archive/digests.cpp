// Finding a member's digest in the archive's digest table (its layout is
// described with kDigestMemberName in archive.h).
//
// The table is there as soon as one directory entry has its name, in the
// sense of a member lookup (any letter case). It can be used only when it is
// the one entry of that name, spelt exactly so, stored plain, its bytes
// inside the data area and its size and header those of a table for this
// directory. Anything else is a damaged table, never an archive without one:
// a damaged archive must not pass as one that was never checked.
#include <cstring>

#include "archive/archive.h"

const char kMemberDamagedFormat[] = "「%s」のデータが壊れています（チェックサムが一致しません）";

namespace {

// The entries a lookup of the table's name finds: how many, and the first
// with its stored bytes' offset.
struct TableEntries {
  uint32_t count;
  uint32_t index;
  uint64_t offset;
};

TableEntries FindTableEntries(const ArchiveImage& image) {
  TableEntries found{0, 0, 0};
  uint64_t offset = kHeaderSize; // 64 bits: damaged sizes must not wrap around
  for (uint32_t i = 0; i < DirectoryEntryCount(image); ++i) {
    if (EntryHasName(image.entries[i], kDigestMemberName) && found.count++ == 0) {
      found.index = i;
      found.offset = offset;
    }
    offset += RoundUp16(image.entries[i].storedSize);
  }
  return found;
}

int TableUsable(const ArchiveImage& image, const TableEntries& found) {
  const ArchiveEntry& table = image.entries[found.index];
  const ArchiveHeader* header = reinterpret_cast<const ArchiveHeader*>(image.directory);
  return found.count == 1 && std::strcmp(table.name, kDigestMemberName) == 0 &&
         MemberReadable(table, found.offset, header->directoryOffset) && table.storageFlags == 0 &&
         table.scrambleMarker != kScrambled &&
         DigestTableValid(image.base + found.offset, table.storedSize, header->entryCount);
}

}  // namespace

DigestTable ExpectedMemberDigest(const ArchiveImage& image, const ArchiveEntry& entry, const uint8_t** expected) {
  if (image.directory == nullptr) return DigestTable::Absent;
  const TableEntries found = FindTableEntries(image);
  if (found.count == 0) return DigestTable::Absent;
  if (!TableUsable(image, found)) return DigestTable::Damaged;
  const uint64_t index = uint64_t(&entry - image.entries);
  if (index >= DirectoryEntryCount(image) || index == found.index) return DigestTable::Damaged;
  *expected = image.base + found.offset + kDigestTableHeader + index * kDigestSize;
  return DigestTable::Present;
}
