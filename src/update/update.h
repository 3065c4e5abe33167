// The update engine: the update file list applied from the archive, then the
// disc copy list, run by the wizard's second Next.
//
// Both lists live in section UPDATE of the temporary UPDATE.INI and are read
// afresh on every run. Reading a list and deciding what an entry would do
// touch nothing (they read the profile and look at attributes only), so a
// dry run can use the same functions as the real run; only the Apply
// functions and PerformUpdate write files, show boxes or end the dialog.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "settings/settings.h"
#include "ui/wizard.h"

// Runs the whole update for the wizard `dialog`. Returns with the dialog open
// after a free-space refusal (Back and Abort enabled) or after success (Next
// relabelled and focused); on any failure it has shown its message and ended
// the dialog with -1.
void PerformUpdate(WindowHandle dialog, const UpdateContext& context);

// The engine's failure texts, in the window-caption box.
extern const char kVersionErrorText[]; // a failed "e" check without ExistErrorMessage
extern const char kWriteFailedText[];  // an update entry that could not be written
extern const char kNoEntriesText[];    // neither list holds a line that applies
extern const char kCopyFailedFormat[]; // %s: the copy line's relative path

// ---- Free-space pre-check ---------------------------------------------------------
// RequiredDiskSpace of section UPDATE, its 32 bits taken as unsigned; 0 when
// absent, empty or not a number (no check).
uint32_t RequiredDiskSpace();
// Whether the drive of `installPath` (its first two bytes) lacks `required`
// bytes. 1 with the missing count in *shortfall and the drive text ("X:") in
// `drive`; 0 when there is room, nothing is required, or the system cannot
// tell the free space (then the update goes ahead).
int DiskSpaceShortfall(const char* installPath, uint32_t required, uint64_t* shortfall, char drive[3]);
// OverwriteOnly of section UPDATE: 1 when update lines only replace files
// that already exist.
int OverwriteOnlyRule();

// ---- Update file list ----------------------------------------------------------------
constexpr int kUpdateListCapacity = 16;         // UpdateFile00 .. UpdateFile15
constexpr uint32_t kUpdateValueCapacity = 1024; // one UpdateFileXX value

// Operation codes. Only the first four are ever stored in an UpdateEntry.
constexpr int32_t kOperationPlain = 0;     // any other text: write the member
constexpr int32_t kOperationUpdate = 1;    // "u": write unless the existing file is newer
constexpr int32_t kOperationData = 2;      // "d": below the data path; keep a readable file
constexpr int32_t kOperationOverwrite = 3; // "o": write only over an existing file
constexpr int32_t kOperationCheck = 4;     // "e": the file must exist with the normal attribute alone

// One update line taken apart.
struct UpdateLine {
  int32_t hasMode;          // the first field is a single decimal digit
  int32_t mode;             // its value when hasMode
  int32_t operation;        // kOperation*
  char path[kItemCapacity]; // relative path (empty when the field is missing)
};

// One accepted line of the update list.
struct UpdateEntry {
  int32_t operation;                 // kOperationPlain .. kOperationOverwrite
  char relativePath[kPathCapacity];  // below the base folder and the data folder
  int32_t baseNameOffset;            // first byte after the last backslash; 0 if none
};

struct UpdateList {
  UpdateEntry entries[kUpdateListCapacity];
  int32_t count;
};

// Splits an update value into mode, operation and path (up to three list
// items; further items are ignored).
void ParseUpdateLine(const char* value, UpdateLine* line);
// The entry a line of any operation but "e" keeps.
void EntryOfLine(const UpdateLine& line, UpdateEntry* entry);
// Whether the line applies with the game's install mode.
int UpdateLineSelected(const UpdateLine& line, int32_t installMode);
// Index just past the last single-byte backslash of `path` (the second byte
// of a double-byte character never counts); 0 when it has none.
int32_t BaseNameOffset(const char* path);
// Members are addressed by bare file name: the base name of the relative path.
inline const char* MemberNameOf(const UpdateEntry& entry) { return entry.relativePath + entry.baseNameOffset; }
// The "e" check: <install path>\<path> exists with the normal attribute alone.
// A path that cannot be formed (empty install path, too long) fails.
int ExistenceCheckPasses(const char* installPath, const char* path);

