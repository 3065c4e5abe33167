// Writing members to disk: free space, attributes, the newer-only rule, times,
// working buffers, and the write that never leaves a file half-written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "unit/archive_helpers.h"

using namespace testing_archive;

namespace {

constexpr FileTime kMemberTime = {0x20000000, 0x01D90000};
constexpr FileTime kOlder = {0x1FFFFFFF, 0x01D90000};
constexpr FileTime kNewer = {0x00000000, 0x01D90001}; // later by its high half only

class Extract : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    fake::AddDirectory("C:\\Game");
    ASSERT_TRUE(Mount(Build({Member("GAME.DAT", std::string(3000, 'g') + "new", true, true, kMemberTime),
                             Member("PLAIN.TXT", "plain text", false, false, kMemberTime),
                             Member("EMPTY", "", false, false, kMemberTime)}),
                      image));
  }
  void TearDown() override {
    CloseArchive(image);
    EXPECT_EQ(0, fake::OpenHandleCount());
    for (const std::string& f : fake::AllFiles()) EXPECT_EQ(std::string::npos, f.find("~fa2")) << f;
  }
  int Run(const char* name, int newerOnly = 0) { return ExtractMember(image, name, "C:\\Game\\GAME.DAT", newerOnly); }
  ArchiveImage image;
};

TEST_F(Extract, ScrambledCompressedMemberIsWrittenWithItsTimeStamp) {
  ASSERT_EQ(1, Run("game.dat"));
  EXPECT_EQ(std::string(3000, 'g') + "new", fake::Content("C:\\Game\\GAME.DAT"));
  fake::Times t = fake::FileTimes("C:\\Game\\GAME.DAT");
  EXPECT_EQ(FileTimeValue(kMemberTime), FileTimeValue(t.creation));
  EXPECT_EQ(FileTimeValue(kMemberTime), FileTimeValue(t.access));
  EXPECT_EQ(FileTimeValue(kMemberTime), FileTimeValue(t.write));
  EXPECT_TRUE(fake::Boxes().empty());
}

// Members written piece by piece: sizes around the reader's window, every
// storage form, checked against the archive's digest; one flipped byte in
// the last piece still keeps the file from being written.
TEST(ExtractInPieces, EveryFormAndSizeAroundTheWindowsIsWrittenExactly) {
  std::string content;
  for (uint32_t i = 0; content.size() < 2 * kMemberPieceSize + 9; ++i)
    content += (i % 7 ? "tile map " : "") + std::to_string(i * 2654435761u);
  for (size_t size : {size_t(kMemberPieceSize), size_t(2 * kMemberPieceSize + 7), size_t(kMemberStoredPieceSize + 2)})
    for (int form = 0; form < 4; ++form)
      for (bool damage : {false, true}) {
        fake::Reset();
        fake::AddDirectory("C:\\Game");
        const std::string data = content.substr(0, size);
        fa2::Bytes archive = Build({Member("BIG.DAT", data, form & 1, form & 2)}, true, true, true);
        ArchiveImage image;
        ASSERT_TRUE(Mount(archive, image));
        if (damage) {
          archive[kHeaderSize + image.entries[0].storedSize - 9] ^= 0x20;
          CloseArchive(image);
          ASSERT_TRUE(Mount(archive, image));
        }
        const int written = ExtractMember(image, "BIG.DAT", "C:\\Game\\BIG.DAT", 0);
        EXPECT_EQ(written, damage ? 0 : 1) << size << " form " << form;
        EXPECT_EQ(fake::Exists("C:\\Game\\BIG.DAT"), !damage) << size << " form " << form;
        if (!damage) EXPECT_TRUE(fake::Content("C:\\Game\\BIG.DAT") == data) << size << " form " << form;
        EXPECT_EQ(fake::AllFiles().size(), damage ? 0u : 1u);
        CloseArchive(image);
      }
}

