// Value reads of SETUP.INI and UPDATE.INI: reports, the quiet flag, cuts.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "fake/fake_platform.h"
#include "settings/settings.h"

namespace {

const char kSetupPath[] = "C:\\Game\\SETUP.INI";
const char kDescriptionPath[] = "C:\\TEMP\\UPDATE.INI";

class ProfileTest : public ::testing::Test {
protected:
  void SetUp() override {
    fake::Reset();
    SetErrorBoxOwner(nullptr);
    SetQuietFlag(0);
    ASSERT_EQ(SetInstalledSettingsPath(kSetupPath), 1);
    ASSERT_EQ(SetDescriptionPath(kDescriptionPath), 1);
  }
  void TearDown() override { SetQuietFlag(0); }
};

TEST_F(ProfileTest, SetupValueIsReadAndTheBufferZeroFilled) {
  fake::AddFile(kSetupPath, "[SETUP]\r\nGameExe = game.exe \r\n");
  char buffer[32];
  std::memset(buffer, 'X', sizeof buffer);
  EXPECT_EQ(ReadSetupValue("GameExe", buffer, sizeof buffer), 1);
  EXPECT_STREQ(buffer, "game.exe");
  for (size_t i = std::strlen("game.exe"); i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], 0) << i;
  EXPECT_TRUE(fake::Boxes().empty());
}

TEST_F(ProfileTest, MissingSetupKeyIsReportedInTheInstcmmnBox) {
  fake::AddFile(kSetupPath, "[SETUP]\r\nGameTitle=x\r\n");
  char buffer[260];
  std::strcpy(buffer, "stale");
  EXPECT_EQ(ReadSetupValue("GameExe", buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "");
  ASSERT_EQ(fake::Boxes().size(), 1u);
  EXPECT_EQ(fake::Boxes()[0].text, "SETUP.INI : GameExe キーが存在しません");
  EXPECT_EQ(fake::Boxes()[0].caption, "INSTCMMN");
  EXPECT_EQ(fake::Boxes()[0].style, kBoxError);
  EXPECT_EQ(fake::Boxes()[0].owner, nullptr);
}

TEST_F(ProfileTest, EmptyValueCountsAsMissing) {
  fake::AddFile(kSetupPath, "[SETUP]\r\nGameExe=\r\nUninstExe=   \r\n");
  char buffer[260];
  EXPECT_EQ(ReadSetupValue("GameExe", buffer, sizeof buffer), 0);
  EXPECT_EQ(ReadSetupValue("UninstExe", buffer, sizeof buffer), 0);
  ASSERT_EQ(fake::Boxes().size(), 2u);
  EXPECT_EQ(fake::Boxes()[1].text, "SETUP.INI : UninstExe キーが存在しません");
}

TEST_F(ProfileTest, MissingFileOrSectionReadsAsMissingKey) {
  char buffer[260];
  EXPECT_EQ(ReadSetupValue("GameExe", buffer, sizeof buffer), 0); // no file at all
  fake::AddFile(kSetupPath, "[OTHER]\r\nGameExe=x\r\n");
  EXPECT_EQ(ReadSetupValue("GameExe", buffer, sizeof buffer), 0);
  EXPECT_EQ(fake::Boxes().size(), 2u);
}

TEST_F(ProfileTest, QuietFlagSilencesTheReport) {
  fake::AddFile(kSetupPath, "[SETUP]\r\n");
  fake::AddFile(kDescriptionPath, "[SETUP]\r\n");
  char buffer[260];
  for (int quiet : {1, -1, 2}) {
    SetQuietFlag(quiet);
    EXPECT_EQ(ReadSetupValue("GameExe", buffer, sizeof buffer), 0);
    EXPECT_EQ(ReadDescriptionValue("SETUP", "GameDir", buffer, sizeof buffer), 0);
  }
  EXPECT_TRUE(fake::Boxes().empty());
}

TEST_F(ProfileTest, DescriptionValueNamesSectionAndKey) {
  fake::AddFile(kDescriptionPath, "[SETUP]\r\nCompanyName=Maker\r\n[UPDATE]\r\nUpdateFile00=u,a.dat\r\n");
  char buffer[1024];
  EXPECT_EQ(ReadDescriptionValue("SETUP", "CompanyName", buffer, sizeof buffer), 1);
  EXPECT_STREQ(buffer, "Maker");
  EXPECT_EQ(ReadDescriptionValue("UPDATE", "UpdateFile00", buffer, sizeof buffer), 1);
  EXPECT_STREQ(buffer, "u,a.dat");
  EXPECT_EQ(ReadDescriptionValue("SETUP", "GameDir", buffer, sizeof buffer), 0);
  ASSERT_EQ(fake::Boxes().size(), 1u);
  EXPECT_EQ(fake::Boxes()[0].text, "SETUP : GameDir キーが存在しません");
  EXPECT_EQ(fake::Boxes()[0].caption, "INSTCMMN");
}

TEST_F(ProfileTest, EachReaderReadsItsOwnFile) {
  fake::AddFile(kSetupPath, "[SETUP]\r\nKey=from setup\r\n");
  fake::AddFile(kDescriptionPath, "[SETUP]\r\nKey=from description\r\n");
  char buffer[260];
  ASSERT_EQ(ReadSetupValue("Key", buffer, sizeof buffer), 1);
  EXPECT_STREQ(buffer, "from setup");
  ASSERT_EQ(ReadDescriptionValue("SETUP", "Key", buffer, sizeof buffer), 1);
  EXPECT_STREQ(buffer, "from description");
}

TEST_F(ProfileTest, LongValueIsCutSilentlyToTheCapacity) {
  fake::AddFile(kSetupPath, "[SETUP]\r\nInstallSize0=123456789012345678901234\r\n");
  struct {
    char text[kSizeTextCapacity];
    char guard[8];
  } b;
  std::memset(&b, 0x7F, sizeof b);
  EXPECT_EQ(ReadSetupValue("InstallSize0", b.text, sizeof b.text), 1);
  EXPECT_STREQ(b.text, "1234567890123456789");
  for (char g : b.guard) EXPECT_EQ(g, 0x7F);
  EXPECT_TRUE(fake::Boxes().empty());
}

// The file is read in pieces: wherever one ends in the key's line (short
// reads too), the line reads whole. A read that fails before the line's end
// leaves the key missing, never a part of its value; no handle stays open.
TEST_F(ProfileTest, TheFileIsReadInPiecesAndAFailedReadGivesNothing) {
  const std::string line = "GameDir = \"表\\x\"\r\n";
  for (size_t pad = 0; pad < 1100; ++pad) {
    const std::string head = "[SETUP]\r\n;" + std::string(pad, 'p') + "\r\n";
    const std::string text = head + line + "After=1\r\n";
    fake::AddFile(kSetupPath, text);
    char buffer[kPathCapacity];
    for (const char* shortReads : {"", kSetupPath}) {
      fake::ShortReadAt(shortReads);
      ASSERT_EQ(ReadProfileString("SETUP", "GameDir", buffer, sizeof buffer, kSetupPath), 4u) << pad;
      EXPECT_STREQ(buffer, "表\\x");
    }
    fake::ShortReadAt("");
    const size_t lineRead = head.size() + line.size() - 1; // up to its CR
    for (size_t good : {pad, lineRead - 1, lineRead, text.size() - 1, text.size()}) {
      fake::FailReadAfter(kSetupPath, good);
      const uint32_t count = ReadProfileString("SETUP", "GameDir", buffer, sizeof buffer, kSetupPath);
      if (good < lineRead || count == 0) {
        EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, '\0')) << pad;
      }
      if (good >= text.size() || count != 0) {
        EXPECT_STREQ(buffer, "表\\x") << pad << " " << good;
      }
    }
    fake::FailReadAfter("", 0);
    ASSERT_EQ(fake::OpenHandleCount(), 0);
  }
}

