// The installed game's SETUP.INI reader over any file text.
//
// Input: the text of C:\Game\SETUP.INI. The reader runs as the main sequence
// runs it, with the quiet flag already 1.
//
// Checks: no sanitizer report; at most one box, captioned INSTCMMN, holding
// one of the reader's own texts, and only on a refusal; on success the
// four identity fields and the ten disc check files hold exactly what the file
// says (the window class defaulting to the title), the quiet flag is 1, and
// no other field was touched; the file is never written; nothing is held.
#include "fuzz/fuzz_support.h"
#include "settings/settings.h"

using namespace fuzz_support;

namespace {

constexpr size_t kMaxText = 16384;
const char kPath[] = "C:\\Game\\SETUP.INI";

const std::vector<const char*> kKnownTexts = {
    "SETUP.INI : InstallAddFiles キーが存在しません",
    "SETUP.INI : SetupBmps エラー",
    "SETUP.INI : InstallSelect オーバー",
    "SETUP.INI : InstallFiles%i エラー",
    "SETUP.INI : Shortcuts オーバー",
    "SETUP.INI : Shortcut%i エラー",
    "SETUP.INI : ExecApp エラー",
    "SETUP.INI : InstallAddFiles エラー",
};

std::string Value(const std::string& text, const char* key) {
  char buffer[kPathCapacity];
  fake::ProfileRead(text, "SETUP", key, buffer, sizeof buffer);
  return std::string(buffer); // as a C string: a value may hold a NUL byte
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxText) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);
  fake::Reset();
  fake::AddFile(kPath, text);
  FUZZ_CHECK(SetInstalledSettingsPath(kPath) == 1, "path");
  SetQuietFlag(1);
  SetCurrentDiscNumber(0);
  SetErrorBoxOwner(nullptr);

  UpdateDescription description;
  std::memset(&description, 'Z', sizeof description);
  description.gameTitleA[0] = description.updaterTitle[0] = description.dataFolder[0] = 0;
  std::strcpy(description.updaterVersion, "untouched");
  const UpdateDescription before = description;
  InstalledGame game;
  std::memset(&game, 'Z', sizeof game);
  std::strcpy(game.installPath, "C:\\Game");
  std::strcpy(game.dataPath, "C:\\Data");
  game.installMode = 3;

  const int result = ReadInstalledSettings(description, game);
  FUZZ_CHECK(result == 0 || result == 1, "result");

  const std::vector<fake::BoxCall>& boxes = fake::Boxes();
  FUZZ_CHECK(boxes.size() <= 1, "more than one box");
  for (const fake::BoxCall& box : boxes) {
    FUZZ_CHECK(MatchesAny(kKnownTexts, box.text), "unexpected message: " + box.text);
    FUZZ_CHECK(box.caption == "INSTCMMN" && box.style == kBoxError && box.owner == nullptr, box.text);
    FUZZ_CHECK(result == 0, "a box on success");
  }

  if (result == 1) {
    FUZZ_CHECK(QuietFlag() == 1, "quiet flag");
    FUZZ_CHECK(description.companyName == Value(text, "CompanyName") && description.companyName[0], "company");
    FUZZ_CHECK(description.gameTitle == Value(text, "GameTitle") && description.gameTitle[0], "title");
    FUZZ_CHECK(description.gameDir == Value(text, "GameDir") && description.gameDir[0], "folder");
    const std::string windowClass = Value(text, "GameClass");
    FUZZ_CHECK(description.gameClass == (windowClass.empty() ? std::string(description.gameTitle) : windowClass),
               "window class");
    for (int i = 0; i < kDiscCheckFileCount; ++i) {
      const std::string key = "DiskCheckFile" + std::to_string(i);
      FUZZ_CHECK(game.discCheckFiles[i] == Value(text, key.c_str()), key);
    }
  }
  // What SETUP.INI does not describe stays as it was, whatever the result.
  FUZZ_CHECK(std::memcmp(description.gameTitleA, before.gameTitleA, sizeof before.gameTitleA) == 0, "alternate title");
  FUZZ_CHECK(std::memcmp(description.updaterVersion, before.updaterVersion, sizeof before.updaterVersion) == 0,
             "version");
  FUZZ_CHECK(std::memcmp(description.updateMessage, before.updateMessage, sizeof before.updateMessage) == 0, "message");
  FUZZ_CHECK(std::strcmp(game.installPath, "C:\\Game") == 0 && std::strcmp(game.dataPath, "C:\\Data") == 0 &&
                 game.installMode == 3,
             "registry fields");

  FUZZ_CHECK(fake::AllFiles() == std::vector<std::string>{kPath}, "files");
  FUZZ_CHECK(fake::Content(kPath) == text, "SETUP.INI was changed");
  CheckNothingHeld();
  return 0;
}
