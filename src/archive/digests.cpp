// Finding a member's digest in the archive's digest table (its layout is
// described with kDigestMemberName in archive.h).
#include "archive/archive.h"

const char kMemberDamagedFormat[] = "「%s」のデータが壊れています（チェックサムが一致しません）";

DigestTable ExpectedMemberDigest(const ArchiveImage& image, const ArchiveEntry& entry, const uint8_t** expected) {
  MemberRef table;
  if (!LocateMember(image, kDigestMemberName, &table)) return DigestTable::Absent;
  const uint32_t count = DirectoryEntryCount(image);
  // A table that is not stored plain or does not fit the directory is
  // damage: nothing can be trusted against it.
  if (table.entry->storageFlags != 0 || table.entry->scrambleMarker == kScrambled ||
      !DigestTableValid(table.stored, table.entry->storedSize, count))
    return DigestTable::Damaged;
  const uint64_t index = uint64_t(&entry - image.entries);
  if (index >= count || &entry == table.entry) return DigestTable::Damaged;
  *expected = table.stored + kDigestTableHeader + index * kDigestSize;
  return DigestTable::Present;
}