TEST_F(ProfileTest, SetupIntegerUsesTheLeadingNumber) {
  fake::AddFile(kSetupPath, "[SETUP]\r\nA=42abc\r\nB=abc\r\nC=-3\r\nD=99999999999\r\nE=\r\n");
  int32_t value = 77;
  EXPECT_EQ(ReadSetupInteger("A", &value), 1);
  EXPECT_EQ(value, 42);
  EXPECT_EQ(ReadSetupInteger("B", &value), 1);
  EXPECT_EQ(value, 0);
  EXPECT_EQ(ReadSetupInteger("C", &value), 1);
  EXPECT_EQ(value, -3);
  EXPECT_EQ(ReadSetupInteger("D", &value), 1);
  EXPECT_EQ(value, INT32_MAX);
  EXPECT_TRUE(fake::Boxes().empty());

  value = 77;
  EXPECT_EQ(ReadSetupInteger("E", &value), 0); // left as it was
  EXPECT_EQ(value, 77);
  EXPECT_EQ(ReadSetupInteger("Missing", &value), 0);
  EXPECT_EQ(value, 77);
  ASSERT_EQ(fake::Boxes().size(), 2u);
  EXPECT_EQ(fake::Boxes()[1].text, "SETUP.INI : Missing キーが存在しません");
}

TEST_F(ProfileTest, PathThatDoesNotFitIsRefused) {
  fake::AddFile(kSetupPath, "[SETUP]\r\nKey=x\r\n");
  std::string tooLong = "C:\\" + std::string(300, 'a');
  EXPECT_EQ(SetInstalledSettingsPath(tooLong.c_str()), 0);
  EXPECT_STREQ(InstalledSettingsPath(), "");
  SetQuietFlag(1);
  char buffer[260];
  EXPECT_EQ(ReadSetupValue("Key", buffer, sizeof buffer), 0);

  std::string longest = "C:\\" + std::string(kPathCapacity - 4, 'a');
  EXPECT_EQ(SetDescriptionPath(longest.c_str()), 1);
  EXPECT_EQ(std::string(DescriptionPath()), longest);
}

} // namespace
