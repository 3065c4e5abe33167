// The installed game's SETUP.INI: what is taken, what is refused and with
// which message, and how the quiet flag moves.
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "fake/fake_platform.h"
#include "settings/settings.h"

namespace {

const char kSetupPath[] = "C:\\Game\\SETUP.INI";

// A valid installation, in the installer's order.
const std::vector<std::pair<std::string, std::string>> kValidRows = {
    {"CompanyName", "Maker"},
    {"GameTitle", "ゲーム"},
    {"GameDir", "GameFolder"},
    {"GameExe", "game.exe"},
    {"UninstExe", "uninst.exe"},
    {"SetupBmp", "a.bmp,b.bmp"},
    {"InstallSelects", "2"},
    {"InstallTitle0", "Full"},
    {"InstallFiles0", "1:a.dat,b.dat,2:c.dat"},
    {"InstallTitle1", "Minimal"},
    {"InstallFiles1", "a.dat"},
    {"Shortcuts", "1"},
    {"Shortcut0", "Game,game.exe,,icon.ico"},
    {"DiskCheckFile0", "disc0.chk"},
    {"DiskCheckFile2", "data\\disc2.chk"},
};

using Changes = std::map<std::string, std::optional<std::string>>;

// The valid file with rows replaced (std::nullopt removes a row); changed
// keys that are not rows of the valid file are appended.
std::string SetupIni(const Changes& changes = {}) {
  std::string text = "[SETUP]\r\n";
  auto row = [&](const std::string& key, const std::string& value) { text += key + "=" + value + "\r\n"; };
  for (const auto& [key, value] : kValidRows) {
    auto change = changes.find(key);
    if (change == changes.end())
      row(key, value);
    else if (change->second)
      row(key, *change->second);
  }
  for (const auto& [key, value] : changes) {
    bool known = false;
    for (const auto& r : kValidRows) known = known || r.first == key;
    if (!known && value) row(key, *value);
  }
  return text;
}

class SetupIniTest : public ::testing::Test {
protected:
  void SetUp() override {
    fake::Reset();
    SetErrorBoxOwner(nullptr);
    SetInstalledSettingsPath(kSetupPath);
    SetCurrentDiscNumber(0);
    SetQuietFlag(1); // as the main sequence leaves it
    std::memset(&description, 0, sizeof description);
    std::strcpy(description.companyName, "UpdateMaker");
    std::strcpy(description.gameTitle, "UpdateTitle");
    std::strcpy(description.gameClass, "UpdateClass");
    std::strcpy(description.gameDir, "UpdateDir");
    std::memset(&game, 0, sizeof game);
    std::strcpy(game.discCheckFiles[5], "stale");
  }
  void TearDown() override { SetQuietFlag(0); }

  int Read(const Changes& changes = {}) {
    fake::AddFile(kSetupPath, SetupIni(changes));
    return ReadInstalledSettings(description, game);
  }
  std::vector<std::string> BoxTexts() const {
    std::vector<std::string> texts;
    for (const auto& box : fake::Boxes()) texts.push_back(box.text);
    return texts;
  }
  using Texts = std::vector<std::string>;

