// The update engine: the update file list applied from the archive, then the
// disc copy list, run by the wizard's second Next.
//
// Both lists live in section UPDATE of the temporary UPDATE.INI and are read
// afresh on every run. The engine works in two steps. PlanUpdate reads the
// description and looks at the installed game through the platform's read
// operations only, and decides every line: what it writes, keeps, skips or
// refuses, and the texts a refusal shows, in the order the player would see
// them. ExecutePlan then stages, swaps, journals and copies what the plan
// says and returns the texts to show. The engine shows nothing itself: the
// wizard shows the texts (ui/), and `fa2 plan` prints the same plan made by
// the same function against a game on disk. Formats: docs/formats.md.
#pragma once

#include <cstdint>

#include "archive/archive.h"
#include "platform/platform.h"
#include "settings/settings.h"

// What the engine needs for one run, owned by the main sequence.
struct UpdateContext {
  const ArchiveImage* archive;
  const UpdateDescription* description;
  const InstalledGame* game;
};

// The engine's failure texts, in the window-caption box.
extern const char kVersionErrorText[]; // a failed "e" check without ExistErrorMessage
extern const char kWriteFailedText[];  // an update entry that could not be written
extern const char kNoEntriesText[];    // neither list holds a line that applies
extern const char kCopyFailedFormat[]; // %s: the copy line's relative path
extern const char kNotBaseFormat[];    // %s: an installed file that is not its delta's base (FailureNotices shows it)

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
constexpr int32_t kOperationCount = 5;

// What each kind of update line does: one row per operation code, the one
// place where the letters and their rules are written.
struct LineKind {
  const char* letter;    // the operation field, any letter case ("" for a plain line)
  const char* name;      // how tools name it
  uint8_t dataFolder;    // written below the data path, else the install path
  uint8_t newerOnly;     // an installed file with a later time is left alone
  uint8_t keepsData;     // an existing file keeps its own bytes
  uint8_t overwriteOnly; // written only over an existing file
  uint8_t check;         // no entry: the file must exist with the normal attribute alone
};
extern const LineKind kLineKinds[kOperationCount];
inline const LineKind& KindOf(int32_t operation) { return kLineKinds[operation]; }

// One update line taken apart.
struct UpdateLine {
  int32_t hasMode;          // the first field is a single decimal digit
  int32_t mode;             // its value when hasMode
  int32_t operation;        // kOperation*
  char path[kItemCapacity]; // relative path (empty when the field is missing)
};

