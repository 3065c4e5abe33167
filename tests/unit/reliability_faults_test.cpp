// Faults in the middle of an update, run through the whole updater against
// the fake machine: the disk filling after the third file, a destination
// that cannot be written, the disc taken out between two copy lines, and the
// user cancelling the shell's copy. Each run must show the updater's own
// messages, end with exit code 0 and "アップデートが中断されました", delete the
// temporary description, and leave the update list all or nothing: a fault
// while it is applied leaves every game file old (disc copies come after it).
#include <cstring>
#include <gtest/gtest.h>

#include "unit/reliability_sample.h"
#include "update/update.h"

using namespace reliability;

namespace {

const char kUpdateIni[] =
    "[SETUP]\r\n"
    "CompanyName=SampleSoft\r\nGameTitle=サンプルゲーム\r\nGameClass=SampleGameWindow\r\nGameDir=SampleGame\r\n"
    "UpdaterVersion=Ver.1.02\r\n"
    "[UPDATE]\r\n"
    "UpdateFile00=u,README.TXT\r\n"
    "UpdateFile01=MAP1.DAT\r\n"
    "UpdateFile02=MAP2.DAT\r\n"
    "UpdateFile03=u,GAME.DAT\r\n"
    "UpdateFile04=d,CONFIG.DAT\r\n"
    "CopyFile00=1:MOVIE\\OP.MPG\r\n"
    "CopyFile01=1:MOVIE\\ED.MPG\r\n";

const char kPrompt[] = "ＣＤ－ＲＯＭドライブに「サンプルゲーム」ディスク 1 を入れて下さい";

// Destinations in the order the update writes them. (CONFIG.DAT, a "d"
// line over an existing file, keeps its content whatever happens.)
const char* const kWritten[] = {"C:\\Game\\README.TXT", "C:\\Game\\MAP1.DAT", "C:\\Game\\MAP2.DAT",
                                "C:\\Game\\GAME.DAT"};

class ReliabilityFaults : public ::testing::Test {
protected:
  void SetUp() override {
    InstallSampleGame();
    newContent.clear();
    fake::AddFile("C:\\Game\\MAP1.DAT", "map one, old", kInstalledTime);
    fake::AddFile("C:\\Game\\MAP2.DAT", "map two, old", kInstalledTime);
    fake::AddFile("C:\\Data\\CONFIG.DAT", "config, old", kInstalledTime);
    InsertDisc();

    const PackForm form;
    std::vector<fa2::PackMember> members;
    auto add = [&](const std::string& name, const std::string& content) {
      members.push_back(MemberOf({name, content}, form));
      newContent[Upper(name)].push_back(content);
    };
    add("UPDATE.INI", kUpdateIni);
    for (const NamedFile& f : ExampleFiles("sample-update"))
      if (f.name != "UPDATE.INI") add(f.name, f.content);
    add("MAP1.DAT", std::string(3000, '1') + "map one, new");
    add("MAP2.DAT", std::string(5000, '2') + "map two, new");
    newContent["OP.MPG"].push_back(kOpening);
    newContent["ED.MPG"].push_back(kEnding);
    fa2::PackOptions options;
    fake::SetResource(fa2::BuildArchive(members, options));
    before = Snapshot();
  }

  void TearDown() override {
    EXPECT_EQ(0, fake::LiveBlockCount());
    EXPECT_EQ(0, fake::OpenHandleCount());
  }

  // What the next start does first: recovery, with the same update's lines.
  void RecoverAsNextStart() {
    fake::AddFile("C:\\TEMP\\NEXT.INI", kUpdateIni);
    ASSERT_TRUE(SetDescriptionPath("C:\\TEMP\\NEXT.INI"));
    SetQuietFlag(1);
    UpdateDescription description{};
    InstalledGame game{};
    std::strcpy(game.installPath, "C:\\Game");
    std::strcpy(game.dataPath, "C:\\Data");
    RecoverInterruptedUpdate(UpdateContext{nullptr, &description, &game});
    RemoveFile("C:\\TEMP\\NEXT.INI");
  }

