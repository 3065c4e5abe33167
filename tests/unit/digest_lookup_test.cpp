// The digest table is found one way: fa2's reading of an archive (list,
// verify, extract) takes the table where the updater does, and both call a
// damaged table damaged.
#include <gtest/gtest.h>

#include <cstring>

#include "unit/archive_helpers.h"

using namespace testing_archive;

namespace {

TEST(DigestLookup, Fa2AndTheUpdaterFindTheSameTable) {
  // entries: GAME.DAT, PLAIN.TXT, the table; `at` is where the table's bytes start.
  const struct {
    const char* form;
    bool digests;
    DigestTable found;
    DirectoryEdit edit;
  } cases[] = {
      {"no table", false, DigestTable::Absent, nullptr},
      {"intact", true, DigestTable::Present, nullptr},
      {"another letter case", true, DigestTable::Damaged,
       [](fa2::Bytes&, ArchiveEntry* e, size_t) { std::strcpy(e[2].name, "\\sha-256"); }},
      {"an earlier one spelt so", true, DigestTable::Damaged,
       [](fa2::Bytes&, ArchiveEntry* e, size_t) { std::strcpy(e[1].name, kDigestMemberName); }},
      {"an earlier one in another case", true, DigestTable::Damaged,
       [](fa2::Bytes&, ArchiveEntry* e, size_t) { std::strcpy(e[1].name, "\\Sha-256"); }},
      {"another name only", true, DigestTable::Absent,
       [](fa2::Bytes&, ArchiveEntry* e, size_t) { std::strcpy(e[2].name, "\\SHA-257"); }},
      {"scrambled", true, DigestTable::Damaged,
       [](fa2::Bytes&, ArchiveEntry* e, size_t) { e[2].scrambleMarker = kScrambled; }},
      {"bytes past the directory", true, DigestTable::Damaged,
       [](fa2::Bytes&, ArchiveEntry* e, size_t) { e[2].storedSize = e[2].uncompressedSize = 0x7FFFFFF0; }},
      {"its entry count", true, DigestTable::Damaged, [](fa2::Bytes& b, ArchiveEntry*, size_t at) { ++b[at + 8]; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.form);
    fake::Reset();
    fa2::Bytes archive = Build({Member("GAME.DAT", "game", true, true), Member("PLAIN.TXT", "plain")}, false, false,
                               c.digests);
    EditDirectory(archive, c.edit);
    ArchiveImage image;
    ASSERT_TRUE(Mount(archive, image));
    const uint8_t* expected = nullptr;
    EXPECT_EQ(c.found, ExpectedMemberDigest(image, image.entries[0], &expected));
    CloseArchive(image);

    fa2::ParsedArchive parsed;
    std::string error;
    const bool read = fa2::ParseArchive(archive.data(), archive.size(), parsed, error);
    EXPECT_EQ(c.found != DigestTable::Damaged, read) << error;
    EXPECT_EQ(read, error.find("digest table") == std::string::npos) << error;
    EXPECT_EQ(c.found == DigestTable::Present ? 2 : -1, read ? parsed.digestIndex : -1);
  }
}

} // namespace