// One accepted line of the update list.
struct UpdateEntry {
  int32_t operation;                // kOperationPlain .. kOperationOverwrite
  char relativePath[kPathCapacity]; // below the base folder and the data folder
  int32_t baseNameOffset;           // first byte after the last backslash; 0 if none
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

// The game folder an entry is written below: the data path for a kind
// that goes there, else the install path.
const char* BaseFolder(const UpdateEntry& entry, const UpdateContext& context);
// The folder an entry is written below: the data path for "d", else the
// install path, joined with DataFolder. 0 when the base folder is empty (the
// path would fall on whatever drive is current) or the result does not fit.
int UpdateFolder(const UpdateEntry& entry, const UpdateContext& context, char folder[kPathBuffer]);
// `folder` joined with the entry's relative path. 0 when it does not fit.
int UpdateDestination(const char* folder, const UpdateEntry& entry, char destination[kPathBuffer]);

// ---- Staging, swapping and the journal (stage.cpp, journal.cpp) -----------------------
// Why the update list could not be written: the file and the reason. An
// empty path means the notices say why already (a member missing or
// damaged, no room for it), and the plain write-failure text follows.
struct WriteFailure {
  char path[kPathBuffer];
  uint32_t reason; // the system's error code, or kReasonFolder / kReasonHidden
};
constexpr uint32_t kReasonFolder = 0xF0000001u;  // a folder stands at the destination
constexpr uint32_t kReasonHidden = 0xF0000002u;  // a hidden or system file is there
constexpr uint32_t kReasonTooLong = 0xF0000003u; // the destination's path does not fit
constexpr uint32_t kReasonLink = 0xF0000004u;    // a link lies on the way to it, or at it
// "ファイルの書き込みに失敗しました", then the file and the reason in Japanese.
void FormatWriteFailure(const WriteFailure& failure, char* text, size_t capacity);
struct StagedFile {
  const char* base; // the game folder the destination lies below
  char destination[kPathBuffer];
  char staged[kPathBuffer]; // the new file, beside the destination
  char backup[kPathBuffer]; // where the old file waits during the swap
  int32_t hadOriginal;      // the destination held a file before
  uint32_t attributes;      // that file's attributes (0 when none)
  int32_t movedAside;       // the old file is at the backup path now
  int32_t swapped;          // the new file is at the destination now
  FileTime time;            // the member's time, set again after the rename
  int32_t hasTime;
  uint32_t size; // the staged file's size
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

// Writes the staged file of every line the plan writes, each judged again
// right before (the disk may have changed since the plan, if only by what
// the run staged). 1 when all are staged; 0 after a failure, every staged
// file deleted, no game file touched, and `notices` holding what to show.
struct UpdatePlan;
struct Notices;
int StageUpdateList(const UpdateContext& context, const UpdatePlan& plan, const char* journal, StagedUpdate* update,
                    ReadOnlyList* keptReadOnly, Notices* notices);
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
// backups, then the journal. 1 when a journal was found and handled, 2
// when it was and some of it was left alone (kJournalIgnoredText tells the
// player), 0 when there was none or it could not be handled.
// Only what this updater would have made is touched: a destination one of
// its confined lines names in the install or data folder, reached without a
// link, and a staged or backup name of its own beside it; a staging folder
// of its own directly in the install folder. Anything else in the journal
// is left alone and the journal kept.
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
  int32_t discNumber;               // 1 to 9: the disc to find; 0: the drive found last;
                                    // -1: a disc prefix that is not a digit (refused)
  char relativePath[kPathCapacity]; // file or folder below the disc's root
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
// 1 when the last component of `path` is "." or "..": a copy line that names
// its folder so has no name of its own to land under, and is refused.
int EndsInDots(const char* path);
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
  NoFolder,    // an update line's base folder is empty ("d" without DataPath)
  TooLong,     // an update line's destination does not fit a path
  Outside,     // an update line (or DataFolder) leads outside its folder
  CopyNoDisc,  // a copy line's disc prefix is not a digit
  CopyOutside, // a copy line leads outside the disc or the install folder
  Link,        // an update line's destination lies through a link
  CopyLink,    // a copy line's destination lies through a link
};
struct ListRefusal {
  ListFault fault;
  int index; // of the entry in its list (the update list for the first
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

// ---- Decisions and the texts they show ---------------------------------------------------
// What one line of either list comes to.
enum class Decision : uint8_t {
  CheckPasses, // an "e" line whose file is there as it should be
  CheckFails,  // an "e" line whose file is not: the update is refused
  NotSelected, // a line of another install mode
  Write,       // the member is staged and swapped in
  KeepNewer,   // "u" over a newer installed file: left alone
  KeepData,    // "d" over an existing file: rewritten with its own bytes
  Skip,        // the overwrite-only rule finds no file to overwrite
  Copy,        // a copy line, copied from its disc
  Refuse,      // this line refuses the update before anything is written
  Fail,        // the run stops at this line (nothing of the update list stays written)
  NotReached,  // the update was refused, or stopped, before this line
};
// Why a line refuses or fails the update.
enum class LineFault : uint8_t {
  None,
  NoFolder,
  TooLong,
  Outside,
  Link,
  CopyNoDisc,
  CopyOutside,
  CopyLink,      // as ListFault
  MemberMissing, // the member is not in the archive
  NoRoom,        // the staged files so far and this one do not fit the drive
  FolderInWay,   // a folder stands at the destination
  Hidden,        // a hidden or system file is at the destination
  NoParent,      // the destination's folder does not exist and nothing makes it
  NoDrive,       // a copy line before any disc was found, or a path that does not fit
  NoSource,      // the copy's source is not on the disc found
  NotBase,       // the member goes as a delta and the installed file is not its base
};
// How a written file replaces what was there.
enum class WriteReason : uint8_t {
  NewFile,        // nothing was there
  Replace,        // no newer-only rule
  ReplaceOlder,   // "u": the installed file is older
  ReplaceSame,    // "u": it has the member's time
  ReplaceUntimed, // "u": its time cannot be read
  ReplaceData,    // "d" over a file that cannot be read
};

// The texts a refusal or failure shows, in the order the player sees them,
// in the window-caption error box; the wizard then ends with -1.
struct Notices {
  int32_t count;
  char texts[2][kTextCapacity];
};
void AddNotice(Notices* notices, const char* text);
// ---- Judging one line (judge.cpp) -------------------------------------------------------
// What a line finds at its destination, as the run would find it: the file
// there now, or the file an earlier line of the run stages for it.
struct LineFacts {
  uint32_t attributes; // kAttrMissing: nothing
  int32_t timeKnown;   // its last-write time could be read
  FileTime time;
  int32_t readable; // it opens for reading and tells its size
  uint32_t size;
  const char* ownBytes; // where a "d" line reads its own bytes: the destination or an earlier staged file
};
// The facts at `destination`, an earlier staged file of `run` first.
void LookAt(const char* destination, const StagedUpdate& run, LineFacts* facts);
struct Judgement {
  Decision decision; // Skip, KeepData, KeepNewer, Write or Fail
  LineFault fault;
  WriteReason reason;
  int32_t stages; // a file is staged for it
};
// The rules of one accepted update line, in the engine's order: the
// overwrite-only rule, the "d" rule, the member, room for it (`shortfall`:
// the bytes its drive lacks, 0 when it fits), a folder in the way, the
// newer-only rule, a hidden or system file. Looks at nothing itself.
Judgement JudgeLine(const UpdateEntry& entry, int overwriteOnly, const LineFacts& facts, const ArchiveEntry* member,
                    uint64_t shortfall);
// The member a line writes: the full member, its delta, or both.
struct LineMember {
  MemberRef full, delta;
  int32_t hasFull, hasDelta; // hasDelta: found, with its header read
  DeltaHeader header;
};
void FindLineMember(const ArchiveImage& image, const UpdateEntry& entry, LineMember* member);
// The entry the rules judge (its time is the new file's; the delta's when
// only the delta is there), or null; and the bytes the line writes.
const ArchiveEntry* JudgedMember(const LineMember& member);
uint32_t WrittenSize(const LineMember& member);
// The texts a Fail judgement shows. `drive` and `shortfall` for NoRoom.
void FailureNotices(LineFault fault, const char* destination, const char* drive, uint64_t shortfall, Notices* notices);

// ---- The plan (plan.cpp) ----------------------------------------------------------------
// How a line's member comes when the archive carries a delta for it.
enum class DeltaUse : uint8_t {
  None,        // no delta: the member as it is
  Delta,       // the installed file is the delta's base: the delta is applied to it
  FullInstead, // it is not, and the full member is there: that is written
  NoBase,      // it is not, and there is no full member: the update is refused (NotBase)
};
// One UpdateFileNN key as planned.
struct PlannedUpdate {
  UpdateLine line;
  Decision decision;
  LineFault fault;
  WriteReason reason;
  int32_t entry;                 // its index in `updates`, -1 for "e" and unselected lines
  char destination[kPathBuffer]; // empty when it has none
  char staged[kPathBuffer];      // the new file beside it, this run's name
  char backup[kPathBuffer];      // where the old file waits during the swap
  uint32_t attributes;           // of what is there now (kAttrMissing: nothing)
  int32_t installedTimeKnown;
  FileTime installedTime;
  uint32_t memberSize; // 0 when the member is not there
  FileTime memberTime;
  int32_t makesFolder;     // its folder is made (one level) before it is staged
  uint64_t stagedBytes;    // bytes staged on its drive up to and with it
  uint64_t available;      // what the drive had free before the update
  DeltaUse delta;          // whether the member goes as a delta
  DeltaHeader deltaHeader; // with a delta: its base and result
  uint32_t deltaStored;    // the delta member's stored size
};
// One CopyFileNN key as planned.
struct PlannedCopy {
  CopyLine line;
  int32_t wellFormed;
  Decision decision;
  LineFault fault;
  int32_t entry;    // its index in `copies`, -1 when not selected
  int32_t disc;     // the disc it is copied from (0: the one found last)
  int32_t askFirst; // the disc is looked for (and asked for until it is there) before this line
  char drive[3];    // FindPlanDiscs: where that disc is ("" when not found)
  CopyPlan copy;    // with a drive: what is sent to the shell
};
enum class PlanResult : uint8_t {
  Runs,    // every line goes ahead (disc prompts may follow)
  NoSpace, // the RequiredDiskSpace pre-check: the wizard stays open
  Refused, // refused before anything is written
  Fails,   // stops at a line while running (`stoppedAt`)
};
struct UpdatePlan {
  PlanResult result;
  uint32_t requiredSpace;        // RequiredDiskSpace; 0: no check
  int32_t spaceKnown;            // the free space of the install drive could be told
  uint64_t available, shortfall; // its free bytes; what it lacks
  char spaceText[kTextCapacity]; // NoSpace: the page's text
  int32_t overwriteOnly;
  int32_t updateKeys, copyKeys; // keys read, in order
  PlannedUpdate updateLines[kUpdateListCapacity];
  PlannedCopy copyLines[kCopyListCapacity];
  UpdateList updates; // the accepted lines, in order
  CopyList copies;
  int32_t stoppedKey; // Refused/Fails: the key's index (copy keys after update keys); -1 none
  Notices notices;    // Refused/Fails: what the player is shown
};
// How a line that writes takes its member, given what LookAt found at
// `destination`: a delta only onto the installed file itself, when it is
// the delta's base (its bytes are read whole to tell).
DeltaUse ChooseDelta(const LineMember& member, const char* destination, const LineFacts& facts);
// Plans the whole run: the free-space pre-check, both lists read and every
// line judged in the engine's order, each seeing what the ones before it
// stage. Reads the description and looks at the game only.
void PlanUpdate(const UpdateContext& context, UpdatePlan* plan);
// Looks for the discs of a plan that runs now, as a tool shows it
// (plan_discs.cpp): the drive of each copy line, what the shell would be
// sent, and the first line that would fail.
void FindPlanDiscs(const UpdateContext& context, UpdatePlan* plan);

// ---- Running a plan (execute.cpp) --------------------------------------------------------
// What the run asks of the wizard while it copies from the discs.
struct RunHost {
  WindowHandle owner; // owns the shell's copy progress
  void* context;
  void (*copying)(void* context, const CopyEntry& entry); // a copy begins
  int (*askForDisc)(void* context, int32_t disc);         // 1: look again, 0: the player declined
};
enum class RunResult : uint8_t {
  Done,     // every line is in place
  Failed,   // stopped; `notices` says why (all update lines put back when they had not all gone in)
  Declined, // the player declined a disc, or cancelled a copy: nothing to show
};
// The disc copies of `plan`, in order (copy_list.cpp).
RunResult RunCopyList(const UpdatePlan& plan, const UpdateContext& context, const RunHost& host, Notices* notices);
// Runs a plan whose result is Runs or Fails: the update list staged and
// swapped all or nothing (a Fail line stops it with the plan's texts), then
// the disc copies in order.
RunResult ExecutePlan(const UpdatePlan& plan, const UpdateContext& context, const RunHost& host, Notices* notices);
