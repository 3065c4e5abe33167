// Update lines and copy lines taken apart, and the reading and planning
// that a dry run shares with the real run.
#include <cstring>
#include <string>

#include "unit/engine_fixture.h"

using namespace engine_testing;

namespace {

UpdateLine Update(const char* value) {
  UpdateLine line;
  std::memset(&line, 0x5A, sizeof line);
  ParseUpdateLine(value, &line);
  return line;
}

TEST(EngineLines, UpdateLineFields) {
  struct Case {
    const char* value;
    int hasMode, mode, operation;
    const char* path;
  } cases[] = {
      {"u,x.dat", 0, 0, kOperationUpdate, "x.dat"},
      {"U,x.dat", 0, 0, kOperationUpdate, "x.dat"},
      {"1,u,data\\a.dat", 1, 1, kOperationUpdate, "data\\a.dat"},
      {"0,D,save.dat", 1, 0, kOperationData, "save.dat"},
      {"o,a,ignored", 0, 0, kOperationOverwrite, "a"},
      {"e,ver.dat", 0, 0, kOperationCheck, "ver.dat"},
      {"game.dat", 0, 0, kOperationPlain, "game.dat"},
      {"3,game.dat", 1, 3, kOperationPlain, "game.dat"},
      {"12,u,x.dat", 0, 0, kOperationPlain, "12"},
      {"x,u,a.dat", 0, 0, kOperationPlain, "x"},
      {"uu,a.dat", 0, 0, kOperationPlain, "uu"},
      {"u", 0, 0, kOperationUpdate, ""},
      {"u,,a.dat", 0, 0, kOperationUpdate, ""},           // the empty item ends the list
      {"u,C:\\x.dat", 0, 0, kOperationUpdate, "\\x.dat"}, // "C:" reads as a disc prefix
      {"  u,\tx.dat", 0, 0, kOperationUpdate, "x.dat"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    UpdateLine line = Update(c.value);
    EXPECT_EQ(c.hasMode, line.hasMode);
    if (c.hasMode) {
      EXPECT_EQ(c.mode, line.mode);
    }
    EXPECT_EQ(c.operation, line.operation);
    EXPECT_STREQ(c.path, line.path);
  }
}

TEST(EngineLines, UpdateLineSelection) {
  EXPECT_TRUE(UpdateLineSelected(Update("1,u,a"), 1));
  EXPECT_FALSE(UpdateLineSelected(Update("1,u,a"), 0));
  EXPECT_TRUE(UpdateLineSelected(Update("u,a"), 7));
  EXPECT_TRUE(UpdateLineSelected(Update("12,a"), 0));
}

TEST(EngineLines, BaseNameOffsetWalksByWholeCharacters) {
  EXPECT_EQ(0, BaseNameOffset("game.dat"));
  EXPECT_EQ(9, BaseNameOffset("data\\sub\\a.dat"));
  EXPECT_EQ(5, BaseNameOffset("data\\"));
  EXPECT_EQ(0, BaseNameOffset("表.dat")); // 0x95 0x5C is one character
  EXPECT_EQ(4, BaseNameOffset("sub\\表"));
  EXPECT_EQ(3, BaseNameOffset("表\\a.dat"));
  EXPECT_EQ(0, BaseNameOffset("ソ表ソ"));        // ソ is 0x83 0x5C
  const char cut[] = {'a', '\\', char(0x95), 0}; // a lead byte with no trail byte
  EXPECT_EQ(2, BaseNameOffset(cut));
}

CopyLine Copy(const char* value, int* wellFormed = nullptr) {
  CopyLine line;
  std::memset(&line, 0x5A, sizeof line);
  int ok = ParseCopyLine(value, &line);
  if (wellFormed) *wellFormed = ok;
  return line;
}

TEST(EngineLines, CopyLineFields) {
  struct Case {
    const char* value;
    int wellFormed, hasMode, mode, disc;
    const char* path;
  } cases[] = {
      {"movie\\op.mpg", 1, 0, -1, 0, "movie\\op.mpg"},
      {"2:movie\\op.mpg", 1, 0, -1, 2, "movie\\op.mpg"},
      {"1,2:movie", 1, 1, 1, 2, "movie"},
      {"movie,op", 1, 0, -1, 0, "movie,op"},
      {"1,movie, op ", 1, 1, 1, 0, "movie, op "},
      {"0:a", 1, 0, -1, 0, "a"},
      {"9:a", 1, 0, -1, 9, "a"},
      {"x,a", 1, 1, -1, 0, "a"},
      {"x:a", 0, 0, -1, -1, "a"},
      {"1,x:a", 0, 1, 1, -1, "a"},
      {"a", 1, 0, -1, 0, "a"},
      {"1,", 1, 1, 1, 0, ""},
      {"12:a", 1, 0, -1, 0, "12:a"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    int wellFormed = -1;
    CopyLine line = Copy(c.value, &wellFormed);
    EXPECT_EQ(c.wellFormed, wellFormed);
    EXPECT_EQ(c.hasMode, line.hasMode);
    EXPECT_EQ(c.mode, line.mode);
    EXPECT_EQ(c.disc, line.discNumber);
    EXPECT_LT(line.discNumber, kDiscCheckFileCount);
    EXPECT_STREQ(c.path, line.path);
  }
}

TEST(EngineLines, CopyLineSelection) {
  EXPECT_TRUE(CopyLineSelected(Copy("1,2:a"), 1));
  EXPECT_FALSE(CopyLineSelected(Copy("1,2:a"), 0));
  EXPECT_TRUE(CopyLineSelected(Copy("2:a"), 5));
  EXPECT_FALSE(CopyLineSelected(Copy("x,a"), 'x' - '0'));
  EXPECT_FALSE(CopyLineSelected(Copy("x,a"), -1));
}

// ---- Reading and planning without acting ----------------------------------------

class EngineDecisions : public EngineTest {
protected:
  UpdateContext Context() { return UpdateContext{&image, &description, &game}; }
};

TEST_F(EngineDecisions, PlanningStopsAtAFailedCheckWithoutShowingIt) {
  Ini({"UpdateFile00=u,a.dat", "UpdateFile01=2,u,b.dat", "UpdateFile02=e,VER.DAT", "UpdateFile03=c.dat"});
  static UpdatePlan plan;
  PlanUpdate(Context(), &plan);
  EXPECT_EQ(PlanResult::Refused, plan.result);
  EXPECT_EQ(2, plan.stoppedKey);
  EXPECT_STREQ("VER.DAT", plan.updateLines[2].line.path);
  EXPECT_EQ(Decision::CheckFails, plan.updateLines[2].decision);
  ASSERT_EQ(1, plan.notices.count);
  EXPECT_STREQ(kVersionError, plan.notices.texts[0]);
  EXPECT_TRUE(fake::Boxes().empty());

  fake::AddFile("C:\\Game\\VER.DAT", "", {}, kAttrNormal);
  PlanUpdate(Context(), &plan);
  ASSERT_EQ(2, plan.updates.count);
  EXPECT_STREQ("a.dat", plan.updates.entries[0].relativePath);
  EXPECT_EQ(kOperationPlain, plan.updates.entries[1].operation);
  EXPECT_STREQ("c.dat", plan.updates.entries[1].relativePath);
  EXPECT_EQ(Decision::NotSelected, plan.updateLines[1].decision);
  EXPECT_EQ(Decision::CheckPasses, plan.updateLines[2].decision);
  EXPECT_TRUE(fake::Boxes().empty());
}

// A later line sees what an earlier one stages for the same destination, as
// if each were written in place in turn; the run does what the plan says.
TEST_F(EngineDecisions, ALaterLineSeesWhatAnEarlierLineStages) {
  Ini({"UpdateFile00=u,GAME.DAT", "UpdateFile01=o,GAME.DAT", "UpdateFile02=u,game.dat"});
  static UpdatePlan plan;
  PlanUpdate(Context(), &plan);
  ASSERT_EQ(PlanResult::Runs, plan.result);
  EXPECT_EQ(Decision::Write, plan.updateLines[0].decision);
  EXPECT_EQ(Decision::Write, plan.updateLines[1].decision); // not skipped: line 0 makes the file
  EXPECT_EQ(Decision::Write, plan.updateLines[2].decision); // the staged member has the same time
  EXPECT_EQ(WriteReason::ReplaceSame, plan.updateLines[2].reason);
  Run();
  ExpectCompleted();
  EXPECT_EQ("new game", fake::Content("C:\\Game\\GAME.DAT"));
  for (const std::string& f : fake::AllFiles()) EXPECT_EQ(std::string::npos, f.find("~fa2")) << f;
}

TEST_F(EngineDecisions, CopyPlanListsAreEndedByASecondNul) {
  fake::SetDriveType('Q', kDriveCdrom);
  fake::AddFile("Q:\\a.txt", "a");
  CopyPlan plan;
  for (const char* path : {"a.txt", "none"}) {
    CopyEntry entry{1, {}};
    std::strcpy(entry.relativePath, path);
    ASSERT_TRUE(PlanCopy(entry, "Q:", "C:\\Game", &plan));
    EXPECT_EQ(0, plan.source[std::strlen(plan.source) + 1]);
    EXPECT_EQ(0, plan.destination[std::strlen(plan.destination) + 1]);
  }
  EXPECT_STREQ("C:\\Game", plan.destination);
}

} // namespace
