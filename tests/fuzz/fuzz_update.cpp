// The update engine over any section UPDATE: the update line and copy line
// parsers, then the whole update run from the wizard's second Next against
// the test machine (an installed game, a data folder, an archive of
// replacement files and a CD-ROM drive).
//
// Input: two bytes of switches, then the text of UPDATE.INI after a first
// line "[UPDATE]" (later sections, such as SETUP with DataFolder and
// ExistErrorMessage, may follow in the text).
//   byte 0  bits 0-1  the install mode
//           bit 2     the disc is in the drive from the start
//           bit 3     asked for a disc, the user inserts it (once); else Cancel
//           bit 4     the shell's copy fails
//           bit 5     the user cancels the shell's copy
//           bit 6     the disk fills after (byte 1) * 4 bytes
//           bit 7     the drive has only (byte 1) * 64 bytes free
//   byte 1  the amount for bits 6 and 7; bit 7 of it also takes the disc
//           out after the first copy
//
// Checks: no sanitizer report; the run ends completed, refused for space
// (dialog still open) or with the dialog ended by -1; only the updater's own
// messages are shown; no file outside the install, data, temporary and disc
// folders, with every path resolved as Windows resolves it (the test machine
// folds "/", "." and ".." as Windows does, so "Game\..\..\X" is C:\X); every
// file holds its old content or, whole, the content of the
// member or disc file of its name; no temporary file left; nothing held.
#include <map>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "ui/wizard.h"
#include "update/update.h"

using namespace fuzz_support;

namespace {

constexpr size_t kMaxText = 8192;
const char kIniPath[] = "C:\\TEMP\\UPDATE.INI";
constexpr FileTime kOld = {0, 0x01D00000};
constexpr FileTime kNew = {0, 0x01D80000};
constexpr FileTime kNewest = {0, 0x01E00000};

const std::vector<SimpleMember> kMembers = {
    {"GAME.DAT", "game v2", true, kNew},
    {"README.TXT", "readme v2", false, kNew},
    {"CONFIG.DAT", "config v2", true, kNew},
    {"A.TXT", "a v2", false, kOld},
    {"HIDDEN.DAT", "hidden v2", false, kNew},
    {"NEW.DAT", "new v2", true, kNewest},
    {"EMPTY", "", false, kNew},
};

struct Installed {
  const char* path;
  const char* content;
  uint32_t attributes;
};
const Installed kInstalled[] = {
    {"C:\\Game\\GAME.DAT", "game v1", kAttrArchive},     {"C:\\Game\\README.TXT", "readme v1", kAttrReadOnly},
    {"C:\\Game\\GAME.EXE", "exe", kAttrNormal},          {"C:\\Game\\SUB\\A.TXT", "a v1", kAttrArchive},
    {"C:\\Game\\HIDDEN.DAT", "hidden v1", kAttrHidden},  {"C:\\Data\\CONFIG.DAT", "config v1", kAttrArchive},
    {"C:\\Data\\SAVE\\SAVE1.DAT", "save", kAttrArchive},
};
const Installed kDisc[] = {
    {"Q:\\SAMPLE1.CHK", "", kAttrReadOnly},
    {"Q:\\MOVIE\\OP.MPG", "opening", kAttrReadOnly},
    {"Q:\\MOVIE\\ED.MPG", "ending", kAttrReadOnly},
    {"Q:\\EXTRA.TXT", "extra", kAttrArchive},
};

const char kPrompt[] = "ＣＤ－ＲＯＭドライブに「%s」ディスク %i を入れて下さい";
// After the mode text. (This build keeps its texts in UTF-8, in which the
// mode words are longer than in the product's code page and come out cut.)
const char kCompleted[] = "は完了しました";

const std::vector<const char*> kKnownTexts = {
    "ファイルの書き込みに失敗しました",
    "ファイルの書き込みに失敗しました\r\n%s\r\n（%s）",
    "Can't Find File in Resource !!",
    "Can't Allocate Memory !!",
    "「%s」のデータが壊れています（チェックサムが一致しません）",
    "ディスク容量が足りません。%s ドライブに %llu バイトの空き容量が必要です",
    "No 'UpdateFileXX' and 'CopyFileXX'",
    "アップデートエラー：アップデート対象のバージョンが違います",
    "SETUP.INI : \"%s\" のコピーに失敗しました",
    kPrompt,
};

const std::vector<uint8_t>& Archive() {
  static const std::vector<uint8_t> archive = BuildSimpleArchive(kMembers);
  return archive;
}

void InsertDisc() {
  fake::SetDriveType('Q', kDriveCdrom);
  for (const Installed& f : kDisc) fake::AddFile(f.path, f.content, kOld, f.attributes);
}

void RemoveDisc() {
  for (const Installed& f : kDisc) {
    WriteAttributes(f.path, kAttrNormal);
    RemoveFile(f.path);
  }
  fake::SetDriveType('Q', 1);
}

// The contents a file of this name may hold after the run besides its old one.
std::vector<std::string> NewContentsFor(const std::string& path) {
  std::string name = Upper(path.substr(path.rfind('\\') + 1));
  std::vector<std::string> out;
  for (const SimpleMember& m : kMembers)
    if (m.name == name) out.push_back(m.content);
  for (const Installed& f : kDisc)
    if (Upper(std::string(f.path).substr(std::string(f.path).rfind('\\') + 1)) == name) out.push_back(f.content);
  return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > kMaxText) return 0;
  const uint8_t switches = data[0], amount = data[1];
  const std::string ini = "[UPDATE]\r\n" + std::string(reinterpret_cast<const char*>(data + 2), size - 2);