  // The install disc in drive E:, recognised by SETUP.INI's DiskCheckFile1.
  void InsertDisc() {
    fake::SetDriveType('E', kDriveCdrom);
    fake::AddFile("E:\\SAMPLE1.CHK", "", kInstalledTime, kAttrReadOnly);
    fake::AddFile("E:\\MOVIE\\OP.MPG", kOpening, kInstalledTime, kAttrReadOnly);
    fake::AddFile("E:\\MOVIE\\ED.MPG", kEnding, kInstalledTime, kAttrReadOnly);
  }

  void TakeDiscOut() {
    for (const char* path : {"E:\\SAMPLE1.CHK", "E:\\MOVIE\\OP.MPG", "E:\\MOVIE\\ED.MPG"}) {
      WriteAttributes(path, kAttrNormal);
      RemoveFile(path);
    }
    fake::SetDriveType('E', 1);
  }

  // The whole updater with a person clicking Next; `during` runs once the
  // wizard is open, before the update starts.
  int Run(std::function<void()> during = {}) {
    fake::SetDialogScript([during](WindowHandle dialog) {
      if (during) during();
      ClickThrough(dialog);
    });
    return RunUpdater(nullptr);
  }

  // The run was interrupted after `messages`, the temporary description is
  // gone, and the first `updated` destinations hold their new content while
  // the rest hold their old one.
  void ExpectInterrupted(int exitCode, std::vector<std::string> messages, int updated) {
    EXPECT_EQ(0, exitCode);
    messages.push_back(kInterrupted);
    EXPECT_EQ(messages, BoxTexts());
    EXPECT_EQ(nullptr, fake::Boxes().back().owner); // after the wizard has closed
    ExpectFiles(updated);
  }

  void ExpectFiles(int updated) {
    for (const std::string& problem : CheckFiles(before, newContent, {"E:"})) ADD_FAILURE() << problem;
    for (const std::string& f : fake::AllFiles()) EXPECT_NE(0u, Upper(f).rfind("C:\\TEMP\\", 0)) << f;
    EXPECT_EQ("config, old", fake::Content("C:\\Data\\CONFIG.DAT"));
    for (int i = 0; i < 4; ++i) {
      const std::string path = kWritten[i];
      if (!fake::Exists(path) || fake::IsDirectory(path)) continue;
      if (i < updated)
        EXPECT_EQ(newContent[BaseName(Upper(path))].front(), fake::Content(path)) << path;
      else
        EXPECT_EQ(before[Upper(path)], fake::Content(path)) << path;
    }
  }

