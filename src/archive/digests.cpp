// Finding a member's digest in the archive's digest table (its layout is
// described with kDigestMemberName in archive.h).
// Format: docs/formats.md, "The digest table".
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

DigestTable LocateDigestTable(const ArchiveHeader& header, const ArchiveEntry* entries, uint32_t* index,
                              uint64_t* offset) {
  uint32_t count = 0;
  uint64_t at = kHeaderSize; // 64 bits: damaged sizes must not wrap around
  for (uint32_t i = 0; i < header.entryCount; ++i) {
    if (EntryHasName(entries[i], kDigestMemberName) && count++ == 0) {
      *index = i;
      *offset = at;
    }
    at += RoundUp16(entries[i].storedSize);
  }
  if (count == 0) return DigestTable::Absent;
  const ArchiveEntry& table = entries[*index];
  const bool usable = count == 1 && std::strcmp(table.name, kDigestMemberName) == 0 &&
                      MemberReadable(table, *offset, header.directoryOffset) && table.storageFlags == 0 &&
                      table.scrambleMarker != kScrambled && table.storedSize == DigestTableSize(header.entryCount);
  return usable ? DigestTable::Present : DigestTable::Damaged;
}

DigestTable ExpectedMemberDigest(const ArchiveImage& image, const ArchiveEntry& entry, const uint8_t** expected) {
  if (image.directory == nullptr) return DigestTable::Absent;
  const ArchiveHeader& header = *reinterpret_cast<const ArchiveHeader*>(image.directory);
  uint32_t table = 0;
  uint64_t offset = 0;
  const DigestTable found = LocateDigestTable(header, image.entries, &table, &offset);
  if (found != DigestTable::Present) return found;
  if (!DigestTableValid(image.base + offset, image.entries[table].storedSize, header.entryCount))
    return DigestTable::Damaged;
  const uint64_t index = uint64_t(&entry - image.entries);
  if (index >= header.entryCount || index == table) return DigestTable::Damaged;
  *expected = image.base + offset + kDigestTableHeader + index * kDigestSize;
  return DigestTable::Present;
}
