// Applying the update list all or nothing: stage, then swap.
//
// Staging writes every file the list will write as a new file beside its
// destination ("~fa2<run>s<n>.new", created new: nothing already at the name
// is ever opened), after the engine's decisions for each line; no game file
// is touched, so any failure here only deletes what was staged. Swapping
// then moves each destination aside to its backup ("~fa2<run>s<n>.old") and
// the staged file into its place; if one swap
// fails, every destination replaced so far gets its old file back. Only when
// all are swapped are the backups deleted. The journal (journal.cpp) says at
// each point what a crash would leave, for the next run to undo.
#include <cstring>

#include "archive/archive.h"
#include "update/update.h"

namespace {

void Fail(WriteFailure* failure, const char* path, uint32_t reason) {
  CopyText(failure->path, sizeof failure->path, path);
  failure->reason = reason;
}

void DeleteStaged(const StagedUpdate& update) {
  for (int i = 0; i < update.count; ++i) RemoveFile(update.files[i].staged);
}

// Ends staging after a failure: what was staged is deleted, and the texts
// end with the write failure (after any of the member's own).
int StagingFailed(const StagedUpdate& update, const WriteFailure& failure, Notices* notices) {
  DeleteStaged(update);
  char text[kTextCapacity];
  FormatWriteFailure(failure, text, sizeof text);
  AddNotice(notices, text);
  return 0;
}

// "d" over a readable data file: its own bytes, copied piece by piece and
// staged without a time stamp (the swap recreates it, as the engine always
// has). 1 when staged, 0 when the file is to be left as it is (a short read,
// or no room to stage it), -1 when it cannot be read at all (the member is
// written instead).
int StageOwnBytes(const char* destination, const char* staged, uint32_t* stagedSize) {
  // Only a plain file is copied: never the target of a link, nor a file
  // with another name elsewhere (a hard link), which would hand its bytes
  // to the data folder.
  if (IsLinkAt(destination)) return 0;
  FileHandle from = OpenFileForRead(destination);
  if (from == kInvalidFile) return -1;
  if (FileLinkCount(from) != 1 || !FileReachedAs(from, destination)) return CloseFile(from), 0;
  uint32_t size = FileSizeLow(from);
  *stagedSize = size;
  void* block = size == 0xFFFFFFFFu ? nullptr : AllocateBlock(kMemberPieceSize, false);
  FileHandle to = block ? CreateNewFile(staged) : kInvalidFile;
  int result = block ? 0 : -1;
  if (to != kInvalidFile) {
    result = 1;
    while (result == 1 && size) {
      const uint32_t want = size < kMemberPieceSize ? size : kMemberPieceSize;
      uint32_t done = 0, written = 0;
      if (!ReadFromFile(from, block, want, &done))
        result = -1;
      else if (done != want)
        result = 0; // half of the player's data never replaces all of it
      else if (!WriteToFile(to, block, done, &written) || written != done)
        result = 0;
      size -= want;
    }
    CloseFile(to);
    if (result != 1) RemoveFile(staged);
  }
  CloseFile(from);
  FreeBlock(block);
  return result;
}

// Whether the plan found the installed file of accepted line `entry` to be
// its delta's base.
int PlannedDelta(const UpdatePlan& plan, int entry) {
  for (int i = 0; i < plan.updateKeys; ++i)
    if (plan.updateLines[i].entry == entry) return plan.updateLines[i].delta == DeltaUse::Delta;
  return 0;
}

// The member, staged at `file.staged` with its time: its delta applied to
// the installed file when the plan found that to be the base, else the full
// member. 1 staged; 0 failed, with the reason in *failure or the notices.
int StageMember(const ArchiveImage& image, const LineMember& member, int delta, StagedFile& file, WriteFailure* failure,
                Notices* notices) {
  uint32_t error = 0;
  MemberProblem problem = MemberProblem::None;
  const MemberRef& from = delta || !member.hasFull ? member.delta : member.full;
  const FileTime time = from.entry->timeStamp;
  const int written = delta || !member.hasFull
                          ? WriteDeltaFile(image, from, file.destination, file.staged, &time, &error, &problem)
                          : WriteMemberFile(image, from, file.staged, &time, &error, &problem);
  if (written != 1) {
    if (written < 0) Fail(failure, file.destination, error);
    if (written == 0 && problem == MemberProblem::NotBase) {
      FailureNotices(LineFault::NotBase, file.destination, "", 0, notices);
    } else if (written == 0) {
      char text[kTextCapacity];
      MemberProblemText(problem, from.entry->name + (&from == &member.delta ? kDeltaPrefixLength : 0), text,
                        sizeof text);
      AddNotice(notices, text);
    }
    RemoveFile(file.staged);
    return 0;
  }
  file.time = time;
  file.hasTime = 1;
  file.size = WrittenSize(member);
  return 1;
}

// Puts back every destination replaced so far, newest first, and deletes
// what was staged; then the journal, unless it still lists a backup: an old
// file that could not be put back stays for the next start to finish.
void RollBack(StagedUpdate& update, const char* journal) {
  bool restored = true;
  for (int i = update.count - 1; i >= 0; --i) {
    StagedFile& f = update.files[i];
    if (f.swapped) RemoveFile(f.destination);
    if (f.movedAside) {
      ReplaceFile(f.backup, f.destination);
      WriteAttributes(f.destination, f.attributes);
    }
    RemoveFile(f.staged);
    restored &= ReadAttributes(f.backup) == kAttrMissing;
  }
  if (restored) RemoveJournal(journal);
}

} // namespace

