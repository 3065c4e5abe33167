// The elevated updater against a player's account that prepared the game's
// folders, its journal or its registry key: forged journals, links on the
// way, names made beforehand. Nothing outside the game's folders may change.
#include <map>

#include "unit/engine_fixture.h"

using namespace engine_testing;

namespace {

class EngineAttacks : public EngineTest {
protected:
  void SetUp() override {
    EngineTest::SetUp();
    fake::AddFile("C:\\WINDOWS\\SYSTEM32\\X.DLL", "system");
    fake::AddFile("C:\\Game\\GAME.DAT", "old game", kOlder);
    fake::AddFile("C:\\Game\\GAME.EXE", "old exe", kOlder);
  }
  // Every file with its content and attributes.
  std::map<std::string, std::string> State() {
    std::map<std::string, std::string> state;
    for (const std::string& f : fake::AllFiles())
      state[f] = fake::Content(f) + "/" + std::to_string(fake::Attributes(f));
    return state;
  }
  static std::string Staged(const char* destination, char kind, const char* suffix) {
    char name[kPathBuffer];
    return StagingNameBeside(destination, kind, 0, suffix, name) ? name : "";
  }
};

// A forged journal in the game folder: recovery acts on none of its lines,
// keeps it, and says so; the attacker's files stay where they are.
TEST_F(EngineAttacks, RecoveryActsOnNothingAForgedJournalNames) {
  fake::AddLink("C:\\Game\\data", "C:\\WINDOWS", true);
  fake::AddLink("C:\\Game\\~fa2lnk", "C:\\WINDOWS\\SYSTEM32", true);
  const char* const forged[] = {
      // A file of the system, and backups of the attacker's beside it.
      "file 1 00000007\tC:\\WINDOWS\\SYSTEM32\\X.DLL\tC:\\WINDOWS\\SYSTEM32\\~fa2a1s0.new\tC:\\WINDOWS\\SYSTEM32\\~fa2a1s0.old",
      // A destination of the update, its "backup" elsewhere or not a name of the updater's.
      "file 1 00000000\tC:\\Game\\GAME.DAT\tC:\\Game\\~fa2a1s0.new\tC:\\WINDOWS\\~fa2a1s0.old",
      "file 1 00000000\tC:\\Game\\GAME.DAT\tC:\\Game\\~fa2a1s0.new\tC:\\Game\\GAME.EXE",
      // A destination of the update reached through a link.
      "file 1 00000000\tC:\\Game\\data\\GAME.DAT\tC:\\Game\\data\\~fa2a1s0.new\tC:\\Game\\data\\~fa2a1s0.old",
      // Staging folders: climbing out, and a link.
      "folder\tC:\\Game\\~fa2x\\..\\..\\WINDOWS",
      "folder\tC:\\Game\\~fa2lnk",
  };
  fake::AddFile("C:\\WINDOWS\\SYSTEM32\\~fa2a1s0.old", "evil");
  fake::AddFile("C:\\WINDOWS\\~fa2a1s0.old", "evil");
  fake::AddFile("C:\\WINDOWS\\GAME.DAT", "system's own");
  fake::AddFile("C:\\WINDOWS\\~fa2a1s0.old", "evil");
  Ini({"UpdateFile00=u,GAME.DAT", "UpdateFile01=u,data\\GAME.DAT"});
  for (const char* line : forged) {
    SCOPED_TRACE(line);
    fake::AddFile("C:\\Game\\~fa2update.jnl", std::string("FA2 journal 1\r\nstate swapping\r\n") + line + "\r\n");
    const auto before = State();
    const size_t boxes = fake::Boxes().size();
    // 2: the caller tells the player (kJournalIgnoredText); nothing shown here.
    EXPECT_EQ(2, RecoverInterruptedUpdate(UpdateContext{&image, &description, &game}));
    EXPECT_EQ(before, State());
    EXPECT_EQ(boxes, fake::Boxes().size());
  }
}

// Links in the game's folders, and names prepared before the run: the line
// is refused (or the kept file left alone), nothing reaches the system.
TEST_F(EngineAttacks, NothingIsWrittenThroughALinkOrAPreparedName) {
  UseArchive({Member("GAME.DAT", "new game", false, false, kMemberTime),
              Member("CONFIG.DAT", "new config", false, false, kMemberTime)});
  const std::string staged = Staged("C:\\Game\\GAME.DAT", 's', ".new");
  const struct {
    const char* name;
    std::function<void()> prepare;
    std::vector<std::string> lines;
    std::string refusal; // empty: the run completes
  } cases[] = {
      {"a folder of the game is a link",
       [] { fake::AddLink("C:\\Game\\sub", "C:\\WINDOWS", true); },
       {"UpdateFile00=u,sub\\GAME.DAT"},
       WriteFailedAt("sub\\GAME.DAT", "リンク（ジャンクションやシンボリックリンク）を通しては書き込みません")},
      {"the data folder is a link",
       [this] {
         std::strcpy(game.dataPath, "C:\\DataLink");
         fake::AddLink("C:\\DataLink", "C:\\WINDOWS", true);
       },
       {"UpdateFile00=d,CONFIG.DAT"},
       WriteFailedAt("CONFIG.DAT", "リンク（ジャンクションやシンボリックリンク）を通しては書き込みません")},
      {"the staged name is a link made beforehand",
       [&] { fake::AddLink(staged, "C:\\WINDOWS\\GAME.DAT", false); },
       {"UpdateFile00=u,GAME.DAT"},
       WriteFailedAt("C:\\Game\\GAME.DAT", "システムエラー 80")},
      {"a kept data file is a link",
       [] { fake::AddLink("C:\\Data\\CONFIG.DAT", "C:\\WINDOWS\\SYSTEM32\\X.DLL", false); },
       {"UpdateFile00=d,CONFIG.DAT"},
       ""},
      {"a kept data file has another name",
       [] {
         fake::AddFile("C:\\Data\\CONFIG.DAT", "mine");
         fake::SetLinkCount("C:\\Data\\CONFIG.DAT", 2);
       },
       {"UpdateFile00=d,CONFIG.DAT"},
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    fake::AddFile("C:\\WINDOWS\\GAME.DAT", "system's own");
    c.prepare();
    const auto before = State();
    Ini(c.lines);
    const intptr_t result = Run();
    if (c.refusal.empty()) {
      ExpectCompleted();
    } else {
      ExpectRefusedWith(result, c.refusal);
    }
    auto after = State();
    after.erase("C:\\TEMP\\UPDATE.INI");
    after.erase(staged); // a link at the staged name may go: the link itself, never its target
    auto kept = before;
    kept.erase(staged);
    EXPECT_EQ(kept, after);
  }
}

// A staging folder made beforehand (with a link inside) is never used.
TEST_F(EngineAttacks, APreparedStagingFolderStopsTheCopy) {
  fake::SetDriveType('Q', kDriveCdrom);
  fake::AddFile("Q:\\DISC1.CHK", "");
  fake::AddFile("Q:\\movie\\op.mpg", "movie");
  std::strcpy(game.discCheckFiles[1], "DISC1.CHK");
  const std::string folder = Staged("C:\\Game\\~fa2update.jnl", 'c', "");
  fake::AddDirectory(folder);
  fake::AddLink(folder + "\\movie", "C:\\WINDOWS", true);
  Ini({"CopyFile00=1:movie"});
  ExpectRefusedWith(Run(), "SETUP.INI : \"movie\" のコピーに失敗しました");
  EXPECT_FALSE(fake::Exists("C:\\WINDOWS\\op.mpg"));
  EXPECT_FALSE(fake::Exists("C:\\Game\\movie"));
}

} // namespace
