// The disc copy list: CopyFile00 to CopyFile15 of section UPDATE, each
// "[mode,][disc:]path", copied from the install disc into the install folder
// through the shell's copy operation.
//
// The prefixes sit at fixed byte positions; the path is everything after
// them, commas and blanks included. An entry with a disc number finds that
// disc in a CD-ROM drive by its check file; an entry without one copies from
// the drive the last search found.
#include <cstring>

#include "update/update.h"

namespace {

constexpr uint16_t kCopyFileFlags = kCopyNoConfirm | kCopyMakeFolders;                     // 0x0210
constexpr uint16_t kCopyFolderFlags = kCopyNoConfirm | kCopyMakeFolders | kCopyNoErrorUi;  // 0x0610

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Searches until the disc is found, asking for it after each fruitless pass.
// 0 when the user declined (the dialog has been ended).
int WaitForDisc(WindowHandle dialog, const UpdateContext& context, int32_t disc, char drive[3]) {
  while (!FindDiscDrive(*context.game, disc, drive)) {
    char text[kTextCapacity];
    FormatText(text, sizeof text, "ＣＤ－ＲＯＭドライブに「%s」ディスク %i を入れて下さい",
               context.description->gameTitle, int(disc));
    if (MessageBoxText(dialog, text, ErrorBoxCaption(), kBoxOkCancel) != kAnswerOk) {
      EndModalDialog(dialog, -1);
      return 0;
    }
  }
  return 1;
}

// A file line copied all or nothing: the shell copies to a staged name
// beside the destination, which then replaces the destination as an update
// line's file does (journal, backup, roll back). A copy that fails or is
// cancelled part-way leaves the old file, or none, and no staged file.
// 1 when in place; 0 when it failed or was cancelled (*aborted says which);
// -1 when there is no room for the staging names (copied directly instead).
int CopyFileStaged(WindowHandle dialog, const UpdateContext& context, int index, const CopyPlan& plan,
                   int* aborted) {
  char journal[kPathBuffer];
  StagedUpdate one;
  StagedFile& f = one.files[0];
  std::memset(&f, 0, sizeof f);
  one.count = 1;
  CopyText(f.destination, sizeof f.destination, plan.destination);
  if (!JournalPath(context.game->installPath, journal) ||
      !StagingNameBeside(f.destination, 'c', index, ".new", f.staged) ||
      !StagingNameBeside(f.destination, 'c', index, ".old", f.backup))
    return -1;
  f.base = context.game->installPath;
  if (!WriteJournal(journal, JournalState::Staging, one)) return 0;
  // The staged name is made new first: the shell then replaces this run's
  // own empty file, never anything prepared there. (Where its folder is not
  // there yet, the shell makes the folder, and nothing can be in it.)
  FileHandle made = CreateNewFile(f.staged);
  if (made != kInvalidFile) CloseFile(made);
  if (!PlainBelow(f.base, f.destination) || (made == kInvalidFile && ReadAttributes(f.staged) != kAttrMissing)) {
    RemoveJournal(journal);
    return 0;
  }
  const int result = ShellCopy(dialog, plan.source, f.staged, plan.flags, aborted);
  f.attributes = ReadAttributes(f.destination);
  f.hadOriginal = f.attributes != kAttrMissing;
  if (!f.hadOriginal) f.attributes = 0;
  // A folder of the destination's name stays what it is.
  if (*aborted || result != 0 || (f.attributes & kAttrDirectory)) {
    RemoveFile(f.staged);
    RemoveJournal(journal);
    return 0;
  }
  WriteFailure failure{};
  if (!SwapStagedFiles(one, journal, &failure)) return 0;
  RemoveJournal(journal);
  return 1;
}

// 1 when every file under `source` has a file of the same size at its place
// under `copy`: some shells report a folder copy that ran out of room, or
// could not read a file, as done. And no link, neither in the copy nor at
// the place in `target` where the move will put it.
struct TreeWalk {
  const char* source;
  const char* copy;
  const char* target;
};
int SameTree(const char* source, const char* copy, const char* target);
int CheckEntry(void* context, const char* name, uint32_t attributes, uint64_t size) {
  const TreeWalk& walk = *static_cast<const TreeWalk*>(context);
  char from[kPathBuffer], to[kPathBuffer], at[kPathBuffer];
  if (!CopyText(from, sizeof from, walk.source) || !JoinPath(from, sizeof from, name) ||
      !CopyText(to, sizeof to, walk.copy) || !JoinPath(to, sizeof to, name) ||
      !CopyText(at, sizeof at, walk.target) || !JoinPath(at, sizeof at, name) || IsLinkAt(to) || IsLinkAt(at))
    return 0;
  if (attributes & kAttrDirectory) return SameTree(from, to, at);
  FileHandle file = OpenFileForRead(to);
  if (file == kInvalidFile) return 0;
  const uint32_t copied = FileSizeLow(file);
  CloseFile(file);
  return copied == uint32_t(size);
}
int SameTree(const char* source, const char* copy, const char* target) {
  TreeWalk walk{source, copy, target};
  return ListFolder(source, CheckEntry, &walk);
}

// A folder line: the shell copies the folder from the disc into a staging
// folder in the install folder ("~fa2<run>c<index>", made new by this run),
// and only a whole copy
// is moved into place, merging with what is there as the copy itself would
// (renames on one disk). A copy that fails or is cancelled part-way leaves
// the game as it was. Results as CopyFileStaged's.
int CopyFolderStaged(WindowHandle dialog, const UpdateContext& context, int index, const CopyPlan& plan,
                     int* aborted) {
  const char* name = plan.source + BaseNameOffset(plan.source);
  char journal[kPathBuffer], staging[kPathBuffer], staged[kPathBuffer], target[kPathBuffer];
  // The staging folder sits beside the journal, in the install folder.
  if (!*name || !JournalPath(context.game->installPath, journal) ||
      !StagingNameBeside(journal, 'c', index, "", staging) || !CopyText(staged, sizeof staged, staging) ||
      !JoinPath(staged, sizeof staged, name) || !CopyText(target, sizeof target, plan.destination) ||
      !JoinPath(target, sizeof target, name))
    return -1;
  StagedUpdate none;
  none.count = 0;
  if (!WriteJournal(journal, JournalState::Staging, none, staging)) return 0;
  // The staging folder exists first, so that the shell copies the folder
  // into it rather than as it; what did not land as <staging>\<name> is
  // moved nowhere. A folder that was there already (made by someone else)
  // is never used.
  if (!PlainBelow(context.game->installPath, target) || IsLinkAt(target) || !CreateNewDirectory(staging)) {
    RemoveJournal(journal);
    return 0;
  }
  int copied = ShellCopy(dialog, plan.source, staging, plan.flags, aborted) == 0 && !*aborted;
  const uint32_t landed = ReadAttributes(staged);
  copied = copied && landed != kAttrMissing && (landed & kAttrDirectory) && !(landed & kAttrReparsePoint) &&
           SameTree(plan.source, staged, target) && ShellMove(staged, plan.destination) == 0;
  // Deleted whole only while it is still this run's folder, not a link.
  const uint32_t left = ReadAttributes(staging);
  if (left == kAttrMissing || (!(left & kAttrReparsePoint) && ShellDelete(staging) == 0)) RemoveJournal(journal);
  return copied;
}

}  // namespace

