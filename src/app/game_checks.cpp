// Finding the installed game and the checks made before the wizard opens:
// the registry key, the update message, a second updater, the running game.
#include <cstring>

#include "app/app.h"
#include "update/update.h"

namespace {

void ShowNotInstalled(const UpdaterRecords& r) {
  char text[kTextCapacity];
  FormatText(text, sizeof text, "「%s」がインストールされていません", r.description.gameTitle);
  ShowCaptionError(text);
}

// A string value read as raw bytes; a value that fills the field exactly
// still ends with a terminator. 1 read, 0 absent, -1 present but unusable as
// a path (too long, or a character Shift-JIS cannot hold): the player is
// told which, naming `what`, and nothing further happens.
int QueryText(RegistryKey key, const char* name, char* field, const char* what) {
  char raw[kPathCapacity + 1] = {};
  uint32_t size = kPathCapacity;
  if (QueryKeyValue(key, name, raw, &size)) {
    CopyText(field, kPathCapacity, raw);
    // The registry key is the player's own to write; the system's folder
    // is no game's, and the updater writes nothing there.
    if (!InWindowsFolder(field)) return 1;
    char text[kTextCapacity];
    FormatText(text, sizeof text, "%sが Windows のフォルダーの中にあるため、アップデートできません", what);
    ShowCaptionError(text);
    return -1;
  }
  const uint32_t error = LastSystemError();
  if (error != kErrorMoreData && error != kErrorNoMapping) return 0;
  ShowPathRefusal(what, error);
  return -1;
}

// While the game's window exists, asks to close it. 0 when the user cancels.
int WaitForGameToClose(const UpdaterRecords& r, const char* title) {
  for (;;) {
    WindowHandle game = FindTopWindow(r.description.gameClass, title);
    if (game == nullptr) return 1;
    char text[kTextCapacity];
    FormatText(text, sizeof text,
               "「%s」が実行中です。アップデートを続行する場合はゲームを終了してから [OK] を、"
               "アップデートを中止する場合は [キャンセル] を押して下さい",
               title);
    if (MessageBoxText(nullptr, text, r.caption, kBoxOkCancel) != kAnswerOk) {
      ShowTopWindow(game, 5);
      BringToFront(game);
      return 0;
    }
  }
}

} // namespace

int LocateInstalledGame(UpdaterRecords& r) {
  char path[kTextCapacity];
  FormatText(path, sizeof path, "Software\\%s\\%s", r.description.companyName, r.description.gameDir);
  RegistryKey key;
  if (!OpenUserKey(path, &key)) {
    ShowNotInstalled(r);
    return 0;
  }
  int installed = QueryText(key, "InstPath", r.game.installPath, kInstallFolderName);
  if (installed == 1) {
    const int data = QueryText(key, "DataPath", r.game.dataPath, kDataFolderName);
    if (data == 0) r.game.dataPath[0] = 0;
    uint32_t mode = 0, size = sizeof mode;
    installed = data < 0 ? -1 : QueryKeyValue(key, "InstMode", &mode, &size);
    r.game.installMode = int32_t(mode);
  }
  CloseUserKey(key);
  if (installed == 0) ShowNotInstalled(r);
  return installed == 1;
}

void ExpandLineBreaks(const char* text, char* out, size_t capacity) {
  size_t n = 0;
  for (const char* p = text; *p && n + 1 < capacity;) {
    const char* next = NextCharacter(p);
    if (next - p == 1 && p[0] == '\\' && p[1] == 'n') {
      out[n++] = '\r';
      p += 2;
      continue;
    }
    if (n + size_t(next - p) >= capacity) break; // never split a character
    while (p < next) out[n++] = *p++;
  }
  out[n] = 0;
}

void ShowUpdateMessage(const UpdaterRecords& r) {
  if (!r.description.updateMessage[0]) return;
  char text[kTextCapacity];
  ExpandLineBreaks(r.description.updateMessage, text, sizeof text);
  ShowCaptionError(text);
}

int CheckNotAlreadyRunning(const UpdaterRecords& r) {
  if (WindowHandle other = FindTopWindow(nullptr, r.caption)) {
    ShowTopWindow(other, 5);
    BringToFront(other);
    return 0;
  }
  if (!WaitForGameToClose(r, r.description.gameTitle)) return 0;
  if (r.description.gameTitleA[0] && !WaitForGameToClose(r, r.description.gameTitleA)) return 0;
  return 1;
}
