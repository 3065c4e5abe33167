// One run of the update, in its order: the free-space pre-check, the start
// of the page, both lists read, the update list applied, the disc copies,
// and the completion of the page.
#include "update/update.h"

const char kVersionErrorText[] = "アップデートエラー：アップデート対象のバージョンが違います";
const char kWriteFailedText[] = "ファイルの書き込みに失敗しました";
const char kNoEntriesText[] = "No 'UpdateFileXX' and 'CopyFileXX'";
const char kCopyFailedFormat[] = "SETUP.INI : \"%s\" のコピーに失敗しました";

namespace {

constexpr const char* kSection = "UPDATE";

// A value of section UPDATE as a number; 0 when absent or empty.
int32_t ReadUpdateNumber(const char* key) {
  char text[kPathCapacity];
  if (!ReadDescriptionValue(kSection, key, text, sizeof text)) return 0;
  return LeadingInteger(text);
}

void Refuse(WindowHandle dialog, const char* text) {
  ShowCaptionError(text);
  EndModalDialog(dialog, -1);
}

}  // namespace

uint32_t RequiredDiskSpace() {
  // A negative figure stands for 2 GiB or more.
  return uint32_t(ReadUpdateNumber("RequiredDiskSpace"));
}

int OverwriteOnlyRule() { return ReadUpdateNumber("OverwriteOnly") != 0; }

int DiskSpaceShortfall(const char* installPath, uint32_t required, uint64_t* shortfall, char drive[3]) {
  drive[0] = installPath[0];
  drive[1] = installPath[0] ? installPath[1] : '\0';
  drive[2] = 0;
  if (required == 0) return 0;
  uint64_t available = 0;
  if (!FreeBytesAvailable(drive, &available)) return 0;  // unknown: go ahead
  if (uint64_t(required) <= available) return 0;
  *shortfall = uint64_t(required) - available;
  return 1;
}

void PerformUpdate(WindowHandle dialog, const UpdateContext& context) {
  const UpdateDescription& description = *context.description;
  const InstalledGame& game = *context.game;

  uint64_t shortfall = 0;
  char drive[3];
  if (DiskSpaceShortfall(game.installPath, RequiredDiskSpace(), &shortfall, drive)) {
    char text[kTextCapacity];
    FormatText(text, sizeof text, "ディスク容量が足りません。\r%s ドライブに %llu バイトの空き容量が必要です", drive,
               (unsigned long long)shortfall);
    ShowInfoTextVerbatim(dialog, text);
    SetButtonStates(dialog, 1);
    return;
  }

  ShowInfoText(dialog, "%sを実行しています", description.modeText);
  SetButtonStates(dialog, 0);
  SetSystemCursor(kCursorWait);

  const int overwriteOnly = OverwriteOnlyRule();

  UpdateList updates;
  char failedCheck[kPathCapacity];
  if (!ReadUpdateList(context, &updates, failedCheck)) {
    Refuse(dialog, description.existErrorMessage[0] ? description.existErrorMessage
                                                    : kVersionErrorText);
    return;
  }
  CopyList copies;
  ReadCopyList(context, &copies);
  if (updates.count == 0 && copies.count == 0) {
    Refuse(dialog, kNoEntriesText);
    return;
  }
  // Every line's destination is known before anything is written: a line
  // that has nowhere to go, or would reach outside its folder, refuses the
  // whole update now rather than half-way through.
  const ListRefusal refusal = FindListRefusal(context, updates, copies);
  switch (refusal.fault) {
    case ListFault::None: break;
    case ListFault::NoFolder:
    case ListFault::TooLong:
    case ListFault::Outside:
    case ListFault::Link: {
      char text[kTextCapacity];
      FormatLineRefusal(refusal, updates, text, sizeof text);
      Refuse(dialog, text);
      return;
    }
    case ListFault::CopyNoDisc:
    case ListFault::CopyOutside:
    case ListFault::CopyLink: RefuseCopyLine(dialog, copies.entries[refusal.index]); return;
  }

  if (!ApplyUpdateList(dialog, context, updates, overwriteOnly)) return;
  if (!ApplyCopyList(dialog, context, copies)) return;

  ShowInfoText(dialog, "%sは完了しました", description.modeText);
  SetControlText(dialog, kNextButton, "完了");
  WindowHandle next = DialogControl(dialog, kNextButton);
  EnableControl(next, 1);
  FocusControl(next);
  SetSystemCursor(kCursorArrow);
}