int EndsInDots(const char* path) {
  const char* last = path;
  for (const char* p = path; *p; p = NextCharacter(p))
    if (*p == '\\' || *p == '/') last = p + 1;
  return std::strcmp(last, ".") == 0 || std::strcmp(last, "..") == 0;
}

int RefuseCopyLine(WindowHandle dialog, const CopyEntry& entry) {
  char text[kTextCapacity];
  FormatText(text, sizeof text, kCopyFailedFormat, entry.relativePath);
  MessageBoxText(dialog, text, ErrorBoxCaption(), kBoxError);
  EndModalDialog(dialog, -1);
  return 0;
}

int ParseCopyLine(const char* value, CopyLine* line) {
  const char* p = value;
  line->hasMode = 0;
  line->mode = -1;
  line->discNumber = 0;
  if (p[0] != 0 && p[1] == ',') {
    line->hasMode = 1;
    if (IsDigit(p[0])) line->mode = p[0] - '0';
    p += 2;
  }
  int wellFormed = 1;
  if (p[0] != 0 && p[1] == ':') {
    // Only a digit names one of the ten discs.
    if (IsDigit(p[0])) {
      line->discNumber = p[0] - '0';
    } else {
      line->discNumber = -1;
      wellFormed = 0;
    }
    p += 2;
  }
  CopyText(line->path, sizeof line->path, p);
  return wellFormed;
}

