// Writing members to disk: free space, attributes, the newer-only rule, times,
// working buffers, and the write that never leaves a file half-written. The
// rules are the engine's (one line of the update list, run by the wizard);
// the pieces, digests and buffers are the archive's own member write.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "unit/engine_fixture.h"

using namespace testing_archive;

namespace {

using engine_testing::kMemberTime;
constexpr FileTime kOlder = {0x1FFFFFFF, 0x01D90000};
constexpr FileTime kNewer = {0x00000000, 0x01D90001}; // later by its high half only

// The member `name` written by the archive to `path` (removed again when
// it fails, as the engine does); the text a failure shows in *shown.
int WriteMember(const ArchiveImage& image, const char* name, const char* path, std::string* shown) {
  MemberRef member;
  if (!LocateMember(image, name, &member)) return *shown = kMemberMissingText, 0;
  uint32_t error = 0;
  MemberProblem problem = MemberProblem::None;
  const int written = WriteMemberFile(image, member, path, &member.entry->timeStamp, &error, &problem);
  char text[kTextCapacity] = "";
  if (written == 0) MemberProblemText(problem, name, text, sizeof text);
  *shown = text;
  if (written != 1) RemoveFile(path);
  return written;
}

class Extract : public engine_testing::EngineTest {
protected:
  void SetUp() override {
    EngineTest::SetUp();
    fake::AddDirectory("C:\\Game");
    UseArchive({Member("GAME.DAT", std::string(3000, 'g') + "new", true, true, kMemberTime),
                Member("PLAIN.TXT", "plain text", false, false, kMemberTime),
                Member("EMPTY", "", false, false, kMemberTime)});
  }
  void TearDown() override {
    for (const std::string& f : fake::AllFiles()) EXPECT_EQ(std::string::npos, f.find("~fa2")) << f;
    EngineTest::TearDown();
  }
  // One update line for `name` ("u" with the newer-only rule): 1 when the
  // run completed, 0 when it ended with its messages.
  int Run(const char* name, int newerOnly = 0) {
    first = fake::Boxes().size();
    Ini({std::string("UpdateFile00=") + (newerOnly ? "u," : "") + name});
    EngineTest::Run();
    return Ended() ? 0 : 1;
  }
  // The texts the last run showed.
  std::vector<std::string> Shown() {
    std::vector<std::string> texts;
    for (size_t i = first; i < fake::Boxes().size(); ++i) texts.push_back(fake::Boxes()[i].text);
    return texts;
  }
  size_t first = 0;
};

TEST_F(Extract, ScrambledCompressedMemberIsWrittenWithItsTimeStamp) {
  fake::AddFile("C:\\Game\\GAME.DAT", "old", kOlder);
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
        std::string shown;
        const int written = WriteMember(image, "BIG.DAT", "C:\\Game\\BIG.DAT", &shown);
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
  const struct {
    const char* form;
    bool digests;
    bool written;
    DirectoryEdit edit;
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
    fa2::Bytes archive = Build({Member("GAME.DAT", "new game", true, true, kMemberTime), Member("PLAIN.TXT", "plain")},
                               false, false, c.digests);
    EditDirectory(archive, c.edit);
    ArchiveImage image;
    ASSERT_TRUE(Mount(archive, image));
    std::string shown;
    EXPECT_EQ(c.written ? 1 : 0, WriteMember(image, "GAME.DAT", "C:\\Game\\GAME.NEW", &shown));
    EXPECT_EQ("old", fake::Content("C:\\Game\\GAME.DAT"));
    if (c.written) EXPECT_EQ("new game", fake::Content("C:\\Game\\GAME.NEW"));
    EXPECT_EQ(c.written ? 2u : 1u, fake::AllFiles().size());
    char damaged[kTextCapacity];
    FormatText(damaged, sizeof damaged, kMemberDamagedFormat, "GAME.DAT");
    EXPECT_EQ(c.written ? "" : damaged, shown);
    EXPECT_TRUE(fake::Boxes().empty());
    CloseArchive(image);
    EXPECT_EQ(0, fake::OpenHandleCount());
  }
}

TEST_F(Extract, EmptyMemberMakesAnEmptyStampedFile) {
  ASSERT_EQ(1, Run("EMPTY"));
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

TEST_F(Extract, DirectoryDestinationIsRefusedAndLeftAlone) {
  fake::AddDirectory("C:\\Game\\GAME.DAT");
  EXPECT_EQ(0, Run("GAME.DAT"));
  EXPECT_EQ(std::vector<std::string>{engine_testing::WriteFailedAt("C:\\Game\\GAME.DAT",
                                                                   "同じ名前のフォルダーがあります")},
            Shown());
  EXPECT_TRUE(fake::IsDirectory("C:\\Game\\GAME.DAT"));
}

TEST_F(Extract, MissingMemberIsReported) {
  EXPECT_EQ(0, Run("NOPE.DAT"));
  EXPECT_EQ((std::vector<std::string>{"Can't Find File in Resource !!", engine_testing::kWriteFailed}), Shown());
  EXPECT_FALSE(fake::Exists("C:\\Game\\NOPE.DAT"));
}

TEST_F(Extract, FreeSpaceEqualPassesOneByteShortIsRefused) {
  fake::SetFreeSpace('C', 3003);
  EXPECT_EQ(1, Run("GAME.DAT"));
  fake::SetFreeSpace('C', 3002);
  fake::AddFile("C:\\Game\\GAME.DAT", "old", kOlder);
  EXPECT_EQ(0, Run("GAME.DAT"));
  EXPECT_EQ((std::vector<std::string>{"ディスク容量が足りません。C: ドライブに 1 バイトの空き容量が必要です",
                                      engine_testing::kWriteFailed}),
            Shown());
  EXPECT_EQ("old", fake::Content("C:\\Game\\GAME.DAT"));
}

TEST_F(Extract, FreeSpaceIsCheckedBeforeTheDirectoryAndNewerRules) {
  fake::SetFreeSpace('C', 0);
  fake::AddDirectory("C:\\Game\\GAME.DAT");
  EXPECT_EQ(0, Run("GAME.DAT", 1));
  ASSERT_EQ(2u, Shown().size());
  EXPECT_EQ("ディスク容量が足りません。C: ドライブに 3003 バイトの空き容量が必要です", Shown()[0]);
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
  EXPECT_EQ(0, Run("BIG"));
  ASSERT_EQ(2u, Shown().size());
  EXPECT_EQ("ディスク容量が足りません。C: ドライブに 4026531824 バイトの空き容量が必要です", Shown()[0]);
}

TEST_F(Extract, UnknownFreeSpaceDoesNotRefuseTheWrite) {
  fake::SetFreeSpaceUnknown('C');
  EXPECT_EQ(1, Run("GAME.DAT"));
  EXPECT_TRUE(fake::Boxes().empty());
}

TEST_F(Extract, AllocationFailuresReportAndReleaseEverything) {
  fake::FailAllocationAfter(0); // the working windows, whatever the member's size
  std::string shown;
  EXPECT_EQ(0, WriteMember(image, "GAME.DAT", "C:\\Game\\GAME.DAT", &shown));
  EXPECT_EQ("Can't Allocate Memory !!", shown);
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

} // namespace
