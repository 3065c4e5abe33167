// Checking a member's plain bytes against the archive's digest table (its
// layout is described with kDigestMemberName in archive.h).
#include <cstring>

#include "archive/archive.h"

const char kMemberDamagedFormat[] = "「%s」のデータが壊れています（チェックサムが一致しません）";

DigestCheck CheckMemberDigest(const ArchiveImage& image, const ArchiveEntry& entry, const uint8_t* data,
                              uint32_t size) {
  MemberRef table;
  if (!LocateMember(image, kDigestMemberName, &table)) return DigestCheck::None;
  const uint32_t count = DirectoryEntryCount(image);
  // A table that is not stored plain or does not fit the directory is
  // damage: nothing can be trusted against it.
  if (table.entry->storageFlags != 0 || table.entry->scrambleMarker == kScrambled ||
      !DigestTableValid(table.stored, table.entry->storedSize, count))
    return DigestCheck::Differs;
  const uint64_t index = uint64_t(&entry - image.entries);
  if (index >= count || &entry == table.entry) return DigestCheck::Differs;
  uint8_t digest[kDigestSize];
  if (!DigestSha256(data, size, digest)) return DigestCheck::Differs;
  return std::memcmp(digest, table.stored + kDigestTableHeader + index * kDigestSize, kDigestSize) == 0
             ? DigestCheck::Matches
             : DigestCheck::Differs;
}