int CopyLineSelected(const CopyLine& line, int32_t installMode) {
  return !line.hasMode || (line.mode >= 0 && line.mode == installMode);
}

void ReadCopyList(const UpdateContext& context, CopyList* list) {
  list->count = 0;
  for (int index = 0; index < kCopyListCapacity; ++index) {
    char key[16];
    FormatText(key, sizeof key, "CopyFile%02i", index);
    char value[kCopyValueCapacity];
    if (!ReadDescriptionValue("UPDATE", key, value, sizeof value)) break;

    CopyLine line;
    ParseCopyLine(value, &line);  // a malformed line is kept, to be refused
    if (!CopyLineSelected(line, context.game->installMode)) continue;
    CopyEntry& entry = list->entries[list->count++];
    entry.discNumber = line.discNumber;
    CopyText(entry.relativePath, sizeof entry.relativePath, line.path);
  }
}

int FindDiscDrive(const InstalledGame& game, int32_t disc, char drive[3]) {
  if (disc < 0 || disc >= kDiscCheckFileCount) return 0;
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    const char candidate[3] = {letter, ':', 0};
    if (DriveType(candidate) != kDriveCdrom) continue;
    // An empty check file leaves the root itself: any readable disc counts.
    char check[kPathBuffer] = {};
    CopyText(check, sizeof check, candidate);
    if (!JoinPath(check, sizeof check, game.discCheckFiles[disc])) continue;
    if (ReadAttributes(check) == kAttrMissing) continue;
    std::memcpy(drive, candidate, 3);
    return 1;
  }
  return 0;
}

int PlanCopy(const CopyEntry& entry, const char* drive, const char* installPath, CopyPlan* plan) {
  std::memset(plan, 0, sizeof *plan);
  // Without a drive found by a disc search there is nothing to copy from.
  if (drive[0] == 0 || installPath[0] == 0) return 0;
  CopyText(plan->source, sizeof plan->source, drive);
  if (!JoinPath(plan->source, sizeof plan->source, entry.relativePath)) return 0;

  // A missing source reads as all ones, directory bit included: it goes the
  // folder's way and the shell reports the failure without a box of its own.
  if (ReadAttributes(plan->source) & kAttrDirectory) {
    plan->flags = kCopyFolderFlags;
    return CopyText(plan->destination, kPathCapacity, installPath);
  }
  plan->flags = kCopyFileFlags;
  CopyText(plan->destination, sizeof plan->destination, installPath);
  return JoinPath(plan->destination, sizeof plan->destination, entry.relativePath);
}

int ApplyCopyList(WindowHandle dialog, const UpdateContext& context, const CopyList& list) {
  char drive[3] = {};
  for (int i = 0; i < list.count; ++i) {
    const CopyEntry& entry = list.entries[i];
    if (entry.discNumber != 0 && !WaitForDisc(dialog, context, entry.discNumber, drive)) return 0;

    CopyPlan plan;
    if (!PlanCopy(entry, drive, context.game->installPath, &plan)) return RefuseCopyLine(dialog, entry);
    ShowInfoText(dialog, "%s をコピーしています", entry.relativePath);
    int aborted = 0;
    int copied = plan.flags == kCopyFileFlags ? CopyFileStaged(dialog, context, i, plan, &aborted)
                                              : CopyFolderStaged(dialog, context, i, plan, &aborted);
    // No room for the staging names: straight to the destination, the last resort.
    if (copied < 0) copied = ShellCopy(dialog, plan.source, plan.destination, plan.flags, &aborted) == 0;
    if (aborted) {
      EndModalDialog(dialog, -1);
      return 0;
    }
    if (!copied) return RefuseCopyLine(dialog, entry);
    // A file brought from the disc loses its read-only attribute.
    WriteAttributes(plan.destination, kAttrNormal);
  }
  return 1;
}
