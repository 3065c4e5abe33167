// The installed game's SETUP.INI: section SETUP read from top to bottom in
// the installer's order, each row validated, stopping at the first failure.
// Only the identity fields and the disc check files are kept; everything
// else is read to prove that the installation follows the schema.
#include "settings/settings.h"

namespace {

constexpr int kMaxSelections = 4;
constexpr int kMaxShortcuts = 10;
constexpr int kSetupBmpSlots = 20;
constexpr int kFileListSlots = 40;
constexpr int kShortcutFields = 4;
constexpr uint32_t kKeyCapacity = 64;

// Working storage of one read. Static: the file lists alone take 10 KiB, and
// the reader runs once per process on the only thread.
struct Scratch {
  char text[kPathCapacity];
  char longText[kTextCapacity];
  char slots[kFileListSlots][kItemCapacity];
  int32_t discs[kFileListSlots];
  char fields[kShortcutFields][kItemCapacity];
};
Scratch gScratch;

void ShowError(const char* format, const char* key) {
  char text[kTextCapacity];
  FormatText(text, sizeof text, format, key);
  ShowSetupError(text);
}

// An optional text row: its default when missing.
void ReadTextOr(const char* key, char* buffer, uint32_t capacity, const char* fallback) {
  if (!ReadSetupValue(key, buffer, capacity)) CopyText(buffer, capacity, fallback);
}

// An optional integer row: its default when missing.
int32_t ReadIntegerOr(const char* key, int32_t fallback) {
  int32_t value = fallback;
  ReadSetupInteger(key, &value);
  return value;
}

// A signed 64-bit size, read as text of at most 19 characters; 0 when missing.
int64_t ReadSize(const char* key) {
  char text[kSizeTextCapacity];
  if (!ReadSetupValue(key, text, sizeof text)) return 0;
  return LeadingInteger64(text);
}

// A file list with disc prefixes; each list starts on disc 0.
int TakeFileList(const char* value) {
  SetCurrentDiscNumber(0);
  return TakeListItems(value, gScratch.slots, gScratch.discs, kFileListSlots);
}

} // namespace

int TakeShortcutFields(const char* value, char (*fields)[kItemCapacity]) {
  for (int f = 0; f < kShortcutFields; ++f) fields[f][0] = 0;
  const char* cursor = value;
  for (int f = 0; f < kShortcutFields; ++f) {
    if (NextListItem(&cursor, fields[f])) continue;
    if (f < 2) return 0;
    if (*cursor != ',') break; // end of the value: the remaining fields stay empty
    while (*cursor == ',' || IsBlank(*cursor)) ++cursor;
  }
  return 1;
}

int ReadInstalledSettings(UpdateDescription& description, InstalledGame& game) {
  Scratch& s = gScratch;
  char key[kKeyCapacity];

  // Identity and programs.
  if (!ReadSetupValue("CompanyName", description.companyName, sizeof description.companyName)) return 0;
  if (!ReadSetupValue("GameTitle", description.gameTitle, sizeof description.gameTitle)) return 0;
  if (!ReadSetupValue("GameDir", description.gameDir, sizeof description.gameDir)) return 0;
  if (!ReadSetupValue("GameExe", s.text, sizeof s.text)) return 0;
  if (!ReadSetupValue("UninstExe", s.text, sizeof s.text)) return 0;

  // Setup pictures: 1 to 20 items.
  if (!ReadSetupValue("SetupBmp", s.longText, sizeof s.longText)) return 0;
  if (TakeListItems(s.longText, s.slots, nullptr, kSetupBmpSlots) == 0) {
    ShowSetupError("SETUP.INI : SetupBmps エラー");
    return 0;
  }

  // Selections: a title and a file list each.
  int32_t selections = 0;
  if (!ReadSetupInteger("InstallSelects", &selections)) return 0;
  if (selections > kMaxSelections) {
    ShowSetupError("SETUP.INI : InstallSelect オーバー");
    return 0;
  }
  for (int k = 0; k < selections; ++k) {
    FormatText(key, sizeof key, "InstallTitle%i", k);
    if (!ReadSetupValue(key, s.text, sizeof s.text)) return 0;
    FormatText(key, sizeof key, "InstallFiles%i", k);
    if (!ReadSetupValue(key, s.longText, sizeof s.longText)) return 0;
    if (TakeFileList(s.longText) == 0) {
      ShowError("SETUP.INI : %s エラー", key);
      return 0;
    }
  }

  // Shortcuts.
  int32_t shortcuts = 0;
  if (!ReadSetupInteger("Shortcuts", &shortcuts)) return 0;
  if (shortcuts > kMaxShortcuts) {
    ShowSetupError("SETUP.INI : Shortcuts オーバー");
    return 0;
  }
  for (int k = 0; k < shortcuts; ++k) {
    FormatText(key, sizeof key, "Shortcut%i", k);
    if (!ReadSetupValue(key, s.text, sizeof s.text)) return 0;
    if (!TakeShortcutFields(s.text, s.fields)) {
      ShowError("SETUP.INI : %s エラー", key);
      return 0;
    }
  }

  // From here on every key is optional, and none is reported as missing
  // except InstallAddFiles.
  SetQuietFlag(1);
  ReadTextOr("GameClass", description.gameClass, sizeof description.gameClass, description.gameTitle);
  ReadIntegerOr("DefaultSelect", 0);
  for (int k = 0; k < selections; ++k) {
    FormatText(key, sizeof key, "InstallSize%i", k);
    ReadSize(key);
  }
  for (int i = 0; i < kDiscCheckFileCount; ++i) {
    FormatText(key, sizeof key, "DiskCheckFile%i", i);
    ReadSetupValue(key, game.discCheckFiles[i], sizeof game.discCheckFiles[i]);
  }

  // ExecApp: optional, but when present it names two items.
  if (ReadSetupValue("ExecApp", s.text, sizeof s.text)) {
    const char* cursor = s.text;
    if (!NextListItem(&cursor, s.fields[0]) || !NextListItem(&cursor, s.fields[1])) {
      ShowError("SETUP.INI : %s エラー", "ExecApp");
      return 0;
    }
  }

  ReadTextOr("SelectSetupMessage", s.longText, sizeof s.longText, "インストール方法を選択して下さい");
  ReadTextOr("SaveDataFolderNameInInstall", s.text, sizeof s.text, "savedata");
  ReadTextOr("SaveDataFolderName", s.text, sizeof s.text, description.gameDir);
  ReadTextOr("StrKeyInstPath", s.text, sizeof s.text, "InstPath");
  ReadTextOr("ShortcutFolder", s.text, sizeof s.text, "");

  // Files added after the installation: their list is required, and its
  // absence is reported, once InstallAfterAdd is on.
  if (ReadIntegerOr("InstallAfterAdd", 0) != 0) {
    SetQuietFlag(0);
    if (!ReadSetupValue("InstallAddFiles", s.longText, sizeof s.longText)) return 0;
    if (TakeFileList(s.longText) == 0) {
      ShowSetupError("SETUP.INI : InstallAddFiles エラー");
      return 0;
    }
    SetQuietFlag(1);
    ReadSize("InstallAddSize");
  }

  ReadTextOr("UninstTitle", s.text, sizeof s.text, description.gameTitle);
  ReadIntegerOr("InstPathMode", 0);
  ReadTextOr("GameExe64", s.text, sizeof s.text, "");
  return 1;
}