  fake::Reset();
  SetQuietFlag(1);
  SetCurrentDiscNumber(0);
  SetErrorBoxCaption("サンプルゲーム アップデータ 1.01");
  FUZZ_CHECK(SetDescriptionPath(kIniPath) == 1, "path");
  fake::AddFile(kIniPath, ini);
  fake::AddDirectory("C:\\Game");
  fake::AddDirectory("C:\\Data");
  std::map<std::string, std::string> before;
  for (const Installed& f : kInstalled) {
    fake::AddFile(f.path, f.content, kOld, f.attributes);
    before[Upper(f.path)] = f.content;
  }
  if (switches & 0x04) InsertDisc();
  if (switches & 0x80) fake::SetFreeSpace('C', uint64_t(amount) * 64);

  ArchiveImage image;
  fake::SetResource(Archive());
  image.base = LoadArchiveResource(nullptr, &image.size);
  AttachDirectory(image, OpenArchive(image));
  FUZZ_CHECK(image.directory != nullptr, "the fixed archive opens");

  UpdateDescription description;
  std::memset(&description, 0, sizeof description);
  std::strcpy(description.gameTitle, "サンプルゲーム");
  ReadDescriptionValue("SETUP", "DataFolder", description.dataFolder, sizeof description.dataFolder);
  ReadDescriptionValue("SETUP", "ExistErrorMessage", description.existErrorMessage,
                       sizeof description.existErrorMessage);
  char mode[kPathCapacity];
  SetDescriptionMode(description, ReadDescriptionValue("SETUP", "ModeTextUpdateOrInstall", mode, sizeof mode)
                                      ? LeadingInteger(mode)
                                      : 0);
  InstalledGame game;
  std::memset(&game, 0, sizeof game);
  std::strcpy(game.installPath, "C:\\Game");
  std::strcpy(game.dataPath, "C:\\Data");
  game.installMode = switches & 0x03;
  std::strcpy(game.discCheckFiles[1], "SAMPLE1.CHK");
  std::strcpy(game.discCheckFiles[3], "MOVIE\\OP.MPG");
  // Disc 2 has no check file: any readable disc passes for it.

  // The parsers on every line, apart from the run.
  for (int i = 0; i < kUpdateListCapacity; ++i) {
    char key[16], value[kUpdateValueCapacity];
    std::snprintf(key, sizeof key, "UpdateFile%02i", i);
    if (ReadDescriptionValue("UPDATE", key, value, sizeof value)) {
      UpdateLine line;
      ParseUpdateLine(value, &line);
      FUZZ_CHECK(std::strlen(line.path) < kItemCapacity, key);
      FUZZ_CHECK(line.operation >= kOperationPlain && line.operation <= kOperationCheck, key);
      FUZZ_CHECK(!line.hasMode || (line.mode >= 0 && line.mode <= 9), key);
      const int32_t offset = BaseNameOffset(line.path);
      FUZZ_CHECK(offset >= 0 && size_t(offset) <= std::strlen(line.path), key);
    }
    std::snprintf(key, sizeof key, "CopyFile%02i", i);
    if (ReadDescriptionValue("UPDATE", key, value, kCopyValueCapacity)) {
      CopyLine line;
      const int wellFormed = ParseCopyLine(value, &line);
      FUZZ_CHECK(std::strlen(line.path) < kPathCapacity, key);
      FUZZ_CHECK(line.discNumber >= -1 && line.discNumber <= 9, key);
      FUZZ_CHECK(wellFormed == (line.discNumber >= 0), key);
    }
  }

