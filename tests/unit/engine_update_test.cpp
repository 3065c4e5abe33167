// The update file list end to end: selection, the operations u, d, o and e,
// where members land, the free-space pre-check, and the page's start and
// completion states.
#include <cstdio>

#include "unit/engine_fixture.h"

using namespace engine_testing;

namespace {

class EngineUpdate : public EngineTest {};

// ---- Selection and the shape of a line ------------------------------------------

TEST_F(EngineUpdate, ModeFieldSelectsLinesAndAMismatchDoesNotEndTheList) {
  game.installMode = 1;
  UseArchive({Member("A.DAT", "a"), Member("B.DAT", "b"), Member("C.DAT", "c")});
  Ini({"UpdateFile00=1,u,A.DAT", "UpdateFile01=2,u,B.DAT", "UpdateFile02=u,C.DAT"});
  Run();
  ExpectCompleted();
  EXPECT_EQ("a", fake::Content("C:\\Game\\A.DAT"));
  EXPECT_FALSE(fake::Exists("C:\\Game\\B.DAT"));
  EXPECT_EQ("c", fake::Content("C:\\Game\\C.DAT"));
}

TEST_F(EngineUpdate, TwoByteFirstFieldIsAPlainPathAndOnlyUpdateIsNewerOnly) {
  // "12,u,x.dat": 12 is not a mode field, so the line writes member "12".
  // "U,GAME.DAT" keeps a newer file as "u" does; the plain line replaces one.
  UseArchive({Member("12", "twelve"), Member("x.dat", "x"), Member("GAME.DAT", "new game", false, false, kMemberTime),
              Member("CONFIG.DAT", "new config", false, false, kMemberTime)});
  fake::AddFile("C:\\Game\\GAME.DAT", "newer", kNewer);
  fake::AddFile("C:\\Game\\CONFIG.DAT", "newer", kNewer);
  Ini({"UpdateFile00=12,u,x.dat", "UpdateFile01=U,GAME.DAT", "UpdateFile02=CONFIG.DAT"});
  Run();
  ExpectCompleted();
  EXPECT_EQ("twelve", fake::Content("C:\\Game\\12"));
  EXPECT_FALSE(fake::Exists("C:\\Game\\x.dat"));
  EXPECT_EQ("newer", fake::Content("C:\\Game\\GAME.DAT"));
  EXPECT_EQ("new config", fake::Content("C:\\Game\\CONFIG.DAT"));
  EXPECT_EQ(FileTimeValue(kMemberTime), FileTimeValue(fake::FileTimes("C:\\Game\\CONFIG.DAT").write));
}

TEST_F(EngineUpdate, SixteenKeysAreReadAndNoMore) {
  std::vector<fa2::PackMember> members;
  std::vector<std::string> lines;
  for (int i = 0; i <= 16; ++i) {
    char key[32], name[16];
    std::snprintf(name, sizeof name, "F%02d.DAT", i);
    std::snprintf(key, sizeof key, "UpdateFile%02d=u,%s", i, name);
    members.push_back(Member(name, name));
    lines.push_back(key);
  }
  UseArchive(members);
  Ini(lines);
  Run();
  ExpectCompleted();
  EXPECT_EQ("F00.DAT", fake::Content("C:\\Game\\F00.DAT"));
  EXPECT_EQ("F15.DAT", fake::Content("C:\\Game\\F15.DAT"));
  EXPECT_FALSE(fake::Exists("C:\\Game\\F16.DAT"));
}

TEST_F(EngineUpdate, FirstMissingKeyEndsTheList) {
  Ini({"UpdateFile00=GAME.DAT", "UpdateFile02=CONFIG.DAT"});
  Run();
  ExpectCompleted();
  EXPECT_TRUE(fake::Exists("C:\\Game\\GAME.DAT"));
  EXPECT_FALSE(fake::Exists("C:\\Game\\CONFIG.DAT"));
}

TEST_F(EngineUpdate, WithoutAnyAcceptedEntryTheRunEndsWithNothingToDo) {
  // No UpdateFile00: UpdateFile01 is never looked at.
  Ini({"UpdateFile01=GAME.DAT"});
  intptr_t result = Run();
  ExpectRefusedWith(result, kNothingToDo);
  EXPECT_FALSE(fake::Exists("C:\\Game\\GAME.DAT"));
}

TEST_F(EngineUpdate, LinesThatAllDropOutAlsoLeaveNothingToDo) {
  fake::AddFile("C:\\Game\\check.dat", "", {}, kAttrNormal);
  Ini({"UpdateFile00=3,u,GAME.DAT", "UpdateFile01=e,check.dat"});
  ExpectRefusedWith(Run(), kNothingToDo);
}

// ---- Where members land -----------------------------------------------------------

TEST_F(EngineUpdate, MembersAreAddressedByBaseNameBelowTheDataFolder) {
  std::strcpy(description.dataFolder, "Data");
  fake::AddDirectory("C:\\Game\\Data\\sub");
  Ini({"UpdateFile00=sub\\GAME.DAT", "UpdateFile01=CONFIG.DAT"});
  Run();
  ExpectCompleted();
  EXPECT_EQ("new game", fake::Content("C:\\Game\\Data\\sub\\GAME.DAT"));
  EXPECT_EQ("new config", fake::Content("C:\\Game\\Data\\CONFIG.DAT"));
}

TEST_F(EngineUpdate, DataFolderIsCreatedButNotAFolderInsideThePath) {
  std::strcpy(description.dataFolder, "Data");
  Ini({"UpdateFile00=CONFIG.DAT", "UpdateFile01=sub\\GAME.DAT"});
  intptr_t result = Run();
  ExpectRefusedWith(result, WriteFailedAt("C:\\Game\\Data\\sub\\GAME.DAT", "フォルダーが見つかりません"));
  EXPECT_TRUE(fake::IsDirectory("C:\\Game\\Data"));
  EXPECT_FALSE(fake::Exists("C:\\Game\\Data\\CONFIG.DAT")); // all or nothing
  EXPECT_FALSE(fake::Exists("C:\\Game\\Data\\sub"));
}

TEST_F(EngineUpdate, TrailByteWithTheValueOfABackslashDoesNotSplitTheBaseName) {
  // 表 is 0x95 0x5C. Taken byte by byte the name would be ".dat".
  UseArchive({Member("表.dat", "hyou"), Member(".dat", "wrong")});
  fake::AddDirectory("C:\\Game\\sub");
  Ini({"UpdateFile00=u,sub\\表.dat"});
  Run();
  ExpectCompleted();
  EXPECT_EQ("hyou", fake::Content("C:\\Game\\sub\\表.dat"));
}

TEST_F(EngineUpdate, MissingMemberIsAWriteFailureAfterTheExtractionsOwnBox) {
  Ini({"UpdateFile00=GAME.DAT", "UpdateFile01=NONE.DAT"});
  intptr_t result = Run();
  EXPECT_EQ(-1, result);
  ASSERT_EQ(2u, fake::Boxes().size());
  EXPECT_EQ("Can't Find File in Resource !!", fake::Boxes()[0].text);
  EXPECT_EQ(kWriteFailed, fake::Boxes()[1].text);
  EXPECT_EQ(dialog, fake::Boxes()[1].owner);
  EXPECT_FALSE(fake::Exists("C:\\Game\\GAME.DAT")); // all or nothing
}

constexpr char kTooLong[] = "パスが長すぎます。259 バイトまでです";

TEST_F(EngineUpdate, DestinationThatDoesNotFitIsRefusedWithoutWriting) {
  std::string deep = "C:\\" + std::string(240, 'g');
  fake::AddDirectory(deep);
  std::strcpy(game.installPath, deep.c_str());
  Ini({"UpdateFile00=u," + std::string(20, 's') + "\\GAME.DAT"});
  intptr_t result = Run();
  ExpectRefusedWith(result, WriteFailedAt(std::string(20, 's') + "\\GAME.DAT", kTooLong));
  EXPECT_TRUE(fake::AllFiles().size() == 1); // UPDATE.INI only
}

TEST_F(EngineUpdate, DataFolderThatDoesNotFitIsRefused) {
  std::strcpy(description.dataFolder, std::string(255, 'd').c_str());
  Ini({"UpdateFile00=GAME.DAT"});
  ExpectRefusedWith(Run(), WriteFailedAt("GAME.DAT", kTooLong));
  EXPECT_EQ(1u, fake::AllFiles().size());
}

// ---- Overwrite only -------------------------------------------------------------

TEST_F(EngineUpdate, OverwriteOnlyRuleWritesOnlyOverExistingFiles) {
  fake::AddFile("C:\\Game\\CONFIG.DAT", "old", kOlder);
  Ini({"OverwriteOnly=1", "UpdateFile00=u,GAME.DAT", "UpdateFile01=CONFIG.DAT", "UpdateFile02=d,CONFIG.DAT"});
  Run();
  ExpectCompleted();
  EXPECT_FALSE(fake::Exists("C:\\Game\\GAME.DAT"));
  EXPECT_FALSE(fake::Exists("C:\\Data\\CONFIG.DAT"));
  EXPECT_EQ("new config", fake::Content("C:\\Game\\CONFIG.DAT"));
}

TEST_F(EngineUpdate, OverwriteOperationSkipsMissingFilesAndFolders) {
  fake::AddDirectory("C:\\Game\\GAME.DAT");
  fake::AddFile("C:\\Game\\CONFIG.DAT", "old", kNewer);
  Ini({"OverwriteOnly=0", "UpdateFile00=o,GAME.DAT", "UpdateFile01=o,CONFIG.DAT", "UpdateFile02=o,NONE.DAT"});
  Run();
  ExpectCompleted();
  EXPECT_TRUE(fake::IsDirectory("C:\\Game\\GAME.DAT"));
  EXPECT_EQ("new config", fake::Content("C:\\Game\\CONFIG.DAT")); // not newer-only
}

// ---- Data files --------------------------------------------------------------------

TEST_F(EngineUpdate, ExistingDataFileIsKeptAndRewrittenWithoutATimeStamp) {
  const FileTime original = {0x1234, 0x01D00000};
  std::strcpy(description.dataFolder, "Save");
  fake::AddFile("C:\\Data\\Save\\CONFIG.DAT", "player settings", original);
  Ini({"UpdateFile00=d,CONFIG.DAT"});
  Run();
  ExpectCompleted();
  EXPECT_EQ("player settings", fake::Content("C:\\Data\\Save\\CONFIG.DAT"));
  const uint64_t written = FileTimeValue(fake::FileTimes("C:\\Data\\Save\\CONFIG.DAT").write);
  EXPECT_NE(FileTimeValue(original), written); // recreated
  EXPECT_NE(FileTimeValue(kMemberTime), written);
  EXPECT_FALSE(fake::Exists("C:\\Game\\Save\\CONFIG.DAT"));
}

TEST_F(EngineUpdate, MissingDataFileIsWrittenBelowTheDataPath) {
  Ini({"UpdateFile00=d,CONFIG.DAT"});
  Run();
  ExpectCompleted();
  EXPECT_EQ("new config", fake::Content("C:\\Data\\CONFIG.DAT"));
  EXPECT_EQ(FileTimeValue(kMemberTime), FileTimeValue(fake::FileTimes("C:\\Data\\CONFIG.DAT").write));
  EXPECT_FALSE(fake::Exists("C:\\Game\\CONFIG.DAT"));
}

TEST_F(EngineUpdate, DataFileThatCannotBeReadIsReplacedByTheMember) {
  fake::AddFile("C:\\Data\\CONFIG.DAT", "player settings");
  fake::FailAllocationAfter(1); // the block for the existing bytes (after the journal's)
  Ini({"UpdateFile00=d,CONFIG.DAT"});
  Run();
  ExpectCompleted();
  EXPECT_EQ("new config", fake::Content("C:\\Data\\CONFIG.DAT"));
}

TEST_F(EngineUpdate, DataFileWhoseReadComesBackShortIsLeftAsItIs) {
  fake::AddFile("C:\\Data\\CONFIG.DAT", "player settings", kOlder);
  fake::ShortReadAt("C:\\Data\\CONFIG.DAT");
  Ini({"UpdateFile00=d,CONFIG.DAT"});
  Run();
  ExpectCompleted();
  EXPECT_EQ("player settings", fake::Content("C:\\Data\\CONFIG.DAT"));
  EXPECT_EQ(FileTimeValue(kOlder), FileTimeValue(fake::FileTimes("C:\\Data\\CONFIG.DAT").write));
}

TEST_F(EngineUpdate, FailedRewriteOfAKeptDataFileIsNotAnError) {
  fake::AddFile("C:\\Data\\CONFIG.DAT", "player settings", kOlder, kAttrReadOnly);
  Ini({"UpdateFile00=d,CONFIG.DAT"});
  Run();
  ExpectCompleted();
  EXPECT_EQ("player settings", fake::Content("C:\\Data\\CONFIG.DAT"));
  EXPECT_EQ(kAttrReadOnly, fake::Attributes("C:\\Data\\CONFIG.DAT")); // left as it was
  EXPECT_EQ(FileTimeValue(kOlder), FileTimeValue(fake::FileTimes("C:\\Data\\CONFIG.DAT").write));
}

TEST_F(EngineUpdate, DataLineWithoutADataPathIsRefusedRatherThanWrittenToTheCurrentDrive) {
  game.dataPath[0] = 0;
  Ini({"UpdateFile00=u,GAME.DAT", "UpdateFile01=d,CONFIG.DAT"});
  ExpectRefusedWith(Run(), kWriteFailed);
  EXPECT_EQ(1u, fake::AllFiles().size()); // the install-folder line before it wrote nothing either
}

// Lines (or a DataFolder) that would write outside their folder refuse the
// whole update with the write-failure box before the first file is written.
TEST_F(EngineUpdate, DestinationsOutsideTheirFolderRefuseBeforeAnyWrite) {
  const struct {
    const char* line;
    const char* dataFolder;
  } cases[] = {
      {"u,..\\..\\ESCAPE1.DAT", ""},
      {"d,..\\..\\..\\ESCAPE3.DAT", ""},
      {"u,..\\..\\windows\\ESC5.DAT", ""},
      {"u,\\ABS2.DAT", ""},
      {"u,\\\\server\\share\\UNC4.DAT", ""},
      {"C:\\GAME.DAT", ""},
      {"u,sub/../../GAME.DAT", ""},
      {"u,a\\...\\GAME.DAT", ""},
      {"u,NUL", ""},
      {"u,com1.dat", ""},
      {"u,GAME.DAT:stream", ""},
      {"u,GAME.DAT", "..\\Other"},
      {"d,GAME.DAT", "\\Save"},
      {"u,SUB\\..", ""},
      {"u,GAME.DAT", "Save\\.."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line + std::string(" below ") + c.dataFolder);
    fake::Reset();
    SetUp();
    std::strcpy(description.dataFolder, c.dataFolder);
    Ini({"UpdateFile00=CONFIG.DAT", std::string("UpdateFile01=") + c.line});
    ExpectRefusedWith(Run(), kWriteFailed);
    EXPECT_EQ(1u, fake::AllFiles().size()); // UPDATE.INI only
    CloseArchive(image);
  }
}

TEST(EngineConfinement, PathsThatStayInside) {
  for (const char* path : {"GAME.DAT", "sub\\GAME.DAT", "sub/GAME.DAT", "sub\\..\\GAME.DAT", ".\\GAME.DAT", "a\\\\b",
                           "console\\x", "COM10", "LPT0.txt", "a..", "表\\ソ.DAT", "ソ\\..\\x", "a\\.", ""})
    EXPECT_TRUE(PathStaysInside(path)) << path;
}

// The first rule broken, from the left, is the one named.
TEST(EngineConfinement, EachRefusedPathNamesTheRuleItBreaks) {
  using C = Confinement;
  const struct {
    const char* path;
    Confinement why;
  } cases[] = {
      {"\\x", C::Rooted},          {"/x", C::Rooted},           {"\\\\server\\s\\x", C::Server},
      {"//.x/s", C::Server},       {"\\\\.\\x", C::DevicePath}, {"//?/C:/x", C::DevicePath},
      {"D:x", C::Drive},           {"x.dat:s", C::Stream},      {"ソ:x", C::Stream},
      {"..\\x:s", C::Climbs},      {"a/../../x", C::Climbs},    {"a\\. .\\x", C::DotsAndBlanks},
      {"sub\\nul.txt", C::Device}, {"x\x83", C::CutCharacter},  {"MOVIE\\..", C::FoldsToStart},
      {".", C::FoldsToStart},      {".\\", C::FoldsToStart},    {"a\\b\\..//..", C::FoldsToStart},
      {"ソ\\..", C::FoldsToStart}, {"a\\..\\..", C::Climbs},    {"a\\..\\nul", C::Device},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(int(c.why), int(ConfinePath(c.path))) << c.path;
    EXPECT_FALSE(PathStaysInside(c.path)) << c.path;
  }
}

// ---- The existence check ------------------------------------------------------------

struct CheckCase {
  const char* name;
  uint32_t attributes; // kAttrMissing: no file; kAttrDirectory: a folder
};

class EngineExistenceCheck : public EngineTest, public ::testing::WithParamInterface<CheckCase> {};

TEST_P(EngineExistenceCheck, AnythingButANormalFileRefusesBeforeAnythingIsWritten) {
  const CheckCase& c = GetParam();
  if (c.attributes == kAttrDirectory)
    fake::AddDirectory("C:\\Game\\VER.DAT");
  else if (c.attributes != kAttrMissing)
    fake::AddFile("C:\\Game\\VER.DAT", "v", {}, c.attributes);
  Ini({"UpdateFile00=u,GAME.DAT", "UpdateFile01=e,VER.DAT"});
  ExpectRefusedWith(Run(), kVersionError);
  EXPECT_FALSE(fake::Exists("C:\\Game\\GAME.DAT"));
}

INSTANTIATE_TEST_SUITE_P(Engine, EngineExistenceCheck,
                         ::testing::Values(CheckCase{"Missing", kAttrMissing}, CheckCase{"Folder", kAttrDirectory},
                                           CheckCase{"Archive", kAttrArchive},
                                           CheckCase{"NormalAndArchive", kAttrNormal | kAttrArchive},
                                           CheckCase{"ReadOnly", kAttrReadOnly}, CheckCase{"Hidden", kAttrHidden}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(EngineUpdate, NormalFilePassesTheCheckBelowTheInstallPathNotTheDataFolder) {
  std::strcpy(description.dataFolder, "Data");
  fake::AddFile("C:\\Game\\VER.DAT", "v", {}, kAttrNormal);
  Ini({"UpdateFile00=e,VER.DAT", "UpdateFile01=GAME.DAT"});
  Run();
  ExpectCompleted();
  EXPECT_EQ("new game", fake::Content("C:\\Game\\Data\\GAME.DAT"));
}

TEST_F(EngineUpdate, CheckIsMadeWhateverItsModeField) {
  game.installMode = 0;
  Ini({"UpdateFile00=GAME.DAT", "UpdateFile01=1,e,VER.DAT"});
  ExpectRefusedWith(Run(), kVersionError);
}

TEST_F(EngineUpdate, VersionErrorMessageReplacesTheDefaultAsWritten) {
  std::strcpy(description.existErrorMessage, "Ver.1.00 が必要です\\n100%");
  Ini({"UpdateFile00=E,VER.DAT"});
  ExpectRefusedWith(Run(), "Ver.1.00 が必要です\\n100%");
}

TEST_F(EngineUpdate, CheckPathThatDoesNotFitFails) {
  fake::AddFile("C:\\Game\\VER.DAT", "v", {}, kAttrNormal);
  Ini({"UpdateFile00=e," + std::string(260, 'v'), "UpdateFile01=GAME.DAT"});
  ExpectRefusedWith(Run(), kVersionError);
}

// ---- Free space -------------------------------------------------------------------

TEST_F(EngineUpdate, RequiredSpaceEqualToTheAvailableBytesPasses) {
  fake::SetFreeSpace('C', 5000);
  Ini({"RequiredDiskSpace=5000", "UpdateFile00=GAME.DAT"});
  Run();
  ExpectCompleted();
}

TEST_F(EngineUpdate, ShortageRefusesWithTheMissingCountAndLeavesTheDialogOpen) {
  fake::SetFreeSpace('C', 4999);
  Ini({"RequiredDiskSpace=5000", "UpdateFile00=GAME.DAT"});
  Run([&] {
    EXPECT_EQ("ディスク容量が足りません。\rC: ドライブに 1 バイトの空き容量が必要です", Info());
    EXPECT_TRUE(Enabled(kBackButton));
    EXPECT_TRUE(Enabled(kAbortButton));
    EXPECT_FALSE(Enabled(kNextButton));
    EXPECT_EQ(0, fake::CurrentCursor());
    EXPECT_TRUE(fake::Boxes().empty());
    EXPECT_FALSE(fake::Exists("C:\\Game\\GAME.DAT"));
    // Back shows the confirmation page; Next runs the engine afresh.
    fake::SetFreeSpace('C', 5000);
    fake::Click(kBackButton);
    fake::Click(kNextButton);
  });
  ExpectCompleted();
  EXPECT_TRUE(fake::Exists("C:\\Game\\GAME.DAT"));
}

TEST_F(EngineUpdate, ShortfallIsPrintedAsAnUnsignedCount) {
  // -1294967296 as 32 unsigned bits is 3000000000.
  fake::SetFreeSpace('C', 1000);
  Ini({"RequiredDiskSpace=-1294967296", "UpdateFile00=GAME.DAT"});
  Run();
  EXPECT_EQ("ディスク容量が足りません。\rC: ドライブに 2999999000 バイトの空き容量が必要です", Info());
}

TEST_F(EngineUpdate, NoCheckForZeroTextOrWhenTheFreeSpaceIsUnknown) {
  fake::SetFreeSpace('C', 100); // enough for the member, not for the figure
  for (const char* required : {"RequiredDiskSpace=0", "RequiredDiskSpace=abc", "OverwriteOnly=0"}) {
    SCOPED_TRACE(required);
    fake::AddFile("C:\\Game\\GAME.DAT", "old", kOlder);
    Ini({required, "UpdateFile00=GAME.DAT"});
    Run();
    ExpectCompleted();
    EXPECT_EQ("new game", fake::Content("C:\\Game\\GAME.DAT"));
  }
  fake::SetFreeSpaceUnknown('C');
  Ini({"RequiredDiskSpace=-1", "UpdateFile00=GAME.DAT"});
  Run();
  ExpectCompleted();
}

// ---- The page while running and after ------------------------------------------

TEST_F(EngineUpdate, StartStateHoldsWhileTheListIsApplied) {
  Ini({"UpdateFile00=NONE.DAT"});
  std::string info;
  bool back = true, next = true, abort = true;
  int cursor = 0;
  fake::OnBox([&](const fake::BoxCall&) {
    info = Info();
    back = Enabled(kBackButton), next = Enabled(kNextButton), abort = Enabled(kAbortButton);
    cursor = fake::CurrentCursor();
  });
  Run();
  EXPECT_EQ("アップデートを実行しています", info);
  EXPECT_FALSE(back);
  EXPECT_FALSE(next);
  EXPECT_FALSE(abort);
  EXPECT_EQ(kCursorWait, cursor);
}

TEST_F(EngineUpdate, CompletionLeavesOnlyAFocusedFinishButton) {
  SetDescriptionMode(description, 1);
  Ini({"UpdateFile00=GAME.DAT"});
  intptr_t result = Run([&] {
    EXPECT_EQ("インストールは完了しました", Info());
    fake::Control next = fake::ControlState(kNextButton);
    EXPECT_EQ("完了", next.text);
    EXPECT_TRUE(next.enabled);
    EXPECT_TRUE(next.focused);
    EXPECT_FALSE(Enabled(kBackButton));
    EXPECT_FALSE(Enabled(kAbortButton));
    EXPECT_EQ(kCursorArrow, fake::CurrentCursor());
    fake::Click(kNextButton);
  });
  EXPECT_EQ(0, result);
  EXPECT_TRUE(fake::Boxes().empty());
}

} // namespace