  UpdateDescription description;
  InstalledGame game;
};

TEST_F(SetupIniTest, ValidFileReplacesIdentityAndFillsDiscCheckFiles) {
  ASSERT_EQ(Read(), 1);
  EXPECT_TRUE(fake::Boxes().empty());
  EXPECT_STREQ(description.companyName, "Maker");
  EXPECT_STREQ(description.gameTitle, "ゲーム");
  EXPECT_STREQ(description.gameDir, "GameFolder");
  EXPECT_STREQ(description.gameClass, "ゲーム"); // GameClass defaults to the installed title
  EXPECT_STREQ(game.discCheckFiles[0], "disc0.chk");
  EXPECT_STREQ(game.discCheckFiles[1], "");
  EXPECT_STREQ(game.discCheckFiles[2], "data\\disc2.chk");
  EXPECT_STREQ(game.discCheckFiles[5], ""); // missing keys leave the entry empty
  EXPECT_EQ(QuietFlag(), 1);
}

TEST_F(SetupIniTest, GameClassReplacesTheDescriptionsClass) {
  ASSERT_EQ(Read({{"GameClass", "GameWindow"}}), 1);
  EXPECT_STREQ(description.gameClass, "GameWindow");
}

TEST_F(SetupIniTest, MissingOrEmptyRequiredKeyFailsSilently) {
  for (const char* key : {"CompanyName", "GameTitle", "GameDir", "GameExe", "UninstExe", "SetupBmp", "InstallSelects",
                          "InstallTitle1", "InstallFiles1", "Shortcuts", "Shortcut0"}) {
    for (bool empty : {false, true}) {
      SCOPED_TRACE(std::string(key) + (empty ? " empty" : " missing"));
      fake::Reset();
      Changes changes{{key, empty ? std::optional<std::string>("") : std::nullopt}};
      EXPECT_EQ(Read(changes), 0);
      EXPECT_TRUE(fake::Boxes().empty());
    }
  }
}

TEST_F(SetupIniTest, ReadingStopsAtTheFirstFailure) {
  // GameExe is missing, so the broken SetupBmp after it is never looked at.
  EXPECT_EQ(Read({{"GameExe", std::nullopt}, {"SetupBmp", ",a.bmp"}}), 0);
  EXPECT_TRUE(fake::Boxes().empty());
  fake::Reset();
  EXPECT_EQ(Read({{"SetupBmp", ",a.bmp"}, {"InstallSelects", "5"}}), 0);
  EXPECT_EQ(BoxTexts(), Texts{"SETUP.INI : SetupBmps エラー"});
}

TEST_F(SetupIniTest, SetupBmpNeedsAFirstItem) {
  EXPECT_EQ(Read({{"SetupBmp", " ,a.bmp"}}), 0);
  ASSERT_EQ(fake::Boxes().size(), 1u);
  EXPECT_EQ(fake::Boxes()[0].text, "SETUP.INI : SetupBmps エラー");
  EXPECT_EQ(fake::Boxes()[0].caption, "INSTCMMN");
  EXPECT_EQ(fake::Boxes()[0].style, kBoxError);
  EXPECT_EQ(fake::Boxes()[0].owner, nullptr);
}

TEST_F(SetupIniTest, SetupBmpBeyondTwentyItemsIsIgnored) {
  std::string bmps;
  for (int i = 0; i < 25; ++i) bmps += (i ? "," : "") + std::to_string(i) + "x.bmp";
  EXPECT_EQ(Read({{"SetupBmp", bmps}}), 1);
  EXPECT_TRUE(fake::Boxes().empty());
}

TEST_F(SetupIniTest, InstallSelectsUpToFourIsAccepted) {
  Changes four{{"InstallSelects", "4"}};
  for (int k = 0; k < 4; ++k) {
    four["InstallTitle" + std::to_string(k)] = "T";
    four["InstallFiles" + std::to_string(k)] = "f.dat";
  }
  EXPECT_EQ(Read(four), 1);
  // Four selections really are four: the fourth's missing title fails.
  fake::Reset();
  four["InstallTitle3"] = std::nullopt;
  EXPECT_EQ(Read(four), 0);
  EXPECT_TRUE(fake::Boxes().empty());
}

TEST_F(SetupIniTest, InstallSelectsAboveFourIsRefused) {
  EXPECT_EQ(Read({{"InstallSelects", "5"}}), 0);
  EXPECT_EQ(BoxTexts(), Texts{"SETUP.INI : InstallSelect オーバー"});
}

TEST_F(SetupIniTest, InstallSelectsOfNoneReadsNoSelectionKeys) {
  Changes none{{"InstallTitle0", std::nullopt},
               {"InstallFiles0", std::nullopt},
               {"InstallTitle1", std::nullopt},
               {"InstallFiles1", std::nullopt}};
  for (const char* count : {"-1", "abc", "0"}) {
    SCOPED_TRACE(count);
    fake::Reset();
    none["InstallSelects"] = count;
    EXPECT_EQ(Read(none), 1);
    EXPECT_TRUE(fake::Boxes().empty());
  }
}

TEST_F(SetupIniTest, InstallFilesNeedsAFirstItem) {
  EXPECT_EQ(Read({{"InstallFiles0", ",a.dat"}}), 0);
  EXPECT_EQ(BoxTexts(), Texts{"SETUP.INI : InstallFiles0 エラー"});
  fake::Reset();
  EXPECT_EQ(Read({{"InstallFiles1", "2:,a.dat"}}), 1); // an empty first item is still an item
  fake::Reset();
  EXPECT_EQ(Read({{"InstallFiles1", "\t,a.dat"}}), 0);
  EXPECT_EQ(BoxTexts(), Texts{"SETUP.INI : InstallFiles1 エラー"});
  fake::Reset();
  EXPECT_EQ(Read({{"InstallFiles0", "a.dat,,b.dat"}}), 1);
}

TEST_F(SetupIniTest, EachFileListStartsOnDiscZero) {
  SetCurrentDiscNumber(7);
  ASSERT_EQ(Read({{"InstallFiles0", "1:a.dat,b.dat,2:c.dat"}, {"InstallFiles1", "d.dat"}}), 1);
  EXPECT_EQ(CurrentDiscNumber(), 0); // reset before InstallFiles1
  fake::Reset();
  ASSERT_EQ(Read({{"InstallFiles1", "a.dat,3:d.dat"}}), 1);
  EXPECT_EQ(CurrentDiscNumber(), 3);
}

TEST_F(SetupIniTest, FileListBeyondFortyItemsAndOverLongItemsAreTakenSafely) {
  std::string files;
  for (int i = 0; i < 60; ++i) files += (i ? "," : "") + std::to_string(i % 10) + ":f.dat";
  EXPECT_EQ(Read({{"InstallFiles0", files}}), 1);
  fake::Reset();
  std::string longItems = std::string(700, 'a') + "," + std::string(300, 'b');
  EXPECT_EQ(Read({{"InstallFiles0", longItems}, {"SetupBmp", longItems}}), 1);
  EXPECT_TRUE(fake::Boxes().empty());
}

TEST_F(SetupIniTest, ShortcutsUpToTenIsAccepted) {
  Changes ten{{"Shortcuts", "10"}};
  for (int s = 0; s < 10; ++s) ten["Shortcut" + std::to_string(s)] = "x,y";
  EXPECT_EQ(Read(ten), 1);
  fake::Reset();
  ten["Shortcut9"] = "x";
  EXPECT_EQ(Read(ten), 0);
  EXPECT_EQ(BoxTexts(), Texts{"SETUP.INI : Shortcut9 エラー"});
}

TEST_F(SetupIniTest, ShortcutsAboveTenIsRefused) {
  EXPECT_EQ(Read({{"Shortcuts", "11"}}), 0);
  EXPECT_EQ(BoxTexts(), Texts{"SETUP.INI : Shortcuts オーバー"});
}

TEST_F(SetupIniTest, ShortcutNeedsItsFirstTwoFields) {
  EXPECT_EQ(Read({{"Shortcut0", "x"}}), 0);
  EXPECT_EQ(BoxTexts(), Texts{"SETUP.INI : Shortcut0 エラー"});
  for (const char* value : {"x,y", "x,y,,w", "x,y,,,w", "x,y,z,w,v"}) {
    SCOPED_TRACE(value);
    fake::Reset();
    EXPECT_EQ(Read({{"Shortcut0", value}}), 1);
    EXPECT_TRUE(fake::Boxes().empty());
  }
}

TEST_F(SetupIniTest, ExecAppNeedsTwoItemsWhenPresent) {
  EXPECT_EQ(Read({{"ExecApp", "a"}}), 0);
  EXPECT_EQ(BoxTexts(), Texts{"SETUP.INI : ExecApp エラー"});
  fake::Reset();
  EXPECT_EQ(Read({{"ExecApp", ",a,b"}}), 0);
  EXPECT_EQ(BoxTexts(), Texts{"SETUP.INI : ExecApp エラー"});
  fake::Reset();
  EXPECT_EQ(Read({{"ExecApp", "a,b,c"}}), 1);
  fake::Reset();
  EXPECT_EQ(Read({{"ExecApp", ""}}), 1); // empty is absent
  EXPECT_TRUE(fake::Boxes().empty());
}

TEST_F(SetupIniTest, OverLongValuesAreCutToTheirCapacity) {
  ASSERT_EQ(Read({{"DiskCheckFile9", std::string(400, 'd')},
                  {"GameTitle", std::string(400, 't')},
                  {"InstallSize0", "99999999999999999999999999"}}),
            1);
  EXPECT_EQ(std::string(game.discCheckFiles[9]), std::string(kPathCapacity - 1, 'd'));
  EXPECT_EQ(std::string(description.gameTitle), std::string(kPathCapacity - 1, 't'));
  EXPECT_STREQ(description.gameClass, description.gameTitle);
}

TEST_F(SetupIniTest, InstallAfterAddWithoutItsFileListIsReported) {
  // Every optional key after Shortcut0 is absent, and so silent.
  ASSERT_EQ(Read({{"InstallAfterAdd", "1"}}), 0);
  ASSERT_EQ(BoxTexts(), Texts{"SETUP.INI : InstallAddFiles キーが存在しません"});
  EXPECT_EQ(fake::Boxes()[0].caption, "INSTCMMN");
  EXPECT_EQ(QuietFlag(), 0);
}

TEST_F(SetupIniTest, InstallAfterAddWithoutAFirstItemIsReported) {
  ASSERT_EQ(Read({{"InstallAfterAdd", "1"}, {"InstallAddFiles", ",a.dat"}}), 0);
  EXPECT_EQ(BoxTexts(), Texts{"SETUP.INI : InstallAddFiles エラー"});
  EXPECT_EQ(QuietFlag(), 0);
}

TEST_F(SetupIniTest, InstallAfterAddWithItsFileListSucceeds) {
  SetCurrentDiscNumber(9);
  ASSERT_EQ(Read({{"InstallAfterAdd", "1"}, {"InstallAddFiles", "a.dat,2:b.dat"}}), 1);
  EXPECT_EQ(QuietFlag(), 1);
  EXPECT_EQ(CurrentDiscNumber(), 2);
  EXPECT_TRUE(fake::Boxes().empty());
}

TEST_F(SetupIniTest, InstallAfterAddOffSkipsTheAddedFiles) {
  for (const char* off : {"0", "abc", ""}) {
    SCOPED_TRACE(off);
    fake::Reset();
    EXPECT_EQ(Read({{"InstallAfterAdd", off}, {"InstallAddFiles", ",broken"}}), 1);
    EXPECT_TRUE(fake::Boxes().empty());
    EXPECT_EQ(QuietFlag(), 1);
  }
}

TEST_F(SetupIniTest, QuietFlagIsOneAfterTheShortcuts) {
  // Even when the caller left the flag 0, keys after the shortcuts are
  // silent; the required ones before them are not.
  SetQuietFlag(0);
  ASSERT_EQ(Read(), 1);
  EXPECT_TRUE(fake::Boxes().empty());
  EXPECT_EQ(QuietFlag(), 1);
  fake::Reset();
  SetQuietFlag(0);
  EXPECT_EQ(Read({{"GameExe", std::nullopt}}), 0);
  EXPECT_EQ(BoxTexts(), Texts{"SETUP.INI : GameExe キーが存在しません"});
}

} // namespace
