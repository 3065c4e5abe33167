// What the player sees, as the updater shows it (code page 932 bytes): the
// texts of the failures that the dry run predicts. This file's source is
// compiled with the updater's execution character set.
#pragma once

namespace plan::messages {

extern const char kVersionError[];  // a failed "e" check without ExistErrorMessage
extern const char kWriteFailed[];   // an update entry that cannot be written
extern const char kMemberMissing[]; // a member the archive does not have
extern const char kMemberShortage[]; // the start of the text for a member larger than the free space
extern const char kNoSetupIni[];    // the install folder has no SETUP.INI
extern const char kNoEntries[];     // neither list has a line that applies
extern const char kCopyFailed[];    // a format: the copy's relative path

}  // namespace plan::messages