  int prompts = 0;
  fake::OnBox([&](const fake::BoxCall& box) {
    if (!MatchesFormat(kPrompt, box.text.c_str())) return;
    ++prompts;
    if (prompts == 1 && (switches & 0x08))
      InsertDisc();
    else
      fake::QueueAnswer(kAnswerCancel);
  });
  int copies = 0;
  fake::OnCopy([&](const fake::CopyCall& call, int* aborted) {
    ++copies;
    if (switches & 0x20) {
      *aborted = 1;
      return 0x4C7;
    }
    if (switches & 0x10) return 0x402;
    const int result = fake::DefaultCopy(call, aborted);
    if (copies == 1 && (amount & 0x80)) RemoveDisc();
    return result;
  });

  WizardSession session{};
  session.caption = "サンプルゲーム アップデータ 1.01";
  session.update = UpdateContext{&image, &description, &game};
  std::string info; // the page as the engine left it
  fake::SetDialogScript([&](WindowHandle) {
    if (switches & 0x40) fake::SetWriteBudget(int64_t(amount) * 4);
    fake::Click(kNextButton);
    fake::Click(kNextButton);
    fake::SetWriteBudget(-1);
    if (fake::DialogEnded()) return;
    info = fake::ControlState(kInfoText).text;
    if (fake::ControlState(kNextButton).enabled)
      fake::Click(kNextButton); // 完了
    else
      fake::Click(kAbortButton); // after the refusal for space
  });
  // The plan made beforehand says what a refusal shows, and that nothing is
  // written then.
  static UpdatePlan plan;
  PlanUpdate(session.update, &plan);
  std::vector<std::pair<std::string, std::string>> beforeRun;
  for (const std::string& file : fake::AllFiles()) beforeRun.emplace_back(file, fake::Content(file));
  const size_t boxesBefore = fake::Boxes().size();
  const intptr_t result = RunWizard(nullptr, session);
  FUZZ_CHECK(result == 0 || result == -1, "dialog result");
  if (plan.result == PlanResult::Refused) {
    std::vector<std::pair<std::string, std::string>> afterRun;
    for (const std::string& file : fake::AllFiles()) afterRun.emplace_back(file, fake::Content(file));
    FUZZ_CHECK(afterRun == beforeRun, "a refused plan, yet files changed");
    FUZZ_CHECK(fake::Boxes().size() == boxesBefore + size_t(plan.notices.count), "a refused plan's texts");
    for (int i = 0; i < plan.notices.count; ++i)
      FUZZ_CHECK(fake::Boxes()[boxesBefore + size_t(i)].text == plan.notices.texts[i], "a refused plan's texts");
  }
  if (result == 0)
    FUZZ_CHECK(info == std::string(description.modeText) + kCompleted, "finished without completion: " + info);

  if (std::getenv("FA2_FUZZ_VERBOSE")) {
    // For looking at one input: what the run showed and left.
    std::fprintf(stderr, "result %d, page \"%s\", %zu copies\n", int(result), info.c_str(), fake::Copies().size());
    for (const fake::BoxCall& box : fake::Boxes()) std::fprintf(stderr, "box: %s\n", box.text.c_str());
    for (const std::string& file : fake::AllFiles())
      std::fprintf(stderr, "file: %s = %s\n", file.c_str(), fake::Content(file).substr(0, 40).c_str());
  }
  for (const fake::BoxCall& box : fake::Boxes()) {
    const bool versionMessage = description.existErrorMessage[0] && box.text == description.existErrorMessage;
    FUZZ_CHECK(versionMessage || MatchesAny(kKnownTexts, box.text), "unexpected message: " + box.text);
  }

  // Every file: where it may be, and what it may hold.
  CheckFilesBelow({"C:\\Game\\", "C:\\Data\\", "C:\\TEMP\\", "Q:\\"});
  for (const std::string& file : fake::AllFiles()) {
    const std::string key = Upper(file);
    const std::string content = fake::Content(file);
    if (StartsWith(key, "Q:\\") || StartsWith(key, "C:\\TEMP\\")) continue;
    auto old = before.find(key);
    if (old != before.end() && old->second == content) continue;
    bool allowed = false;
    for (const std::string& c : NewContentsFor(file)) allowed |= c == content;
    FUZZ_CHECK(allowed, "unexpected content in " + file + ": " + content);
  }
  FUZZ_CHECK(fake::Content(kIniPath) == ini, "the description was changed");

  CloseArchive(image);
  CheckNothingHeld();
  return 0;
}
