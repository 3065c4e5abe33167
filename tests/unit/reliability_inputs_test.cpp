// Damaged inputs that fuzzing and the damaged-updater campaign turned up:
// each once wrote or accepted something it should not have.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "unit/archive_helpers.h"
#include "settings/settings.h"

using namespace testing_archive;
using namespace std::string_literals; // "..."s keeps the NUL bytes inside

namespace {

void PutU32(fa2::Bytes& b, size_t at, uint32_t v) { std::memcpy(b.data() + at, &v, 4); }

// The member written beside `destination` and moved over it, as the engine
// stages and swaps; 1 when in place.
int ExtractMember(const ArchiveImage& image, const char* name, const char* destination) {
  MemberRef member;
  if (!LocateMember(image, name, &member)) return 0;
  const std::string staged = std::string(destination) + ".new";
  uint32_t error = 0;
  MemberProblem problem = MemberProblem::None;
  if (WriteMemberFile(image, member, staged.c_str(), nullptr, &error, &problem) != 1) {
    RemoveFile(staged.c_str());
    return 0;
  }
  return ReplaceFile(staged.c_str(), destination);
}

// FindMember with the text its failure shows.
const uint8_t* FindMember(const ArchiveImage& image, const char* name, std::string* shown) {
  MemberProblem problem = MemberProblem::None;
  const uint8_t* bytes = FindMember(image, name, nullptr, &problem);
  char text[kTextCapacity] = "";
  if (!bytes) MemberProblemText(problem, name, text, sizeof text);
  *shown = text;
  return bytes;
}

class DamagedArchive : public ::testing::Test {
protected:
  void SetUp() override {
    fake::Reset();
    fake::AddDirectory("C:\\Game");
    fake::AddFile("C:\\Game\\A.DAT", "old a");
    fake::AddFile("C:\\Game\\B.DAT", "old b");
  }
  void TearDown() override {
    CloseArchive(image);
    EXPECT_EQ(0, fake::LiveBlockCount());
    EXPECT_EQ(0, fake::OpenHandleCount());
  }
  // Two plain members in a plain directory, with `edit` applied to the
  // directory's bytes (entry A at 0, entry B at 280).
  void MountEdited(std::function<void(fa2::Bytes&, size_t directory)> edit, bool scramble = false) {
    fa2::Bytes b = Build({Member("A.DAT", "alpha alpha alpha", false, scramble),
                          Member("B.DAT", "bravo bravo", false, scramble)},
                         false, false);
    edit(b, b.size() - 2 * kEntrySize);
    ASSERT_TRUE(Mount(b, image));
  }
  ArchiveImage image;
};

TEST_F(DamagedArchive, PlainMemberStatedShorterThanStoredIsNotWrittenCutShort) {
  for (uint32_t stated : {0u, 1u, 16u}) {
    for (bool scramble : {false, true}) {
      SetUp();
      MountEdited([stated](fa2::Bytes& b, size_t directory) { PutU32(b, directory + 272, stated); }, scramble);
      EXPECT_EQ(0, ExtractMember(image, "A.DAT", "C:\\Game\\A.DAT")) << stated;
      EXPECT_EQ("old a", fake::Content("C:\\Game\\A.DAT"));
      std::string shown;
      EXPECT_EQ(nullptr, FindMember(image, "A.DAT", &shown));
      EXPECT_EQ("Can't Find File in Resource !!", shown);
      // The other member is untouched by the damage.
      EXPECT_EQ(1, ExtractMember(image, "B.DAT", "C:\\Game\\B.DAT"));
      EXPECT_EQ("bravo bravo", fake::Content("C:\\Game\\B.DAT"));
      CloseArchive(image);
    }
  }
}

TEST_F(DamagedArchive, StoredSizeNearFourGibDoesNotWrapToTheFirstMembersPlace) {
  for (uint32_t stored : {0xFFFFFFF1u, 0xFFFFFFFFu}) {
    SetUp();
    MountEdited([stored](fa2::Bytes& b, size_t directory) { PutU32(b, directory + 276, stored); });
    // B's bytes would follow A's 4 GiB: nowhere in this archive.
    EXPECT_EQ(0xFFFFFFFFu, MemberDataOffset(image, 1));
    EXPECT_EQ(0, ExtractMember(image, "B.DAT", "C:\\Game\\B.DAT"));
    EXPECT_EQ("old b", fake::Content("C:\\Game\\B.DAT"));
    std::string shown;
    EXPECT_EQ(nullptr, FindMember(image, "B.DAT", &shown));
    CloseArchive(image);
  }
}

class DamagedProfile : public ::testing::Test {
protected:
  void SetUp() override {
    fake::Reset();
    SetInstalledSettingsPath("C:\\Game\\SETUP.INI");
  }
  void Setup(const std::string& text) { fake::AddFile("C:\\Game\\SETUP.INI", text); }
};

TEST_F(DamagedProfile, ValueStartingWithANulByteIsMissing) {
  Setup("[SETUP]\r\nGameDir=\0\0SampleGame\r\n"s);
  SetQuietFlag(0);
  char value[kPathCapacity];
  EXPECT_EQ(0, ReadSetupValue("GameDir", value, sizeof value));
  EXPECT_STREQ("", value);
  ASSERT_EQ(1u, fake::Boxes().size());
  EXPECT_EQ("SETUP.INI : GameDir キーが存在しません", fake::Boxes()[0].text);
  int32_t number = 7;
  Setup(
      "[SETUP]\r\nShortcuts=\0"
      "12\r\n"s);
  EXPECT_EQ(0, ReadSetupInteger("Shortcuts", &number));
  EXPECT_EQ(7, number);
}

TEST_F(DamagedProfile, SetupIniWithANulGameDirIsRefused) {
  Setup(
      "[SETUP]\r\nCompanyName=Maker\r\nGameTitle=Game\r\nGameDir=\0Game\r\nGameExe=G.EXE\r\n"
      "UninstExe=U.EXE\r\nSetupBmp=a\r\nInstallSelects=0\r\nShortcuts=0\r\n"s);
  SetQuietFlag(1);
  UpdateDescription description{};
  InstalledGame game{};
  EXPECT_EQ(0, ReadInstalledSettings(description, game));
  EXPECT_TRUE(fake::Boxes().empty());
}

} // namespace
