// Where the installed game's SETUP.INI is, and how a path of the system
// that the updater cannot use is refused. (Also what `fa2 plan` runs for its
// start-up line.)
#include "app/app.h"

const char kNoSetupIniText[] = "インストール先に \"SETUP.INI\" ファイルが見つかりません";

const char kInstallFolderName[] = "インストール先";
const char kDataFolderName[] = "データの保存先";
const char kTemporaryFolderName[] = "一時フォルダー";

void ShowPathRefusal(const char* what, uint32_t error) {
  char text[kTextCapacity];
  if (error == kErrorNoMapping)
    FormatText(text, sizeof text, "%sのパスに、このアップデータでは扱えない文字が含まれています", what);
  else
    FormatText(text, sizeof text, "%sのパスが長すぎます（%u バイトまで）", what, kPathCapacity - 1);
  ShowCaptionError(text);
}

int FindInstalledSettings(UpdaterRecords& r) {
  CopyText(r.settingsPath, kPathCapacity, r.game.installPath);
  if (!JoinPath(r.settingsPath, sizeof r.settingsPath, "SETUP.INI")) {
    r.settingsPath[0] = 0;
    return 0;
  }
  return ReadAttributes(r.settingsPath) != kAttrMissing;
}
