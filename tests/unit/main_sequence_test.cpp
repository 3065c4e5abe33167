// The main sequence from entry to exit code, against the fake machine.
#include <gtest/gtest.h>

#include "app/app.h"
#include "unit/archive_helpers.h"

using namespace testing_archive;

namespace {

const char kUpdateIni[] =
    "[SETUP]\r\nCompanyName=Maker\r\nGameTitle=ゲーム\r\nGameClass=GameClass\r\nGameDir=Game\r\n"
    "UpdaterVersion=1.1\r\n[UPDATE]\r\nUpdateFile00=u,GAME.DAT\r\n";
const char kSetupIni[] =
    "[SETUP]\r\nCompanyName=Maker\r\nGameTitle=ゲーム\r\nGameDir=Game\r\nGameExe=G.EXE\r\nUninstExe=U.EXE\r\n"
    "SetupBmp=a.bmp\r\nInstallSelects=1\r\nInstallTitle0=t\r\nInstallFiles0=a\r\nShortcuts=0\r\n"
    "GameClass=GameClass\r\n";

class MainSequence : public ::testing::Test {
protected:
  void SetUp() override {
    fake::Reset();
    members = {Member("UPDATE.INI", kUpdateIni, true, true), Member("GAME.DAT", "new data", true, true)};
    fake::SetRegistryString("Software\\Maker\\Game", "InstPath", "C:\\Game");
    fake::SetRegistryNumber("Software\\Maker\\Game", "InstMode", 0);
    fake::AddFile("C:\\Game\\SETUP.INI", kSetupIni);
  }
  void TearDown() override {
    // The temporary description never outlives the run.
    for (const std::string& f : fake::AllFiles()) EXPECT_NE(0u, f.rfind("C:\\TEMP\\", 0)) << f;
    EXPECT_EQ(0, fake::OpenHandleCount());
  }
  int Run(std::function<void(WindowHandle)> script = nullptr) {
    fake::SetResource(Build(members));
    fake::SetDialogScript(std::move(script));
    return RunUpdater(nullptr);
  }
  std::vector<std::string> Texts() {
    std::vector<std::string> out;
    for (const fake::BoxCall& b : fake::Boxes()) out.push_back(b.text);
    return out;
  }
  std::vector<fa2::PackMember> members;
};

void ClickThrough(WindowHandle) {
  fake::Click(kNextButton);
  fake::Click(kNextButton);
  fake::Click(kNextButton);
}

TEST_F(MainSequence, UpdatesAndExitsWithOne) {
  EXPECT_EQ(1, Run(ClickThrough));
  EXPECT_EQ("new data", fake::Content("C:\\Game\\GAME.DAT"));
  EXPECT_EQ("ゲーム アップデータ 1.1", fake::DialogCaption());
  EXPECT_EQ(kTemplatePlain, fake::DialogTemplate());
  EXPECT_TRUE(fake::Boxes().empty());
  EXPECT_EQ(1, fake::ComInitialisedCount());
}

TEST_F(MainSequence, AForgedJournalIsLeftAloneAndThePlayerToldBeforeTheWizard) {
  const std::string journal =
      "FA2 journal 1\r\nstate swapping\r\nfile 1 0\tC:\\WINDOWS\\X.DLL\tC:\\WINDOWS\\~fa2a1s0.new\t"
      "C:\\WINDOWS\\~fa2a1s0.old\r\n";
  fake::AddFile("C:\\Game\\~fa2update.jnl", journal);
  EXPECT_EQ(1, Run(ClickThrough));
  ASSERT_EQ(std::vector<std::string>{kJournalIgnoredText}, Texts());
  EXPECT_EQ(nullptr, fake::Boxes()[0].owner); // before the wizard opens
}

TEST_F(MainSequence, AbortIsReportedWithoutOwnerAndExitsWithZero) {
  EXPECT_EQ(0, Run([](WindowHandle) { fake::Click(kAbortButton); }));
  ASSERT_EQ(std::vector<std::string>{"アップデートが中断されました"}, Texts());
  EXPECT_EQ(nullptr, fake::Boxes()[0].owner);
  EXPECT_EQ("ゲーム アップデータ 1.1", fake::Boxes()[0].caption);
}

TEST_F(MainSequence, TheDescriptionHasANameOfThisRunAndIsDeleted) {
  std::vector<std::string> during;
  Run([&](WindowHandle) {
    during = fake::AllFiles();
    fake::Click(kAbortButton);
  });
  bool found = false;
  for (const std::string& f : during) found |= f == "C:\\TEMP\\UPDATE4242.INI";
  EXPECT_TRUE(found);
  EXPECT_FALSE(fake::Exists("C:\\TEMP\\UPDATE4242.INI"));
}

// The temporary copy is the player's to change while the wizard is open:
// what runs is what the archive vouched for, and a name prepared before the
// run is never taken over.
TEST_F(MainSequence, TheDescriptionRunIsTheArchivesNotTheTemporaryFiles) {
  EXPECT_EQ(1, Run([](WindowHandle) {
              fake::AddFile("C:\\TEMP\\UPDATE4242.INI", "[SETUP]\r\n[UPDATE]\r\nUpdateFile00=u,EVIL.DAT\r\n");
              ClickThrough(nullptr);
            }));
  EXPECT_EQ("new data", fake::Content("C:\\Game\\GAME.DAT"));
  EXPECT_FALSE(fake::Exists("C:\\TEMP\\UPDATE4242.INI"));

  SetUp();
  fake::AddLink("C:\\TEMP\\UPDATE4242.INI", "C:\\Game\\SETUP.INI", false);
  EXPECT_EQ(0, Run(ClickThrough));
  EXPECT_TRUE(fake::Exists("C:\\TEMP\\UPDATE4242.INI"));
  EXPECT_EQ(kSetupIni, fake::Content("C:\\Game\\SETUP.INI"));
  RemoveFile("C:\\TEMP\\UPDATE4242.INI");
}

TEST_F(MainSequence, StartUpFailures) {
  fake::FailBinding(true);
  EXPECT_EQ(0, Run());
  EXPECT_EQ(std::vector<std::string>{"COULD NOT MAP SOME FUNCTIONS"}, Texts());
  EXPECT_EQ("UPDATE", fake::Boxes()[0].caption);
  EXPECT_EQ(0, fake::ComInitialisedCount());

  SetUp();
  fake::SetResource({});
  EXPECT_EQ(0, RunUpdater(nullptr));
  EXPECT_TRUE(fake::Boxes().empty());

  SetUp();
  fa2::Bytes damaged = Build(members);
  damaged.resize(damaged.size() - 2);
  fake::SetResource(damaged);
  EXPECT_EQ(0, RunUpdater(nullptr));
  EXPECT_EQ(std::vector<std::string>{"RESOURCE READ ERROR"}, Texts());

  // A resource table that states more bytes than the image holds (1 MB or
  // 256 MB more crashed before any window): refused before a byte is read.
  for (uint32_t extra : {1u, 1u << 20, 256u << 20}) {
    SetUp();
    const fa2::Bytes whole = Build(members);
    fake::SetResource(whole);
    fake::SetResourceStatedSize(uint32_t(whole.size()) + extra);
    const std::vector<std::string> files = fake::AllFiles();
    EXPECT_EQ(0, RunUpdater(nullptr));
    EXPECT_EQ(std::vector<std::string>{"RESOURCE READ ERROR"}, Texts());
    EXPECT_EQ(files, fake::AllFiles()) << extra;
  }

  SetUp();
  members = {Member("OTHER.INI", kUpdateIni)};
  EXPECT_EQ(0, Run());
  EXPECT_EQ(std::vector<std::string>{"Can't Find File in Resource !!"}, Texts());
}

TEST_F(MainSequence, MissingRequiredKeyIsReportedOnceInTheSetupBox) {
  members[0] = Member("UPDATE.INI", "[SETUP]\r\nCompanyName=M\r\nGameTitle=T\r\nGameDir=D\r\n");
  EXPECT_EQ(0, Run());
  ASSERT_EQ(std::vector<std::string>{"SETUP : GameClass キーが存在しません"}, Texts());
  EXPECT_EQ("INSTCMMN", fake::Boxes()[0].caption);
}

TEST_F(MainSequence, RegistryDecidesWhetherTheGameIsInstalled) {
  const std::vector<std::string> notInstalled = {"「ゲーム」がインストールされていません"};
  fake::Reset();
  fake::AddFile("C:\\Game\\SETUP.INI", kSetupIni);
  EXPECT_EQ(0, Run());
  EXPECT_EQ(notInstalled, Texts());

  fake::Reset();
  fake::AddFile("C:\\Game\\SETUP.INI", kSetupIni);
  fake::SetRegistryString("Software\\Maker\\Game", "InstPath", "C:\\Game");
  EXPECT_EQ(0, Run());
  EXPECT_EQ(notInstalled, Texts());

  // A path the updater cannot use is not a missing game: the player is told
  // what is wrong with it. (0xFF: a value Shift-JIS cannot hold.)
  const struct {
    const char* name;
    std::string value;
    const char* text;
  } unusable[] = {
      {"InstPath", std::string(300, 'x'), "インストール先のパスが長すぎます（259 バイトまで）"},
      {"InstPath", "\xFF", "インストール先のパスに、このアップデータでは扱えない文字が含まれています"},
      {"DataPath", "\xFF", "データの保存先のパスに、このアップデータでは扱えない文字が含まれています"},
      {"InstPath", std::string(250, 'x'),
       "インストール先のパスが長すぎます（259 バイトまで）"}, // no room for SETUP.INI
      // The key is the player's to write: the system's folder is no game's.
      {"DataPath", "C:\\windows\\system32",
       "データの保存先が Windows のフォルダーの中にあるため、アップデートできません"},
      {"InstPath", "c:\\WINDOWS", "インストール先が Windows のフォルダーの中にあるため、アップデートできません"},
  };
  for (const auto& u : unusable) {
    SetUp();
    fake::SetRegistryString("Software\\Maker\\Game", u.name, u.value);
    EXPECT_EQ(0, Run());
    EXPECT_EQ(std::vector<std::string>{u.text}, Texts()) << u.name << " " << u.value.size();
  }

  SetUp(); // no DataPath: installed, with an empty data path
  EXPECT_EQ(1, Run(ClickThrough));
}

TEST_F(MainSequence, UpdateMessageTurnsBackslashNIntoOneCarriageReturn) {
  std::string ini = kUpdateIni;
  ini.insert(ini.find("[UPDATE]"), "UpdateMessage=first\\nsecond \\t 表n\r\n");
  members[0] = Member("UPDATE.INI", ini);
  EXPECT_EQ(0, Run([](WindowHandle) { fake::Click(kAbortButton); }));
  ASSERT_EQ(2u, fake::Boxes().size());
  // 表 ends in the byte 0x5C, which is no backslash: "表n" stays as written.
  EXPECT_EQ("first\rsecond \\t 表n", fake::Boxes()[0].text);
  EXPECT_EQ("UPDATE", fake::Boxes()[0].caption);
}

TEST_F(MainSequence, InstalledSettingsMustExistAndBeValid) {
  fake::Reset();
  fake::SetRegistryString("Software\\Maker\\Game", "InstPath", "C:\\Game\\");
  fake::SetRegistryNumber("Software\\Maker\\Game", "InstMode", 0);
  EXPECT_EQ(0, Run());
  EXPECT_EQ(std::vector<std::string>{"インストール先に \"SETUP.INI\" ファイルが見つかりません"}, Texts());

  SetUp();
  std::string broken = kSetupIni;
  broken.replace(broken.find("InstallSelects=1"), 16, "InstallSelects=5");
  fake::AddFile("C:\\Game\\SETUP.INI", broken);
  EXPECT_EQ(0, Run());
  EXPECT_EQ(std::vector<std::string>{"SETUP.INI : InstallSelect オーバー"}, Texts());
  EXPECT_EQ("INSTCMMN", fake::Boxes()[0].caption);

  SetUp();
  std::string missing = kSetupIni;
  missing.replace(missing.find("GameExe=G.EXE"), 13, "");
  fake::AddFile("C:\\Game\\SETUP.INI", missing);
  EXPECT_EQ(0, Run());
  EXPECT_TRUE(fake::Boxes().empty());
}

TEST_F(MainSequence, SecondCopyBringsTheFirstForwardSilently) {
  WindowHandle first = fake::AddTopWindow(nullptr, "ゲーム アップデータ 1.1");
  EXPECT_EQ(0, Run());
  EXPECT_TRUE(fake::Boxes().empty());
  EXPECT_EQ(1, fake::EventsOf(first).shown);
  EXPECT_EQ(1, fake::EventsOf(first).broughtForward);
  EXPECT_EQ(0, fake::DialogTemplate()); // no wizard was opened
}

TEST_F(MainSequence, RunningGameIsAskedAboutUntilClosedOrCancelled) {
  WindowHandle game = fake::AddTopWindow("GameClass", "ゲーム");
  fake::QueueAnswer(kAnswerCancel);
  EXPECT_EQ(0, Run());
  ASSERT_EQ(1u, fake::Boxes().size());
  EXPECT_EQ(
      "「ゲーム」が実行中です。アップデートを続行する場合はゲームを終了してから [OK] を、アップデートを中止する場合は "
      "[キャンセル] を押して下さい",
      fake::Boxes()[0].text);
  EXPECT_EQ(kBoxOkCancel, fake::Boxes()[0].style);
  EXPECT_EQ(nullptr, fake::Boxes()[0].owner);
  EXPECT_EQ(1, fake::EventsOf(game).broughtForward);

  SetUp();
  game = fake::AddTopWindow("GameClass", "ゲーム");
  fake::OnBox([&](const fake::BoxCall&) { fake::RemoveTopWindow(game); }); // the player closes it, then OK
  EXPECT_EQ(1, Run(ClickThrough));
  EXPECT_EQ(1u, fake::Boxes().size());
}

TEST_F(MainSequence, AlternateTitleIsCheckedOnlyWhenGiven) {
  std::string ini = kUpdateIni;
  ini.insert(ini.find("[UPDATE]"), "GameTitleA=Game EX\r\nUpdaterTitle=Updater\r\n");
  members[0] = Member("UPDATE.INI", ini);
  fake::AddTopWindow("GameClass", "Game EX");
  fake::QueueAnswer(kAnswerCancel);
  EXPECT_EQ(0, Run());
  ASSERT_EQ(1u, fake::Boxes().size());
  EXPECT_EQ("Updater", fake::Boxes()[0].caption);
  EXPECT_NE(std::string::npos, fake::Boxes()[0].text.find("「Game EX」"));
}

TEST_F(MainSequence, AgreementMembersChooseTheTemplate) {
  std::string ini = kUpdateIni;
  ini.insert(ini.find("[UPDATE]"), "AgreementText=LICENSE.TXT\r\nAgreementTitle=INTRO.TXT\r\n");
  members[0] = Member("UPDATE.INI", ini);
  members.push_back(Member("LICENSE.TXT", "", true));
  members.push_back(Member("INTRO.TXT", "Intro 100%%"));
  std::string intro;
  EXPECT_EQ(0, Run([&](WindowHandle) {
              intro = fake::ControlState(kInfoText).text;
              fake::Click(kAbortButton);
            }));
  EXPECT_EQ(kTemplateAgreement, fake::DialogTemplate()); // an empty agreement still counts
  EXPECT_EQ("Intro 100%", intro);

  SetUp();
  members[0] = Member("UPDATE.INI", ini);
  EXPECT_EQ(0, Run());
  EXPECT_EQ((std::vector<std::string>{"Can't Find File in Resource !!", "'LICENSE.TXT' not found at UPDATE.FA3"}),
            Texts());
}

TEST_F(MainSequence, InstallModeTextComesFromTheDescription) {
  for (const char* value : {"1", "7x", "0", "abc"}) {
    SetUp();
    std::string ini = kUpdateIni;
    ini.insert(ini.find("[UPDATE]"), std::string("ModeTextUpdateOrInstall=") + value + "\r\n");
    members[0] = Member("UPDATE.INI", ini);
    std::string first;
    Run([&](WindowHandle) {
      first = fake::ControlState(kInfoText).text;
      fake::Click(kAbortButton);
    });
    bool install = value[0] == '1' || value[0] == '7';
    EXPECT_EQ(install ? "「」のインストールを開始します" : "「ゲーム」のアップデートを開始します", first) << value;
  }
}

} // namespace
