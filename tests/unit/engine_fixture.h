// A machine ready for the update engine: an installed game at C:\Game with
// its data folder C:\Data, an archive of replacement files, the temporary
// UPDATE.INI, and the real wizard walked to its second Next.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "unit/archive_helpers.h"
#include "ui/wizard.h"
#include "update/update.h"

namespace engine_testing {

using namespace testing_archive;

inline const char kCaption[] = "サンプルゲーム アップデータ 1.01";
inline const char kIniPath[] = "C:\\TEMP\\UPDATE.INI";
inline const char kWriteFailed[] = "ファイルの書き込みに失敗しました";
// The write failure naming the file and the reason.
inline std::string WriteFailedAt(const std::string& path, const std::string& reason) {
  return std::string(kWriteFailed) + "\r\n" + path + "\r\n（" + reason + "）";
}
inline const char kVersionError[] = "アップデートエラー：アップデート対象のバージョンが違います";
inline const char kNothingToDo[] = "No 'UpdateFileXX' and 'CopyFileXX'";
constexpr FileTime kMemberTime = {0x20000000, 0x01D90000};
constexpr FileTime kNewer = {0x00000000, 0x01D90001};
constexpr FileTime kOlder = {0x00000000, 0x01D80000};

class EngineTest : public ::testing::Test {
protected:
  void SetUp() override {
    fake::Reset();
    SetQuietFlag(1);
    ASSERT_TRUE(SetDescriptionPath(kIniPath));
    SetErrorBoxCaption(kCaption);
    std::memset(&description, 0, sizeof description);
    std::strcpy(description.gameTitle, "サンプルゲーム");
    SetDescriptionMode(description, 0);
    std::memset(&game, 0, sizeof game);
    std::strcpy(game.installPath, "C:\\Game");
    std::strcpy(game.dataPath, "C:\\Data");
    fake::AddDirectory("C:\\Game");
    fake::AddDirectory("C:\\Data");
    UseArchive({Member("GAME.DAT", "new game", false, false, kMemberTime),
                Member("CONFIG.DAT", "new config", false, false, kMemberTime)});
  }

  void TearDown() override {
    CloseArchive(image);
    SetErrorBoxCaption(nullptr);
    EXPECT_EQ(0, fake::LiveBlockCount());
    EXPECT_EQ(0, fake::OpenHandleCount());
  }

  void UseArchive(const std::vector<fa2::PackMember>& members) {
    CloseArchive(image);
    ASSERT_TRUE(Mount(Build(members), image));
  }

  // Section UPDATE of the temporary UPDATE.INI, one "key=value" per line.
  void Ini(const std::vector<std::string>& lines) {
    std::string text = "[SETUP]\r\nGameTitle=x\r\n[UPDATE]\r\n";
    for (const std::string& line : lines) text += line + "\r\n";
    fake::AddFile(kIniPath, text);
  }

  // Opens the wizard, presses Next twice (the second press runs the engine)
  // and then `after`, if given, while the dialog is still there. Returns the
  // dialog's result; Ended() tells a finished run from one left open.
  intptr_t Run(std::function<void()> after = {}) {
    WizardSession session{};
    session.caption = kCaption;
    session.update = UpdateContext{&image, &description, &game};
    fake::SetDialogScript([&](WindowHandle d) {
      dialog = d;
      fake::Click(kNextButton);
      fake::Click(kNextButton);
      if (after) after();
    });
    return RunWizard(nullptr, session);
  }

  bool Ended() { return fake::DialogEnded(); }
  std::string Info() { return fake::ControlState(kInfoText).text; }
  bool Enabled(int id) { return fake::ControlState(id).enabled; }

  // The run ended with -1 after exactly one error box, `text`, captioned
  // with the window caption and owned by the wizard.
  void ExpectRefusedWith(intptr_t result, const std::string& text) {
    EXPECT_TRUE(Ended());
    EXPECT_EQ(-1, result);
    ASSERT_EQ(1u, fake::Boxes().size());
    const fake::BoxCall& box = fake::Boxes()[0];
    EXPECT_EQ(text, box.text);
    EXPECT_EQ(kCaption, box.caption);
    EXPECT_EQ(dialog, box.owner);
    EXPECT_EQ(kBoxError, box.style);
  }

  // The page shows completion and nothing was shown in a box.
  void ExpectCompleted() {
    EXPECT_FALSE(Ended());
    EXPECT_TRUE(fake::Boxes().empty());
    EXPECT_EQ(std::string(description.modeText) + "は完了しました", Info());
  }

  ArchiveImage image;
  UpdateDescription description;
  InstalledGame game;
  WindowHandle dialog = nullptr;
};

} // namespace engine_testing