// Reads UpdateFile00.. in order until the first absent or empty key, running
// the "e" checks on the way (whatever their mode field says) and keeping the
// selected entries of the other operations. Returns 0 at the first failed
// "e" check, whose path is then copied to `failedCheck` (when given); shows
// nothing either way.
int ReadUpdateList(const UpdateContext& context, UpdateList* list, char failedCheck[kPathCapacity]);

// The folder an entry is written below: the data path for "d", else the
// install path, joined with DataFolder. 0 when the base folder is empty (the
// path would fall on whatever drive is current) or the result does not fit.
int UpdateFolder(const UpdateEntry& entry, const UpdateContext& context, char folder[kPathBuffer]);
// `folder` joined with the entry's relative path. 0 when it does not fit.
int UpdateDestination(const char* folder, const UpdateEntry& entry, char destination[kPathBuffer]);

enum class UpdateAction {
  Skip,    // the overwrite-only rule finds no file to overwrite
  Keep,    // "d" over an existing file: rewritten with its own content
           // (the member is extracted instead when the file cannot be read)
  Extract, // ExtractMember, newer-only for "u"
};
// What applying `entry` at `destination` does, judged by the file system as it
// is now.
UpdateAction DecideUpdateAction(const UpdateEntry& entry, int overwriteOnly, const char* destination);

// Writes every entry, all or nothing: each file is staged beside its
// destination first, and only when all are staged are the destinations
// swapped (stage.cpp). On a failure it has put every game file back, shown
// "ファイルの書き込みに失敗しました" (after any message of its own), ended
// the dialog with -1 and returns 0. The lists have passed FindListRefusal.
int ApplyUpdateList(WindowHandle dialog, const UpdateContext& context, const UpdateList& list, int overwriteOnly);

// ---- Staging, swapping and the journal (stage.cpp, journal.cpp) -----------------------
// Why the update list could not be written: the file and the reason. An
// empty path means a message was shown already (a member missing or
// damaged, no room for it) and the plain write-failure text follows.
struct WriteFailure {
  char path[kPathBuffer];
  uint32_t reason;  // the system's error code, or kReasonFolder / kReasonHidden
};
constexpr uint32_t kReasonFolder = 0xF0000001u;  // a folder stands at the destination
constexpr uint32_t kReasonHidden = 0xF0000002u;  // a hidden or system file is there
constexpr uint32_t kReasonTooLong = 0xF0000003u; // the destination's path does not fit
constexpr uint32_t kReasonLink = 0xF0000004u;    // a link lies on the way to it, or at it
// "ファイルの書き込みに失敗しました", then the file and the reason in Japanese.
void FormatWriteFailure(const WriteFailure& failure, char* text, size_t capacity);
struct StagedFile {
  const char* base;           // the game folder the destination lies below
  char destination[kPathBuffer];
  char staged[kPathBuffer];   // the new file, beside the destination
  char backup[kPathBuffer];   // where the old file waits during the swap
  int32_t hadOriginal;        // the destination held a file before
  uint32_t attributes;        // that file's attributes (0 when none)
  int32_t movedAside;         // the old file is at the backup path now
  int32_t swapped;            // the new file is at the destination now
  FileTime time;              // the member's time, set again after the rename
  int32_t hasTime;
};
struct StagedUpdate {
  StagedFile files[kUpdateListCapacity];
  int32_t count;
};
// Files the newer-only rule left alone that lose their read-only attribute
// once the update has gone through.
struct ReadOnlyList {
  char paths[kUpdateListCapacity][kPathBuffer];
  int32_t count;
};
enum class JournalState { Staging, Swapping, Committed };