  static constexpr const char* kOpening = "opening movie";
  static constexpr const char* kEnding = "ending movie";
  std::map<std::string, std::string> before;
  std::map<std::string, std::vector<std::string>> newContent;
  // The new bytes of the first `count` files the update writes.
  int64_t SizeOfFirst(int count) {
    int64_t bytes = 0;
    for (int i = 0; i < count; ++i) bytes += int64_t(newContent[BaseName(Upper(kWritten[i]))].front().size());
    return bytes;
  }
};

TEST_F(ReliabilityFaults, WithoutFaultsEverythingIsWrittenAndCopied) {
  EXPECT_EQ(1, Run());
  EXPECT_TRUE(fake::Boxes().empty());
  ExpectFiles(4);
  EXPECT_EQ(kOpening, fake::Content("C:\\Game\\MOVIE\\OP.MPG"));
  EXPECT_EQ(kEnding, fake::Content("C:\\Game\\MOVIE\\ED.MPG"));
}

TEST_F(ReliabilityFaults, DiskFillingAfterTheThirdFileLeavesEveryFileOld) {
  const int64_t firstThree = SizeOfFirst(3) + 4096; // and the journal
  const int exitCode = Run([&] { fake::SetWriteBudget(firstThree); });
  ExpectInterrupted(exitCode, {WriteFailedAt("C:\\Game\\GAME.DAT", "ディスクの空き容量が足りません")}, 0);
  EXPECT_TRUE(fake::Copies().empty());
}

TEST_F(ReliabilityFaults, DiskFillingInsideTheThirdFileLeavesEveryFileOld) {
  int64_t twoAndAHalf = 0;
  for (int i = 0; i < 2; ++i) twoAndAHalf += int64_t(newContent[BaseName(Upper(kWritten[i]))].front().size());
  twoAndAHalf += 2500;
  const int exitCode = Run([&] { fake::SetWriteBudget(twoAndAHalf); });
  ExpectInterrupted(exitCode, {WriteFailedAt("C:\\Game\\MAP2.DAT", "ディスクの空き容量が足りません")}, 0);
  EXPECT_EQ("map two, old", fake::Content("C:\\Game\\MAP2.DAT"));
}

TEST_F(ReliabilityFaults, DriveWithoutRoomForTheFourthFileIsReportedBeforeWriting) {
  // Room for the three small files, not for the 128 KB game data.
  fake::SetFreeSpace('C', 64 * 1024);
  const int exitCode = Run();
  const uint64_t shortfall = newContent["GAME.DAT"].front().size() - 64 * 1024;
  ExpectInterrupted(exitCode,
                    {"ディスク容量が足りません。C: ドライブに " + std::to_string(shortfall) +
                         " バイトの空き容量が必要です",
                     kWriteFailed},
                    0);
}

TEST_F(ReliabilityFaults, DestinationsThatCannotBeWritten) {
  // The third destination is a folder.
  fake::AddDirectory("C:\\Game\\MAP2.DAT");
  before = Snapshot();
  ExpectInterrupted(Run(), {WriteFailedAt("C:\\Game\\MAP2.DAT", "同じ名前のフォルダーがあります")}, 0);
  EXPECT_TRUE(fake::IsDirectory("C:\\Game\\MAP2.DAT"));

  // The third destination is a hidden file, which the system does not let
  // the updater recreate.
  SetUp();
  fake::AddFile("C:\\Game\\MAP2.DAT", "map two, old", kInstalledTime, kAttrHidden);
  before = Snapshot();
  ExpectInterrupted(Run(), {WriteFailedAt("C:\\Game\\MAP2.DAT", "隠しファイルかシステムファイルです")}, 0);

  // The first destination is locked (held open by a running game): the new
  // file cannot take its place.
  SetUp();
  ExpectInterrupted(Run([] { fake::FailReplace(true); }),
                    {WriteFailedAt("C:\\Game\\~fa2update.jnl", "ほかのプログラムが使用中です")}, 0);

  // The first destination's times cannot be set.
  SetUp();
  ExpectInterrupted(Run([] { fake::FailStampTimes(true); }),
                    {WriteFailedAt("C:\\Game\\README.TXT", "書き込みが許可されていません")}, 0);
}

TEST_F(ReliabilityFaults, DiscTakenOutBetweenTwoCopyLines) {
  // The user declines the prompt: the first copy stays, the second is not made.
  fake::OnCopy([this](const fake::CopyCall& call, int* aborted) {
    const int result = fake::DefaultCopy(call, aborted);
    TakeDiscOut();
    return result;
  });
  fake::QueueAnswer(kAnswerCancel);
  ExpectInterrupted(Run(), {kPrompt}, 4);
  EXPECT_EQ(kOpening, fake::Content("C:\\Game\\MOVIE\\OP.MPG"));
  EXPECT_FALSE(fake::Exists("C:\\Game\\MOVIE\\ED.MPG"));
  EXPECT_EQ(kBoxOkCancel, fake::Boxes()[0].style);

  // The user puts the disc back and presses OK: the update completes.
  SetUp();
  fake::OnCopy([this](const fake::CopyCall& call, int* aborted) {
    const int result = fake::DefaultCopy(call, aborted);
    if (fake::Copies().size() == 1) TakeDiscOut();
    return result;
  });
  fake::OnBox([this](const fake::BoxCall& box) {
    if (box.text == kPrompt) InsertDisc();
  });
  EXPECT_EQ(1, Run());
  EXPECT_EQ(std::vector<std::string>{kPrompt}, BoxTexts());
  ExpectFiles(4);
  EXPECT_EQ(kEnding, fake::Content("C:\\Game\\MOVIE\\ED.MPG"));
}

TEST_F(ReliabilityFaults, DiscTakenOutBeforeALineWithoutDiscNumber) {
  // The second line copies from the drive found for the first one, without
  // looking for the disc: the source is gone and the copy fails.
  std::string ini = kUpdateIni;
  ini.replace(ini.find("CopyFile01=1:"), 13, "CopyFile01=");
  std::vector<fa2::PackMember> members = {MemberOf({"UPDATE.INI", ini}, PackForm{})};
  for (const NamedFile& f : ExampleFiles("sample-update"))
    if (f.name != "UPDATE.INI") members.push_back(MemberOf(f, PackForm{}));
  members.push_back(MemberOf({"MAP1.DAT", std::string(3000, '1') + "map one, new"}, PackForm{}));
  members.push_back(MemberOf({"MAP2.DAT", std::string(5000, '2') + "map two, new"}, PackForm{}));
  fake::SetResource(fa2::BuildArchive(members, fa2::PackOptions{}));
  fake::OnCopy([this](const fake::CopyCall& call, int* aborted) {
    const int result = fake::DefaultCopy(call, aborted);
    TakeDiscOut();
    return result;
  });
  ExpectInterrupted(Run(), {"SETUP.INI : \"MOVIE\\ED.MPG\" のコピーに失敗しました"}, 4);
  EXPECT_EQ(kBoxError, fake::Boxes()[0].style);
  EXPECT_FALSE(fake::Exists("C:\\Game\\MOVIE\\ED.MPG"));
}

TEST_F(ReliabilityFaults, CancelInTheCopyProgressEndsWithoutACopyMessage) {
  fake::OnCopy([](const fake::CopyCall&, int* aborted) {
    *aborted = 1;
    return 0x4C7; // the operation was cancelled by the user
  });
  ExpectInterrupted(Run(), {}, 4);
  EXPECT_EQ(1u, fake::Copies().size());
  EXPECT_FALSE(fake::Exists("C:\\Game\\MOVIE\\OP.MPG"));
}

// A swap that fails part-way puts back every file it replaced: whichever
// rename fails (the journal's own writes included), the game stays old.
TEST_F(ReliabilityFaults, FailedSwapPutsEveryReplacedFileBack) {
  for (int allowed = 2; allowed < 12; ++allowed) {
    SCOPED_TRACE(allowed);
    SetUp();
    const int exitCode = Run([allowed] { fake::FailReplaceAfter(allowed); });
    ASSERT_EQ(2u, fake::Boxes().size());
    EXPECT_EQ(0u, fake::Boxes()[0].text.rfind(std::string(kWriteFailed) + "\r\nC:\\", 0));
    EXPECT_NE(std::string::npos, fake::Boxes()[0].text.find("（ほかのプログラムが使用中です）"));
    ExpectInterrupted(exitCode, {fake::Boxes()[0].text}, 0);
  }
}

// The power fails (or the process is killed) before any one rename or
// deletion of the update: the next start puts the game back to exactly the old or exactly
// the new version and leaves no staged file, backup or journal.
TEST_F(ReliabilityFaults, KilledAtAnyStepTheNextStartLeavesOneWholeVersion) {
  std::vector<fake::SavedFiles> moments;
  fake::OnChange([&] { moments.push_back(fake::SaveFiles()); });
  ASSERT_EQ(1, Run());
  fake::OnChange({});
  const std::map<std::string, std::string> after = Snapshot();
  ASSERT_GT(moments.size(), 8u);
  int old = 0, updated = 0;
  for (size_t k = 0; k < moments.size(); ++k) {
    SCOPED_TRACE(k);
    fake::RestoreFiles(moments[k]);
    RecoverAsNextStart();
    std::map<std::string, std::string> now = Snapshot(), oldGame = before, newGame = after;
    // The game's files; the disc copies come after the update list.
    for (auto* files : {&now, &oldGame, &newGame})
      for (auto it = files->begin(); it != files->end();)
        it = (Below(it->first, "C:\\GAME") || Below(it->first, "C:\\DATA")) && !Below(it->first, "C:\\GAME\\MOVIE")
                 ? ++it
                 : files->erase(it);
    for (const auto& [path, content] : now) EXPECT_EQ(std::string::npos, path.find("~FA2")) << path;
    EXPECT_TRUE(now == oldGame || now == newGame);
    old += now == oldGame;
    updated += now == newGame;
  }
  EXPECT_GT(old, 0);
  EXPECT_GT(updated, 0);
}

} // namespace
