// Running the disc copy list: each line copied from its disc through the
// shell, all or nothing line by line (a staged file or folder moved into
// place only when whole), asking for discs as needed.
#include <cstring>

#include "update/update.h"

namespace {

constexpr uint16_t kCopyFileFlags = kCopyNoConfirm | kCopyMakeFolders; // 0x0210

// Searches until the disc is found, asking for it after each fruitless pass.
// 0 when the player declined.
int WaitForDisc(const RunHost& host, const UpdateContext& context, int32_t disc, char drive[3]) {
  while (!FindDiscDrive(*context.game, disc, drive))
    if (!host.askForDisc(host.context, disc)) return 0;
  return 1;
}

// A file line copied all or nothing: the shell copies to a staged name
// beside the destination, which then replaces the destination as an update
// line's file does (journal, backup, roll back). A copy that fails or is
// cancelled part-way leaves the old file, or none, and no staged file.
// 1 when in place; 0 when it failed or was cancelled (*aborted says which);
// -1 when there is no room for the staging names (copied directly instead).
int CopyFileStaged(WindowHandle owner, const UpdateContext& context, int index, const CopyPlan& plan, int* aborted) {
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
  const int result = ShellCopy(owner, plan.source, f.staged, plan.flags, aborted);
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
      !CopyText(to, sizeof to, walk.copy) || !JoinPath(to, sizeof to, name) || !CopyText(at, sizeof at, walk.target) ||
      !JoinPath(at, sizeof at, name) || IsLinkAt(to) || IsLinkAt(at))
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
int CopyFolderStaged(WindowHandle owner, const UpdateContext& context, int index, const CopyPlan& plan, int* aborted) {
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
  int copied = ShellCopy(owner, plan.source, staging, plan.flags, aborted) == 0 && !*aborted;
  const uint32_t landed = ReadAttributes(staged);
  copied = copied && landed != kAttrMissing && (landed & kAttrDirectory) && !(landed & kAttrReparsePoint) &&
           SameTree(plan.source, staged, target) && ShellMove(staged, plan.destination) == 0;
  // Deleted whole only while it is still this run's folder, not a link.
  const uint32_t left = ReadAttributes(staging);
  if (left == kAttrMissing || (!(left & kAttrReparsePoint) && ShellDelete(staging) == 0)) RemoveJournal(journal);
  return copied;
}

} // namespace

RunResult RunCopyList(const UpdatePlan& plan, const UpdateContext& context, const RunHost& host, Notices* notices) {
  const CopyList& list = plan.copies;
  char drive[3] = {};
  for (int i = 0; i < list.count; ++i) {
    const CopyEntry& entry = list.entries[i];
    if (entry.discNumber != 0 && !WaitForDisc(host, context, entry.discNumber, drive)) return RunResult::Declined;

    char text[kTextCapacity];
    FormatText(text, sizeof text, kCopyFailedFormat, entry.relativePath);
    CopyPlan copy;
    if (!PlanCopy(entry, drive, context.game->installPath, &copy)) return AddNotice(notices, text), RunResult::Failed;
    host.copying(host.context, entry);
    int aborted = 0;
    int copied = copy.flags == kCopyFileFlags ? CopyFileStaged(host.owner, context, i, copy, &aborted)
                                              : CopyFolderStaged(host.owner, context, i, copy, &aborted);
    // No room for the staging names: straight to the destination, the last resort.
    if (copied < 0) copied = ShellCopy(host.owner, copy.source, copy.destination, copy.flags, &aborted) == 0;
    if (aborted) return RunResult::Declined;
    if (!copied) return AddNotice(notices, text), RunResult::Failed;
    // A file brought from the disc loses its read-only attribute.
    WriteAttributes(copy.destination, kAttrNormal);
  }
  return RunResult::Done;
}