// Writes the staged file of every entry that writes one (after each line's
// decisions). 1 when all are staged; 0 after a failure, every staged file
// deleted and no game file touched (a message may have been shown).
int StageUpdateList(const UpdateContext& context, const UpdateList& list, int overwriteOnly, const char* journal,
                    StagedUpdate* update, ReadOnlyList* keptReadOnly, WriteFailure* failure);
// "<folder of path>\~fa2<run><kind><index><suffix>": a name of this run
// beside the destination, so each rename stays on one volume. <run> is
// eight hexadecimal digits drawn at random once per run (no other program
// can make the name beforehand). Kind 's' is an update line's, 'c' a copy
// line's. 0 when it does not fit.
int StagingNameBeside(const char* path, char kind, int index, const char* suffix, char out[kPathBuffer]);
// Replaces each destination by its staged file, the old one kept at its
// backup path; deletes the backups when all are in place. 0 when a swap
// failed: every destination replaced so far has its old file back, and the
// journal is gone unless an old file could not be put back.
int SwapStagedFiles(StagedUpdate& update, const char* journal, WriteFailure* failure);

// "<install path>\~fa2update.jnl". 0 when the path does not fit.
int JournalPath(const char* installPath, char path[kPathBuffer]);
// `folder`, when given, is a staging folder of this run: a recovery deletes
// it with everything in it.
int WriteJournal(const char* journal, JournalState state, const StagedUpdate& update, const char* folder = nullptr);
void RemoveJournal(const char* journal);
// Puts the game back to one whole version after a run that was killed while
// updating: rolls an interrupted swap back, deletes staged files and
// backups, then the journal. 1 when a journal was found and handled.
// Only what this updater would have made is touched: a destination one of
// its confined lines names in the install or data folder, reached without a
// link, and a staged or backup name of its own beside it; a staging folder
// of its own directly in the install folder. Anything else in the journal
// is left alone, the journal kept, and kJournalIgnoredText shown.
int RecoverInterruptedUpdate(const UpdateContext& context);
extern const char kJournalIgnoredText[];
// Whether `name` is one of this updater's staging names (StagingNameBeside)
// in the folder of `destination`; with `suffix` null, a staging folder.
int IsOwnStagingName(const char* destination, const char* name, const char* suffix);

// ---- Links (links.cpp) ------------------------------------------------------------------
// 1 when `path`, a path below the folder `base`, is reached from it without
// a link: neither `base` nor a folder on the way to the path's own entry is
// a junction, symbolic link or mount point. 0 also when `path` does not
// start with `base`.
int PlainBelow(const char* base, const char* path);
// 1 when the entry at `path` itself is a junction, symbolic link or mount point.
int IsLinkAt(const char* path);
// 1 when `path` is the system's Windows folder or lies in it.
int InWindowsFolder(const char* path);

// ---- Disc copy list -------------------------------------------------------------------
constexpr int kCopyListCapacity = 16;        // CopyFile00 .. CopyFile15
constexpr uint32_t kCopyValueCapacity = 260; // one CopyFileXX value

// One copy line taken apart: [M,][N:]path, prefixes at fixed byte positions.
struct CopyLine {
  int32_t hasMode;          // the second byte is a comma
  int32_t mode;             // the mode digit's value; -1 when not a digit (never matches)
  int32_t discNumber;       // 0 without a disc prefix
  char path[kPathCapacity]; // the rest, verbatim
};

// One accepted line of the copy list.
struct CopyEntry {
  int32_t discNumber;                // 1 to 9: the disc to find; 0: the drive found last;
                                     // -1: a disc prefix that is not a digit (refused)
  char relativePath[kPathCapacity];  // file or folder below the disc's root
};

struct CopyList {
  CopyEntry entries[kCopyListCapacity];
  int32_t count;
};