int StageUpdateList(const UpdateContext& context, const UpdatePlan& plan, const char* journal, StagedUpdate* update,
                    ReadOnlyList* keptReadOnly, Notices* notices) {
  update->count = 0;
  keptReadOnly->count = 0;
  WriteFailure failed{};
  WriteFailure* failure = &failed;
  // Every name this run may stage is in the journal before the first is
  // written: a crash while staging leaves nothing the next run misses.
  StagedUpdate planned;
  planned.count = 0;
  for (int i = 0; i < plan.updateKeys; ++i) {
    const PlannedUpdate& p = plan.updateLines[i];
    if (p.entry < 0) continue;
    StagedFile& f = planned.files[planned.count++];
    std::memset(&f, 0, sizeof f);
    f.base = KindOf(plan.updates.entries[p.entry].operation).dataFolder ? context.game->dataPath
                                                                        : context.game->installPath;
    if (!CopyText(f.destination, sizeof f.destination, p.destination) || !p.staged[0] || !p.backup[0])
      return StagingFailed(*update, failed, notices);
    CopyText(f.staged, sizeof f.staged, p.staged);
    CopyText(f.backup, sizeof f.backup, p.backup);
  }
  if (!WriteJournal(journal, JournalState::Staging, planned))
    return Fail(failure, journal, LastSystemError()), StagingFailed(*update, failed, notices);

  for (int i = 0; i < planned.count; ++i) {
    const UpdateEntry& entry = plan.updates.entries[i];
    StagedFile& file = update->files[update->count];
    file = planned.files[i];
    char folder[kPathBuffer];
    UpdateFolder(entry, context, folder);
    // One level only: a folder inside the relative path is never created.
    MakeDirectory(folder);

    // Checked again now, right before the first write beside it.
    if (!PlainBelow(file.base, file.destination))
      return Fail(failure, file.destination, kReasonLink), StagingFailed(*update, failed, notices);
    // Judged again with what is there now, by the plan's rules.
    LineFacts facts;
    LookAt(file.destination, *update, &facts);
    LineMember member;
    FindLineMember(*context.archive, entry, &member);
    const ArchiveEntry* judged = JudgedMember(member);
    // Room for this file now: what is staged already takes its room on the
    // disk beside the old files, so the drive's figure counts it.
    char drive[3] = {};
    uint64_t shortfall = 0;
    if (!judged || !MemberShortfall(file.destination, WrittenSize(member), &shortfall, drive)) shortfall = 0;
    Judgement j = JudgeLine(entry, plan.overwriteOnly, facts, judged, shortfall);
    file.attributes = facts.attributes == kAttrMissing ? 0 : facts.attributes;
    file.hadOriginal = facts.attributes != kAttrMissing;
    if (j.decision == Decision::KeepData && j.stages) {
      const int own = StageOwnBytes(facts.ownBytes, file.staged, &file.size);
      if (own == 1) ++update->count;
      if (own >= 0) continue;
      facts.readable = 0; // it cannot be read after all: the member is written
      j = JudgeLine(entry, plan.overwriteOnly, facts, judged, shortfall);
    }
    switch (j.decision) {
      case Decision::Fail:
        FailureNotices(j.fault, file.destination, drive, shortfall, notices);
        DeleteStaged(*update);
        return 0;
      case Decision::KeepNewer:
        // Left alone as newer; it still loses a read-only attribute, once
        // the whole update has gone through.
        if (file.attributes & kAttrReadOnly)
          CopyText(keptReadOnly->paths[keptReadOnly->count++], kPathBuffer, file.destination);
        continue;
      case Decision::Write:
        if (!StageMember(*context.archive, member, PlannedDelta(plan, i), file, failure, notices))
          return StagingFailed(*update, failed, notices);
        ++update->count;
        continue;
      default: continue; // skipped, or a data file left as it is
    }
  }
  return 1;
}

int SwapStagedFiles(StagedUpdate& update, const char* journal, WriteFailure* failure) {
  if (!WriteJournal(journal, JournalState::Swapping, update)) {
    Fail(failure, journal, LastSystemError());
    RollBack(update, journal);
    return 0;
  }
  for (int i = 0; i < update.count; ++i) {
    StagedFile& f = update.files[i];
    // No rename through a link put in place since the staging.
    if (f.base && !PlainBelow(f.base, f.destination)) {
      Fail(failure, f.destination, kReasonLink);
      RollBack(update, journal);
      return 0;
    }
    if (f.hadOriginal) {
      // A read-only file cannot be moved over later; the backup keeps the
      // attributes to put back.
      if (f.attributes & kAttrReadOnly) WriteAttributes(f.destination, kAttrNormal);
      if (!ReplaceFile(f.destination, f.backup)) {
        Fail(failure, f.destination, LastSystemError());
        WriteAttributes(f.destination, f.attributes);
        RollBack(update, journal);
        return 0;
      }
      f.movedAside = 1;
    }
    if (!ReplaceFile(f.staged, f.destination)) {
      Fail(failure, f.destination, LastSystemError());
      RollBack(update, journal);
      return 0;
    }
    f.swapped = 1;
    // A rename may hand the old file's creation time to the new one.
    if (f.hasTime) StampTimesAtPath(f.destination, &f.time);
  }
  WriteJournal(journal, JournalState::Committed, update);
  for (int i = 0; i < update.count; ++i) RemoveFile(update.files[i].backup);
  return 1;
}
