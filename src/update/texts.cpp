// The engine's texts: every refusal and failure the player may be shown,
// formatted here and shown by the wizard.
#include "update/update.h"

const char kVersionErrorText[] = "アップデートエラー：アップデート対象のバージョンが違います";
const char kWriteFailedText[] = "ファイルの書き込みに失敗しました";
const char kNoEntriesText[] = "No 'UpdateFileXX' and 'CopyFileXX'";
const char kCopyFailedFormat[] = "SETUP.INI : \"%s\" のコピーに失敗しました";
const char kNotBaseFormat[] =
    "「%s」は、このアップデートの対象となるバージョンのファイルではないため、アップデートできません"
    "（ファイルが無いか、変更されているか、別のバージョンのものです）";

void AddNotice(Notices* notices, const char* text) {
  if (notices->count < 2) CopyText(notices->texts[notices->count++], kTextCapacity, text);
}

void FormatWriteFailure(const WriteFailure& failure, char* text, size_t capacity) {
  if (failure.path[0] == 0) {
    CopyText(text, capacity, kWriteFailedText);
    return;
  }
  char reason[128];
  switch (failure.reason) {
    case 0: // a write that came back short: the disk filled up
    case 39:
    case kErrorDiskFull: CopyText(reason, sizeof reason, "ディスクの空き容量が足りません"); break;
    case kErrorSharingViolation:
    case 33: CopyText(reason, sizeof reason, "ほかのプログラムが使用中です"); break;
    case kErrorAccessDenied: CopyText(reason, sizeof reason, "書き込みが許可されていません"); break;
    case 2:
    case 3: CopyText(reason, sizeof reason, "フォルダーが見つかりません"); break;
    case kReasonFolder: CopyText(reason, sizeof reason, "同じ名前のフォルダーがあります"); break;
    case kReasonHidden: CopyText(reason, sizeof reason, "隠しファイルかシステムファイルです"); break;
    case kReasonLink:
      CopyText(reason, sizeof reason, "リンク（ジャンクションやシンボリックリンク）を通しては書き込みません");
      break;
    case kReasonTooLong:
      FormatText(reason, sizeof reason, "パスが長すぎます。%u バイトまでです", kPathCapacity - 1);
      break;
    default: FormatText(reason, sizeof reason, "システムエラー %u", failure.reason); break;
  }
  FormatText(text, capacity, "%s\r\n%s\r\n（%s）", kWriteFailedText, failure.path, reason);
}

void FormatLineRefusal(const ListRefusal& refusal, const UpdateList& updates, char* text, size_t capacity) {
  if (refusal.fault != ListFault::TooLong && refusal.fault != ListFault::Link) {
    CopyText(text, capacity, kWriteFailedText);
    return;
  }
  WriteFailure failure{};
  CopyText(failure.path, sizeof failure.path, updates.entries[refusal.index].relativePath);
  failure.reason = refusal.fault == ListFault::Link ? kReasonLink : kReasonTooLong;
  FormatWriteFailure(failure, text, capacity);
}

void FailureNotices(LineFault fault, const char* destination, const char* drive, uint64_t shortfall, Notices* notices) {
  char text[kTextCapacity];
  WriteFailure failure{};
  CopyText(failure.path, sizeof failure.path, destination);
  switch (fault) {
    case LineFault::NotBase:
      FormatText(text, sizeof text, kNotBaseFormat, destination);
      AddNotice(notices, text);
      return;
    case LineFault::MemberMissing:
      AddNotice(notices, kMemberMissingText);
      failure.path[0] = 0;
      break;
    case LineFault::NoRoom:
      FormatText(text, sizeof text, kShortageFormat, drive, (unsigned long long)shortfall);
      AddNotice(notices, text);
      failure.path[0] = 0;
      break;
    case LineFault::FolderInWay: failure.reason = kReasonFolder; break;
    case LineFault::Hidden: failure.reason = kReasonHidden; break;
    default: failure.reason = 3; break; // the folder it goes in is not there
  }
  FormatWriteFailure(failure, text, sizeof text);
  AddNotice(notices, text);
}