// 1 when the value is well formed; 0 when its disc prefix byte is not a digit
// (discNumber is then -1: the line names no disc that could be checked, and
// once selected it refuses the update like a copy that cannot be made).
int ParseCopyLine(const char* value, CopyLine* line);
int CopyLineSelected(const CopyLine& line, int32_t installMode);
// Reads CopyFile00.. in order until the first absent or empty key; lines of
// another mode are dropped and do not end the list.
void ReadCopyList(const UpdateContext& context, CopyList* list);
// 1 when the last component of `path` is "." or "..": a copy line that names
// its folder so has no name of its own to land under, and is refused.
int EndsInDots(const char* path);
// Shows the copy-failure box for `entry` and ends the dialog with -1; 0.
int RefuseCopyLine(WindowHandle dialog, const CopyEntry& entry);

// One pass over the drives A: to Z: for a CD-ROM drive that holds the check
// file of `disc` (an empty check file: any readable root). 1 with the first
// such drive in `drive`, else 0 and `drive` unchanged.
int FindDiscDrive(const InstalledGame& game, int32_t disc, char drive[3]);

// What one copy sends to the shell.
struct CopyPlan {
  char source[kPathBuffer];      // <drive>\<relative path>, two NULs
  char destination[kPathBuffer]; // install path\<relative path> for a file, the install path otherwise
  uint16_t flags;                // 0x0210 for a file, 0x0610 for a folder or a missing source
};
// 0 when there is no drive yet, the install path is empty, or a path does
// not fit.
int PlanCopy(const CopyEntry& entry, const char* drive, const char* installPath, CopyPlan* plan);

// Copies every entry in order, asking for discs as needed. On a refusal,
// failure or cancel it has ended the dialog with -1 and returns 0.
int ApplyCopyList(WindowHandle dialog, const UpdateContext& context, const CopyList& list);

// ---- Refusal before anything is written --------------------------------------------
// 1 when `path`, joined below a folder, names something inside that folder
// as Windows resolves it: relative, no drive, UNC or device path, no colon,
// no device name, ".." never climbing above the start and not leading back
// to it (confine.cpp). The empty path passes.
int PathStaysInside(const char* path);
// Which rule a path breaks first, read from the left (Inside when none).
enum class Confinement {
  Inside,
  Rooted,        // "\x.dat" or "/x.dat"
  Server,        // "\\server\share\x.dat"
  DevicePath,    // "\\.\" or "\\?\"
  Drive,         // a colon after the first character ("D:x.dat")
  Stream,        // a colon anywhere else ("x.dat:s")
  Climbs,        // ".." above the start ("sub\..\..\x.dat")
  DotsAndBlanks, // a component of only dots and blanks other than "." and ".." ("...")
  Device,        // a device name (CON, NUL, COM1, "nul.txt", ...)
  CutCharacter,  // ends in the lead byte of a double-byte character
  FoldsToStart,  // nothing left after "." and ".." ("MOVIE\..", ".")
};
Confinement ConfinePath(const char* path);

enum class ListFault {
  None,
  NoFolder,       // an update line's base folder is empty ("d" without DataPath)
  TooLong,        // an update line's destination does not fit a path
  Outside,        // an update line (or DataFolder) leads outside its folder
  CopyNoDisc,     // a copy line's disc prefix is not a digit
  CopyOutside,    // a copy line leads outside the disc or the install folder
  Link,           // an update line's destination lies through a link
  CopyLink,       // a copy line's destination lies through a link
};
struct ListRefusal {
  ListFault fault;
  int index;  // of the entry in its list (the update list for the first
              // three faults, the copy list for the others)
};
// The first accepted line of either list that the updater refuses outright,
// update lines first. A refused line stops the whole update before its
// first file is written: the write-failure box for an update line, the
// copy-failure box (with the line's path) for a copy line.
ListRefusal FindListRefusal(const UpdateContext& context, const UpdateList& updates, const CopyList& copies);
// The text an update line's refusal shows: the write-failure text, with the
// line's path and the reason when its destination is too long.
void FormatLineRefusal(const ListRefusal& refusal, const UpdateList& updates, char* text, size_t capacity);