// Moves the table (the last of three entries) in front of PLAIN.TXT, its
// bytes and slots too, and names PLAIN.TXT as it: a valid table, then a
// second entry of its name.
void TableThenASecond(fa2::Bytes& b, ArchiveEntry* e, size_t at) {
  const size_t plainAt = at - RoundUp16(e[1].storedSize);
  const fa2::Bytes plain(b.begin() + plainAt, b.begin() + at);
  fa2::Bytes table(b.begin() + at, b.begin() + at + RoundUp16(e[2].storedSize));
  std::swap_ranges(table.begin() + 48, table.begin() + 80, table.begin() + 80);
  std::copy(plain.begin(), plain.end(), std::copy(table.begin(), table.end(), b.begin() + plainAt));
  std::swap(e[1], e[2]);
  std::strcpy(e[2].name, kDigestMemberName);
}

// A digest table that is there but cannot be used refuses the member as a
// damaged member is refused, before any file is made; only an archive where
// no entry has the table's name (in any letter case) is read unchecked.
TEST(ExtractDigestTable, AnUnusableTableRefusesTheMemberAndWritesNothing) {
  // entries: GAME.DAT, PLAIN.TXT, the table; `at` is where the table's bytes start.
  using Edit = void (*)(fa2::Bytes& archive, ArchiveEntry* entries, size_t at);
  const struct {
    const char* form;
    bool digests;
    bool written;
    Edit edit;
  } cases[] = {
      {"no table", false, true, nullptr},
      {"intact", true, true, nullptr},
      {"bytes past the directory", true, false,
       [](fa2::Bytes&, ArchiveEntry* e, size_t) { e[2].storedSize = e[2].uncompressedSize = 0x7FFFFFF0; }},
      {"stated size not its stored size", true, false,
       [](fa2::Bytes&, ArchiveEntry* e, size_t) { ++e[2].uncompressedSize; }},
      {"another letter case", true, false,
       [](fa2::Bytes&, ArchiveEntry* e, size_t) { std::strcpy(e[2].name, "\\sha-256"); }},
      {"a second entry of the name", true, false, TableThenASecond},
      {"an earlier one in another case", true, false,
       [](fa2::Bytes&, ArchiveEntry* e, size_t) { std::strcpy(e[1].name, "\\Sha-256"); }},
      {"scrambled", true, false, [](fa2::Bytes&, ArchiveEntry* e, size_t) { e[2].scrambleMarker = kScrambled; }},
      {"its entry count", true, false, [](fa2::Bytes& b, ArchiveEntry*, size_t at) { ++b[at + 8]; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.form);
    fake::Reset();
    fake::AddDirectory("C:\\Game");
    fake::AddFile("C:\\Game\\GAME.DAT", "old", kOlder);
    fa2::Bytes archive =
        Build({Member("GAME.DAT", "new game", true, true, kMemberTime), Member("PLAIN.TXT", "plain")}, false, false,
              c.digests);
    if (c.edit) {
      ArchiveEntry entries[3];
      uint8_t* directory = archive.data() + archive.size() - sizeof entries;
      std::memcpy(entries, directory, sizeof entries);
      c.edit(archive, entries, kHeaderSize + RoundUp16(entries[0].storedSize) + RoundUp16(entries[1].storedSize));
      std::memcpy(directory, entries, sizeof entries);
    }
    ArchiveImage image;
    ASSERT_TRUE(Mount(archive, image));
    EXPECT_EQ(c.written ? 1 : 0, ExtractMember(image, "GAME.DAT", "C:\\Game\\GAME.DAT", 0));
    EXPECT_EQ(c.written ? "new game" : "old", fake::Content("C:\\Game\\GAME.DAT"));
    EXPECT_EQ(1u, fake::AllFiles().size());
    char damaged[kTextCapacity];
    FormatText(damaged, sizeof damaged, kMemberDamagedFormat, "GAME.DAT");
    EXPECT_EQ(c.written ? 0u : 1u, fake::Boxes().size());
    EXPECT_EQ(c.written ? "" : damaged, fake::Boxes().empty() ? "" : fake::Boxes().back().text);
    CloseArchive(image);
    EXPECT_EQ(0, fake::OpenHandleCount());
  }
}

TEST_F(Extract, EmptyMemberMakesAnEmptyStampedFile) {
  ASSERT_EQ(1, ExtractMember(image, "EMPTY", "C:\\Game\\EMPTY", 0));
  EXPECT_TRUE(fake::Exists("C:\\Game\\EMPTY"));
  EXPECT_EQ("", fake::Content("C:\\Game\\EMPTY"));
  EXPECT_EQ(FileTimeValue(kMemberTime), FileTimeValue(fake::FileTimes("C:\\Game\\EMPTY").write));
}

TEST_F(Extract, NewerOnlyRuleComparesWholeSixtyFourBitTimes) {
  fake::AddFile("C:\\Game\\GAME.DAT", "kept", kNewer);
  EXPECT_EQ(1, Run("GAME.DAT", 1));
  EXPECT_EQ("kept", fake::Content("C:\\Game\\GAME.DAT"));
  EXPECT_EQ(FileTimeValue(kNewer), FileTimeValue(fake::FileTimes("C:\\Game\\GAME.DAT").write));

  EXPECT_EQ(1, Run("GAME.DAT", 0)); // flag off: replaced even though newer
  EXPECT_NE("kept", fake::Content("C:\\Game\\GAME.DAT"));

  fake::AddFile("C:\\Game\\GAME.DAT", "equal", kMemberTime);
  EXPECT_EQ(1, Run("GAME.DAT", 1));
  EXPECT_NE("equal", fake::Content("C:\\Game\\GAME.DAT"));

  fake::AddFile("C:\\Game\\GAME.DAT", "older", kOlder);
  EXPECT_EQ(1, Run("GAME.DAT", 1));
  EXPECT_NE("older", fake::Content("C:\\Game\\GAME.DAT"));
}

TEST_F(Extract, ReadOnlyDestinationBecomesNormalEvenWhenKept) {
  fake::AddFile("C:\\Game\\GAME.DAT", "kept", kNewer, kAttrReadOnly | kAttrHidden | kAttrArchive);
  EXPECT_EQ(1, Run("GAME.DAT", 1));
  EXPECT_EQ("kept", fake::Content("C:\\Game\\GAME.DAT"));
  EXPECT_EQ(kAttrNormal, fake::Attributes("C:\\Game\\GAME.DAT"));

  fake::AddFile("C:\\Game\\GAME.DAT", "old", kOlder, kAttrReadOnly);
  EXPECT_EQ(1, Run("GAME.DAT", 0));
  EXPECT_NE("old", fake::Content("C:\\Game\\GAME.DAT"));
}

TEST_F(Extract, DirectoryDestinationFailsSilently) {
  fake::AddDirectory("C:\\Game\\GAME.DAT");
  EXPECT_EQ(0, Run("GAME.DAT"));
  EXPECT_TRUE(fake::Boxes().empty());
  EXPECT_TRUE(fake::IsDirectory("C:\\Game\\GAME.DAT"));
}

TEST_F(Extract, MissingMemberIsReported) {
  EXPECT_EQ(0, Run("NOPE.DAT"));
  ASSERT_EQ(1u, fake::Boxes().size());
  EXPECT_EQ("Can't Find File in Resource !!", fake::Boxes()[0].text);
  EXPECT_FALSE(fake::Exists("C:\\Game\\GAME.DAT"));
}

TEST_F(Extract, FreeSpaceEqualPassesOneByteShortIsRefused) {
  fake::SetFreeSpace('C', 3003);
  EXPECT_EQ(1, Run("GAME.DAT"));
  fake::SetFreeSpace('C', 3002);
  fake::AddFile("C:\\Game\\GAME.DAT", "old", kOlder);
  EXPECT_EQ(0, Run("GAME.DAT"));
  ASSERT_EQ(1u, fake::Boxes().size());
  EXPECT_EQ("ディスク容量が足りません。C: ドライブに 1 バイトの空き容量が必要です", fake::Boxes()[0].text);
  EXPECT_EQ("old", fake::Content("C:\\Game\\GAME.DAT"));
}

TEST_F(Extract, FreeSpaceIsCheckedBeforeTheDirectoryAndNewerRules) {
  fake::SetFreeSpace('C', 0);
  fake::AddDirectory("C:\\Game\\GAME.DAT");
  EXPECT_EQ(0, Run("GAME.DAT", 1));
  EXPECT_EQ(1u, fake::Boxes().size());
}

TEST_F(Extract, ShortfallsOfTwoGibibytesOrMoreShowTheirTrueCount) {
  fa2::Bytes bytes = Build({Member("BIG", "x", true)}, false, false);
  const size_t entry = bytes.size() - kEntrySize;
  uint32_t huge = 0xF0000000u; // stated as 3.75 GiB; the check comes before any decoding
  std::memcpy(bytes.data() + entry + 272, &huge, 4);
  bytes[entry + 260] = kMemberCompressed;
  CloseArchive(image);
  ASSERT_TRUE(Mount(bytes, image));
  fake::SetFreeSpace('C', 0x10);
  EXPECT_EQ(0, ExtractMember(image, "BIG", "C:\\Game\\BIG", 0));
  ASSERT_EQ(1u, fake::Boxes().size());
  EXPECT_EQ("ディスク容量が足りません。C: ドライブに 4026531824 バイトの空き容量が必要です", fake::Boxes()[0].text);
}

TEST_F(Extract, UnknownFreeSpaceDoesNotRefuseTheWrite) {
  fake::SetFreeSpaceUnknown('C');
  EXPECT_EQ(1, Run("GAME.DAT"));
  EXPECT_TRUE(fake::Boxes().empty());
}

TEST_F(Extract, AllocationFailuresReportAndReleaseEverything) {
  fake::FailAllocationAfter(0); // the working windows, whatever the member's size
  EXPECT_EQ(0, Run("GAME.DAT"));
  ASSERT_EQ(1u, fake::Boxes().size());
  EXPECT_EQ("Can't Allocate Memory !!", fake::Boxes()[0].text);
  EXPECT_FALSE(fake::Exists("C:\\Game\\GAME.DAT"));
}

TEST_F(Extract, DiskFullLeavesThePreviousFileIntact) {
  fake::AddFile("C:\\Game\\GAME.DAT", "previous", kOlder);
  for (int64_t budget : {0, 1, 1000, 3002}) {
    fake::SetWriteBudget(budget);
    EXPECT_EQ(0, Run("GAME.DAT")) << budget;
    EXPECT_EQ("previous", fake::Content("C:\\Game\\GAME.DAT")) << budget;
    EXPECT_EQ(FileTimeValue(kOlder), FileTimeValue(fake::FileTimes("C:\\Game\\GAME.DAT").write));
  }
  fake::SetWriteBudget(-1);
  EXPECT_EQ(1, Run("GAME.DAT"));
}

TEST_F(Extract, FailedStampOrReplaceLeavesThePreviousFileIntact) {
  fake::AddFile("C:\\Game\\GAME.DAT", "previous", kOlder);
  fake::FailStampTimes(true);
  EXPECT_EQ(0, Run("GAME.DAT"));
  fake::FailStampTimes(false);
  fake::FailReplace(true);
  EXPECT_EQ(0, Run("GAME.DAT"));
  EXPECT_EQ("previous", fake::Content("C:\\Game\\GAME.DAT"));
}

}  // namespace
