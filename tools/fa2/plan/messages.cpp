// The updater's texts for the dry run (see messages.h).
#include "fa2/plan/messages.h"

namespace plan::messages {

const char kVersionError[] = "アップデートエラー：アップデート対象のバージョンが違います";
const char kWriteFailed[] = "ファイルの書き込みに失敗しました";
const char kMemberMissing[] = "Can't Find File in Resource !!";
const char kMemberShortage[] = "ディスク容量が足りません。";
const char kNoSetupIni[] = "インストール先に \"SETUP.INI\" ファイルが見つかりません";
const char kNoEntries[] = "No 'UpdateFileXX' and 'CopyFileXX'";
const char kCopyFailed[] = "SETUP.INI : \"%s\" のコピーに失敗しました";

}  // namespace plan::messages
