// The wizard's pages, the agreement gate, the busy guard and the engine's hooks.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "fake/fake_platform.h"
#include "ui/wizard.h"

namespace {

std::function<void(WindowHandle)> gEngine;
int gEngineRuns = 0;

void FakeEngine(WindowHandle dialog, const UpdateContext&) {
  ++gEngineRuns;
  if (gEngine) gEngine(dialog);
}

void Succeed(WindowHandle dialog) {
  ShowInfoText(dialog, "%sは完了しました", "アップデート");
  SetControlText(dialog, kNextButton, "完了");
  EnableControl(DialogControl(dialog, kNextButton), 1);
}

class Wizard : public ::testing::Test {
protected:
  void SetUp() override {
    fake::Reset();
    std::memset(&description, 0, sizeof description);
    std::strcpy(description.gameTitle, "Game");
    SetDescriptionMode(description, 0);
    session = WizardSession{};
    session.caption = "Game アップデータ 1.0";
    session.update.description = &description;
    session.engine = FakeEngine;
    gEngine = Succeed;
    gEngineRuns = 0;
  }
  intptr_t Run(std::function<void(WindowHandle)> script) {
    fake::SetDialogScript(std::move(script));
    return RunWizard(nullptr, session);
  }
  std::string Info() { return fake::ControlState(kInfoText).text; }
  bool Enabled(int id) { return fake::ControlState(id).enabled; }
  UpdateDescription description;
  WizardSession session;
};

TEST_F(Wizard, PlainTemplateWalksToTheEngineAndClosesWithZero) {
  intptr_t result = Run([&](WindowHandle dialog) {
    EXPECT_EQ(dialog, ErrorBoxOwner());
    EXPECT_EQ("Game アップデータ 1.0", fake::DialogCaption());
    EXPECT_EQ("「Game」のアップデートを開始します", Info());
    EXPECT_TRUE(Enabled(kNextButton));
    EXPECT_FALSE(Enabled(kBackButton));
    EXPECT_TRUE(Enabled(kAbortButton));
    fake::Click(kNextButton);
    EXPECT_EQ("アップデートを実行します", Info());
    EXPECT_EQ(0, gEngineRuns);
    fake::Click(kNextButton);
    EXPECT_EQ(1, gEngineRuns);
    EXPECT_EQ("アップデートは完了しました", Info());
    fake::Click(kNextButton);
  });
  EXPECT_EQ(0, result);
  EXPECT_EQ(kTemplatePlain, fake::DialogTemplate());
  EXPECT_EQ(3, session.state.pageCounter);
  EXPECT_EQ(nullptr, ErrorBoxOwner());
}

TEST_F(Wizard, AgreementGatesNextAndIsHiddenOnTheConfirmationPage) {
  description.agreementText = "license text";
  Run([&](WindowHandle) {
    EXPECT_EQ("license text", fake::ControlState(kAgreementEdit).text);
    EXPECT_TRUE(fake::ControlState(kDisagreeRadio).checked);
    EXPECT_FALSE(fake::ControlState(kAgreeRadio).checked);
    EXPECT_FALSE(Enabled(kNextButton));
    fake::Click(kNextButton); // disabled: nothing
    EXPECT_EQ(0, session.state.pageCounter);
    fake::Click(kAgreeRadio);
    EXPECT_TRUE(Enabled(kNextButton));
    EXPECT_TRUE(fake::ControlState(kAgreeRadio).checked);
    fake::Click(kDisagreeRadio);
    EXPECT_FALSE(Enabled(kNextButton));
    fake::Click(kAgreeRadio);
    fake::Click(kNextButton);
    EXPECT_FALSE(fake::ControlState(kAgreementEdit).visible);
    EXPECT_FALSE(fake::ControlState(kAgreeRadio).visible);
    EXPECT_FALSE(fake::ControlState(kDisagreeRadio).visible);
    fake::Click(kAbortButton);
  });
  EXPECT_EQ(kTemplateAgreement, fake::DialogTemplate());
}

TEST_F(Wizard, FirstPageTextsFollowTheModeAndTheIntroText) {
  SetDescriptionMode(description, 1);
  Run([&](WindowHandle) { EXPECT_EQ("「」のインストールを開始します", Info()); });
  description.introText = "100%% new %s %i";
  Run([&](WindowHandle) { EXPECT_EQ("100% new %s %i", Info()); });
  std::string longText(2000, 'x');
  description.introText = longText.c_str();
  Run([&](WindowHandle) { EXPECT_EQ(std::string(1023, 'x'), Info()); });
}

TEST_F(Wizard, BackAfterTheFreeSpaceRefusalShowsTheConfirmationPageAgain) {
  gEngine = [](WindowHandle dialog) {
    ShowInfoTextVerbatim(dialog, "ディスク容量が足りません。");
    SetButtonStates(dialog, 1);
  };
  intptr_t result = Run([&](WindowHandle) {
    fake::Click(kNextButton);
    fake::Click(kNextButton);
    EXPECT_EQ("ディスク容量が足りません。", Info());
    EXPECT_TRUE(Enabled(kBackButton));
    EXPECT_FALSE(Enabled(kNextButton));
    EXPECT_TRUE(Enabled(kAbortButton));
    fake::Click(kBackButton);
    EXPECT_EQ("アップデートを実行します", Info());
    EXPECT_FALSE(Enabled(kBackButton));
    EXPECT_TRUE(Enabled(kNextButton));
    gEngine = Succeed;
    fake::Click(kNextButton);
    EXPECT_EQ(2, gEngineRuns);
    fake::Click(kNextButton);
  });
  EXPECT_EQ(0, result);
}

TEST_F(Wizard, PressesWhileBusyAreVoidAndTheWaitCursorHolds) {
  gEngine = [](WindowHandle) {
    EXPECT_EQ(1, fake::SendSetCursor());
    EXPECT_EQ(kCursorWait, fake::CurrentCursor());
    fake::SendCommand(kNextButton); // a nested message loop delivers these
    fake::SendCommand(kBackButton);
    fake::SendCommand(kAbortButton);
    EXPECT_FALSE(fake::DialogEnded());
    Succeed(fake::CurrentDialog());
  };
  Run([&](WindowHandle) {
    EXPECT_EQ(0, fake::SendSetCursor());
    fake::Click(kNextButton);
    fake::Click(kNextButton);
    EXPECT_EQ(1, gEngineRuns);
    EXPECT_EQ(0, session.state.busy);
    EXPECT_EQ(0, fake::SendSetCursor());
  });
}

TEST_F(Wizard, EscapeAndCloseAbortUnlessAbortIsDisabled) {
  EXPECT_EQ(-1, Run([](WindowHandle) { fake::SendCommand(kAbortButton); }));
  EXPECT_EQ(-1, Run([](WindowHandle) {
    fake::Click(kNextButton);
    fake::SendCommand(kAbortButton);
  }));
  gEngine = [](WindowHandle dialog) {
    SetButtonStates(dialog, 0);
    Succeed(dialog);
  };
  EXPECT_EQ(0, Run([](WindowHandle) {
              fake::Click(kNextButton);
              fake::Click(kNextButton);
              fake::SendCommand(kAbortButton); // Abort is disabled after success
              EXPECT_FALSE(fake::DialogEnded());
              fake::SendCommand(kNextButton, 1); // not a click notification
              EXPECT_FALSE(fake::DialogEnded());
              fake::Click(kNextButton);
            }));
}

TEST_F(Wizard, EngineFailureEndsWithMinusOneAndTheHandlerStillFinishes) {
  gEngine = [](WindowHandle dialog) { EndModalDialog(dialog, -1); };
  EXPECT_EQ(-1, Run([](WindowHandle) {
    fake::Click(kNextButton);
    fake::Click(kNextButton);
  }));
  EXPECT_EQ(2, session.state.pageCounter);
  EXPECT_EQ(0, session.state.busy);
}

TEST_F(Wizard, TemplateThatCannotBeCreatedGivesMinusOne) {
  fake::SetDialogFails(true);
  EXPECT_EQ(-1, Run(nullptr));
  EXPECT_EQ(nullptr, ErrorBoxOwner());
}

} // namespace
