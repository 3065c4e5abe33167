// The disc copy list end to end: prefixes, the disc search and its prompt,
// what is sent to the shell, and how a cancel or failure ends the run.
#include "unit/engine_fixture.h"

using namespace engine_testing;

namespace {

const char kPromptDisc2[] = "ＣＤ－ＲＯＭドライブに「サンプルゲーム」ディスク 2 を入れて下さい";

std::string CopyFailed(const std::string& path) { return "SETUP.INI : \"" + path + "\" のコピーに失敗しました"; }
// The staging name of the first copy line beside `path`.
std::string Staging(const char* path, const char* suffix) {
  char name[kPathBuffer];
  return StagingNameBeside(path, 'c', 0, suffix, name) ? name : "";
}

class EngineCopy : public EngineTest {
protected:
  void SetUp() override {
    EngineTest::SetUp();
    std::strcpy(game.discCheckFiles[1], "DISC1.CHK");
    std::strcpy(game.discCheckFiles[2], "data\\DISC2.CHK");
  }
  // A CD-ROM drive holding disc `disc` (0: an empty drive of that type).
  void InsertDisc(char drive, int disc) {
    fake::SetDriveType(drive, kDriveCdrom);
    if (disc) fake::AddFile(std::string(1, drive) + ":\\" + game.discCheckFiles[disc], "");
  }
  static std::string On(char drive, const std::string& path) { return std::string(1, drive) + ":\\" + path; }
};

// ---- Prefixes ---------------------------------------------------------------------

TEST_F(EngineCopy, DiscPrefixNamesTheDiscToCopyFrom) {
  InsertDisc('E', 1);
  fake::AddFile(On('E', "movie\\op.mpg"), "disc one");
  InsertDisc('Q', 2);
  fake::AddFile(On('Q', "movie\\op.mpg"), "disc two");
  Ini({"CopyFile00=2:movie\\op.mpg"});
  Run();
  ExpectCompleted();
  ASSERT_EQ(1u, fake::Copies().size());
  const fake::CopyCall& copy = fake::Copies()[0];
  EXPECT_EQ(dialog, copy.owner);
  EXPECT_EQ("Q:\\movie\\op.mpg", copy.from);
  EXPECT_EQ(Staging("C:\\Game\\movie\\op.mpg", ".new"), copy.to); // staged beside, then swapped in
  EXPECT_EQ(0x0210, copy.flags);
  EXPECT_EQ("disc two", fake::Content("C:\\Game\\movie\\op.mpg"));
}

TEST_F(EngineCopy, ModePrefixDropsLinesOfOtherModesAndLaterKeysAreStillRead) {
  game.installMode = 0;
  InsertDisc('Q', 2);
  for (const char* name : {"movie", "a.txt", "b.txt"}) fake::AddFile(On('Q', name), name);
  Ini({"CopyFile00=1,2:movie", "CopyFile01=0,2:a.txt", "CopyFile02=2:b.txt"});
  Run();
  ExpectCompleted();
  ASSERT_EQ(2u, fake::Copies().size());
  EXPECT_EQ("Q:\\a.txt", fake::Copies()[0].from);
  EXPECT_EQ("Q:\\b.txt", fake::Copies()[1].from);
}

TEST_F(EngineCopy, PrefixBytesThatAreNotDigitsNeverSelectOrNameADisc) {
  game.installMode = 'x' - '0'; // the byte arithmetic alone would match
  InsertDisc('Q', 2);
  for (const char* name : {"a.txt", "b.txt", "c.txt"}) fake::AddFile(On('Q', name), name);
  Ini({"CopyFile00=x,2:b.txt", "CopyFile01=2:c.txt"});
  Run();
  ExpectCompleted();
  ASSERT_EQ(1u, fake::Copies().size());
  EXPECT_EQ("Q:\\c.txt", fake::Copies()[0].from);
}

// A disc prefix that is not a digit, or a path that leaves the disc or the
// install folder, is a copy that cannot be made: the whole update is refused
// before anything is written, never silently shortened.
TEST_F(EngineCopy, LinesThatCannotBeCopiedRefuseTheUpdateBeforeAnyWrite) {
  InsertDisc('Q', 2);
  fake::AddFile(On('Q', "c.txt"), "c");
  const struct {
    const char* line;
    const char* shown;
  } cases[] = {{"x:a.txt", "a.txt"},
               {"2:..\\..\\Windows\\x.dll", "..\\..\\Windows\\x.dll"},
               {"2:\\\\srv\\s\\a", "\\\\srv\\s\\a"},
               {"2:C:\\boot.ini", "C:\\boot.ini"},
               {"2:MOVIE\\..", "MOVIE\\.."}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    fake::Reset();
    SetUp();
    InsertDisc('Q', 2);
    Ini({"UpdateFile00=u,GAME.DAT", "CopyFile00=2:c.txt", std::string("CopyFile01=") + c.line});
    ExpectRefusedWith(Run(), CopyFailed(c.shown));
    EXPECT_TRUE(fake::Copies().empty());
    EXPECT_FALSE(fake::Exists("C:\\Game\\GAME.DAT"));
    CloseArchive(image);
  }
}

// ---- Which drive ----------------------------------------------------------------------

TEST_F(EngineCopy, EntryWithoutADiscBeforeAnySearchIsRefused) {
  // There is no drive to copy from yet; the current drive is never assumed.
  InsertDisc('Q', 1);
  fake::AddFile(On('Q', "movie,op"), "m");
  fake::AddFile("C:\\movie,op", "m");
  Ini({"CopyFile00=movie,op", "CopyFile01=1:movie,op"});
  ExpectRefusedWith(Run(), CopyFailed("movie,op"));
  EXPECT_TRUE(fake::Copies().empty());
}

TEST_F(EngineCopy, EntryWithoutADiscUsesTheDriveFoundBeforeWithoutTestingIt) {
  InsertDisc('Q', 1);
  fake::AddFile(On('Q', "a.txt"), "a");
  fake::AddFile(On('Q', "movie,op"), "m");
  fake::OnCopy([](const fake::CopyCall& call, int* aborted) {
    ::RemoveFile("Q:\\DISC1.CHK"); // a later search would now prompt
    return fake::DefaultCopy(call, aborted);
  });
  Ini({"CopyFile00=1:a.txt", "CopyFile01=movie,op"});
  Run();
  ExpectCompleted();
  ASSERT_EQ(2u, fake::Copies().size());
  EXPECT_EQ("Q:\\movie,op", fake::Copies()[1].from);
  EXPECT_EQ("m", fake::Content("C:\\Game\\movie,op"));
}

TEST_F(EngineCopy, SearchTakesTheFirstCdromDriveHoldingTheCheckFile) {
  fake::SetDriveType('D', 3);
  fake::AddFile("D:\\DISC1.CHK", ""); // a fixed drive never counts
  InsertDisc('E', 2);                 // another disc
  InsertDisc('F', 0);                 // empty
  InsertDisc('G', 1);
  InsertDisc('H', 1);
  for (char d : {'D', 'E', 'G', 'H'}) fake::AddFile(On(d, "a.txt"), std::string(1, d));
  Ini({"CopyFile00=1:a.txt"});
  Run();
  ExpectCompleted();
  EXPECT_EQ("G", fake::Content("C:\\Game\\a.txt"));
}

TEST_F(EngineCopy, EmptyCheckFileAcceptsAnyCdromDrive) {
  game.discCheckFiles[3][0] = 0;
  fake::AddFile("C:\\a.txt", "fixed");
  InsertDisc('K', 0);
  InsertDisc('M', 0);
  fake::AddFile(On('K', "a.txt"), "K");
  Ini({"CopyFile00=3:a.txt"});
  Run();
  ExpectCompleted();
  EXPECT_EQ("K", fake::Content("C:\\Game\\a.txt"));
}

TEST_F(EngineCopy, PromptRepeatsUntilTheDiscIsInAndEachSearchStartsAtA) {
  int prompts = 0;
  fake::OnBox([&](const fake::BoxCall&) {
    if (++prompts < 3) return;
    // Inserted in two drives at once: the search from A finds B first.
    InsertDisc('Y', 2);
    fake::AddFile(On('Y', "a.txt"), "Y");
    InsertDisc('B', 2);
    fake::AddFile(On('B', "a.txt"), "B");
  });
  Ini({"CopyFile00=2:a.txt"});
  Run();
  EXPECT_FALSE(Ended());
  EXPECT_EQ("アップデートは完了しました", Info());
  EXPECT_EQ(3u, fake::Boxes().size());
  EXPECT_EQ("B", fake::Content("C:\\Game\\a.txt"));
}

TEST_F(EngineCopy, PromptNamesTheGameAndTheDiscAndCancelEndsTheRun) {
  fake::QueueAnswer(kAnswerCancel);
  Ini({"CopyFile00=2:a.txt", "CopyFile01=1:b.txt"});
  intptr_t result = Run();
  EXPECT_EQ(-1, result);
  ASSERT_EQ(1u, fake::Boxes().size());
  const fake::BoxCall& box = fake::Boxes()[0];
  EXPECT_EQ(kPromptDisc2, box.text);
  EXPECT_EQ(kCaption, box.caption);
  EXPECT_EQ(dialog, box.owner);
  EXPECT_EQ(kBoxOkCancel, box.style);
  EXPECT_TRUE(fake::Copies().empty());
}

// ---- What is copied where ----------------------------------------------------------

TEST_F(EngineCopy, FolderLandsUnderItsOwnNameInTheInstallFolder) {
  InsertDisc('Q', 1);
  fake::AddFile(On('Q', "bgm\\track01.ogg"), "t1");
  fake::AddFile(On('Q', "bgm\\track02.ogg"), "t2");
  fake::AddFile("C:\\Game\\bgm\\track01.ogg", "old");
  fake::AddFile("C:\\Game\\bgm\\mine.ogg", "kept");
  Ini({"CopyFile00=1:bgm"});
  Run();
  ExpectCompleted();
  ASSERT_EQ(1u, fake::Copies().size());
  EXPECT_EQ(Staging("C:\\Game\\x", ""), fake::Copies()[0].to); // staged, then moved in
  EXPECT_EQ(0x0610, fake::Copies()[0].flags);
  EXPECT_EQ("t1", fake::Content("C:\\Game\\bgm\\track01.ogg"));
  EXPECT_EQ("t2", fake::Content("C:\\Game\\bgm\\track02.ogg"));
  EXPECT_EQ("kept", fake::Content("C:\\Game\\bgm\\mine.ogg")); // merged, as the copy would
  EXPECT_FALSE(fake::Exists(Staging("C:\\Game\\x", "")));
}

TEST_F(EngineCopy, MissingSourceGoesTheFoldersWayAndFails) {
  InsertDisc('Q', 1);
  Ini({"CopyFile00=1:none.dat", "CopyFile01=1:DISC1.CHK"});
  ExpectRefusedWith(Run(), CopyFailed("none.dat"));
  ASSERT_EQ(1u, fake::Copies().size());
  EXPECT_EQ(Staging("C:\\Game\\x", ""), fake::Copies()[0].to);
  EXPECT_EQ(0x0610, fake::Copies()[0].flags);
}

TEST_F(EngineCopy, CopiedFileIsMadeNormalAndTheInfoTextNamesIt) {
  InsertDisc('Q', 1);
  fake::AddFile(On('Q', "a.txt"), "a", {}, kAttrReadOnly | kAttrArchive);
  std::string info;
  fake::OnCopy([&](const fake::CopyCall& call, int* aborted) {
    info = Info();
    return fake::DefaultCopy(call, aborted);
  });
  Ini({"CopyFile00=1:a.txt"});
  Run();
  ExpectCompleted();
  EXPECT_EQ("a.txt をコピーしています", info);
  EXPECT_EQ(kAttrNormal, fake::Attributes("C:\\Game\\a.txt"));
}

TEST_F(EngineCopy, PathsThatDoNotFitAreRefused) {
  const std::string name(255, 'n'); // Q:\<name> fits, C:\Game\<name> does not
  InsertDisc('Q', 1);
  fake::AddFile(On('Q', name), "n");
  Ini({"CopyFile00=1:" + name});
  ExpectRefusedWith(Run(), CopyFailed(name));
  EXPECT_TRUE(fake::Copies().empty());
}

// ---- Cancel and failure --------------------------------------------------------------

TEST_F(EngineCopy, UserCancelEndsTheRunWithoutABox) {
  InsertDisc('Q', 1);
  for (int outcome : {0x4C7, 0}) { // the aborted flag wins whatever the result
    SCOPED_TRACE(outcome);
    fake::OnCopy([outcome](const fake::CopyCall&, int* aborted) {
      *aborted = 1;
      return outcome;
    });
    Ini({"CopyFile00=1:DISC1.CHK"});
    EXPECT_EQ(-1, Run());
    EXPECT_TRUE(Ended());
    EXPECT_TRUE(fake::Boxes().empty());
    EXPECT_NE("アップデートは完了しました", Info());
  }
}

TEST_F(EngineCopy, FailedCopyShowsTheFailureAndStopsTheList) {
  InsertDisc('Q', 1);
  fake::AddFile(On('Q', "a.txt"), "a");
  fake::OnCopy([](const fake::CopyCall&, int*) { return 0x75; });
  Ini({"CopyFile00=1:a.txt", "CopyFile01=1:DISC1.CHK"});
  ExpectRefusedWith(Run(), CopyFailed("a.txt"));
  EXPECT_EQ(1u, fake::Copies().size());
}

// A copy line is all or nothing: a copy that fails or is cancelled
// part-way, or a swap that fails, leaves the old file (or none) and nothing
// staged. A folder is copied into a staging folder and moved in only whole.
TEST_F(EngineCopy, CopyThatFailsPartWayLeavesTheGameAsItWas) {
  struct Case {
    const char* what;
    bool folder, cancelled, failedSwap, hadFile, reportedDone;
  } cases[] = {
      {"failed copy over a file", false, false, false, true, false},
      {"failed copy, no file before", false, false, false, false, false},
      {"cancelled copy", false, true, false, true, false},
      {"failed swap", false, false, true, true, false},
      {"failed folder copy", true, false, false, true, false},
      {"cancelled folder copy", true, true, false, false, false},
      {"folder copy cut short, reported done", true, false, false, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fake::Reset();
    SetUp();
    InsertDisc('Q', 1);
    const std::string line = c.folder ? "bgm" : "a.txt", file = c.folder ? "bgm\\a.txt" : "a.txt";
    fake::AddFile(On('Q', file), "new from the disc");
    if (c.hadFile) fake::AddFile("C:\\Game\\" + file, "old");
    Ini({"CopyFile00=1:" + line});
    const auto before = fake::AllFiles();
    fake::OnCopy([&](const fake::CopyCall& call, int* aborted) {
      // The journal's next version goes in; moving the old file aside fails.
      if (c.failedSwap) return fake::FailReplaceAfter(1), fake::DefaultCopy(call, aborted);
      fake::AddFile(call.to + (c.folder ? "\\" + file : ""), "new fr"); // the shell stopped part-way
      *aborted = c.cancelled;
      return c.cancelled || c.reportedDone ? 0 : 0x75;
    });
    const int result = Run();
    if (c.cancelled) {
      EXPECT_EQ(-1, result);
    } else {
      ExpectRefusedWith(result, CopyFailed(line));
    }
    EXPECT_EQ(before, fake::AllFiles());
    if (c.hadFile) EXPECT_EQ("old", fake::Content("C:\\Game\\" + file));
  }
}

// A run killed while a folder was staged: the next start deletes the staging
// folder it journaled, and only a staging folder directly in the install
// folder, whatever the journal names.
TEST_F(EngineCopy, RecoveryDeletesOnlyTheRunsStagingFolder) {
  const struct {
    const char* folder;
    bool deleted;
  } cases[] = {{"C:\\Game\\~fa299c1", true},
               {"C:\\Game\\movie\\~fa299c1", false},
               {"C:\\Data\\~fa299c1", false},
               {"C:\\Game\\movie", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folder);
    fake::AddFile(std::string(c.folder) + "\\bgm\\a.ogg", "part");
    StagedUpdate none;
    none.count = 0;
    ASSERT_EQ(1, WriteJournal("C:\\Game\\~fa2update.jnl", JournalState::Staging, none, c.folder));
    const size_t boxes = fake::Boxes().size();
    // A line it will not act on keeps the journal, and the player is to be
    // told (2: the caller shows kJournalIgnoredText).
    EXPECT_EQ(c.deleted ? 1 : 2, RecoverInterruptedUpdate(UpdateContext{&image, &description, &game}));
    EXPECT_EQ(!c.deleted, fake::Exists(c.folder));
    EXPECT_EQ(!c.deleted, fake::Exists("C:\\Game\\~fa2update.jnl"));
    EXPECT_EQ(boxes, fake::Boxes().size());
    RemoveJournal("C:\\Game\\~fa2update.jnl");
  }
}

// ---- Both lists -------------------------------------------------------------------------

TEST_F(EngineCopy, CopiesFollowTheUpdateList) {
  InsertDisc('Q', 1);
  fake::AddFile(On('Q', "a.txt"), "a");
  bool updatedFirst = false;
  fake::OnCopy([&](const fake::CopyCall& call, int* aborted) {
    updatedFirst = fake::Exists("C:\\Game\\GAME.DAT");
    return fake::DefaultCopy(call, aborted);
  });
  Ini({"UpdateFile00=GAME.DAT", "CopyFile00=1:a.txt"});
  Run();
  ExpectCompleted();
  EXPECT_TRUE(updatedFirst);
  EXPECT_EQ("a", fake::Content("C:\\Game\\a.txt"));
}

} // namespace
