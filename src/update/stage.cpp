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

// "d" over a readable data file: its own bytes, copied piece by piece and
// staged without a time stamp (the swap recreates it, as the engine always
// has). 1 when staged, 0 when the file is to be left as it is (a short read,
// or no room to stage it), -1 when it cannot be read at all (the member is
// written instead).
int StageOwnBytes(const char* destination, const char* staged) {
  // Only a plain file is copied: never the target of a link, nor a file
  // with another name elsewhere (a hard link), which would hand its bytes
  // to the data folder.
  if (IsLinkAt(destination)) return 0;
  FileHandle from = OpenFileForRead(destination);
  if (from == kInvalidFile) return -1;
  if (FileLinkCount(from) != 1 || !FileReachedAs(from, destination)) return CloseFile(from), 0;
  uint32_t size = FileSizeLow(from);
  void* block = size == 0xFFFFFFFFu ? nullptr : AllocateBlock(kMemberPieceSize, false);
  FileHandle to = block ? CreateNewFile(staged) : kInvalidFile;
  int result = block ? 0 : -1;
  if (to != kInvalidFile) {
    result = 1;
    while (result == 1 && size) {
      const uint32_t want = size < kMemberPieceSize ? size : kMemberPieceSize;
      uint32_t done = 0, written = 0;
      if (!ReadFromFile(from, block, want, &done)) result = -1;
      else if (done != want) result = 0;  // half of the player's data never replaces all of it
      else if (!WriteToFile(to, block, done, &written) || written != done) result = 0;
      size -= want;
    }
    CloseFile(to);
    if (result != 1) RemoveFile(staged);
  }
  CloseFile(from);
  FreeBlock(block);
  return result;
}

// The member for `entry`, staged at `file.staged`. 1 staged, 0 failed (a
// message may have been shown), 2 left alone (the installed file is newer).
int StageMember(const UpdateContext& context, const UpdateEntry& entry, StagedFile& file, WriteFailure* failure) {
  MemberRef member;
  if (!LocateMember(*context.archive, MemberNameOf(entry), &member)) {
    ShowCaptionError(kMemberMissingText);
    return 0;
  }
  // Room for this file now: what is staged already takes its room on the
  // disk beside the old files, so the drive's figure counts it.
  char drive[3];
  uint64_t shortfall = 0;
  if (MemberShortfall(file.destination, member.entry->uncompressedSize, &shortfall, drive)) {
    char text[kTextCapacity];
    FormatText(text, sizeof text, kShortageFormat, drive, (unsigned long long)shortfall);
    ShowCaptionError(text);
    return 0;
  }
  if (file.hadOriginal) {
    if (file.attributes & kAttrDirectory) return Fail(failure, file.destination, kReasonFolder), 0;
    if (entry.operation == kOperationUpdate && ExistingFileIsNewer(file.destination, member.entry->timeStamp))
      return 2;
    // The system will not recreate a hidden or system file in its place.
    if (file.attributes & (kAttrHidden | kAttrSystem)) return Fail(failure, file.destination, kReasonHidden), 0;
  }
  uint32_t error = 0;
  const int written = WriteMemberFile(*context.archive, member, file.staged, &member.entry->timeStamp, &error);
  if (written != 1) {
    if (written < 0) Fail(failure, file.destination, error);
    RemoveFile(file.staged);
    return 0;
  }
  file.time = member.entry->timeStamp;
  file.hasTime = 1;
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

}  // namespace

namespace {

// This run's part of every staging name: random, drawn once. Without the
// system's generator the process id stands in; the names are created new
// all the same, so a name prepared beforehand only stops the update.
const char* RunPart() {
  static char part[9];
  if (!part[0]) {
    uint8_t bytes[4];
    uint32_t value = CurrentProcessId();
    if (RandomBytes(bytes, sizeof bytes)) value = uint32_t(bytes[0]) << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3];
    static const char kHex[] = "0123456789abcdef";
    for (int d = 0; d < 8; ++d) part[d] = kHex[(value >> (28 - 4 * d)) & 15];
  }
  return part;
}

}  // namespace

int StagingNameBeside(const char* path, char kind, int index, const char* suffix, char out[kPathBuffer]) {
  char name[48];
  const char kindText[2] = {kind, 0};
  FormatText(name, sizeof name, "~fa2%s%s%i%s", RunPart(), kindText, index, suffix);
  return NameBesidePath(path, name, out);
}

int IsOwnStagingName(const char* destination, const char* name, const char* suffix) {
  const int32_t folder = BaseNameOffset(destination);
  if (folder == 0 || std::strncmp(name, destination, size_t(folder)) != 0) return 0;
  const char* own = name + folder;
  if (std::strncmp(own, "~fa2", 4) != 0) return 0;
  const char* p = own + 4;
  while ((*p >= '0' && *p <= '9') || (*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z')) ++p;
  if (p == own + 4) return 0;
  return suffix ? CompareNoCase(p, suffix) == 0 : *p == 0;
}

int StageUpdateList(const UpdateContext& context, const UpdateList& list, int overwriteOnly, const char* journal,
                    StagedUpdate* update, ReadOnlyList* keptReadOnly, WriteFailure* failure) {
  update->count = 0;
  failure->path[0] = 0;
  keptReadOnly->count = 0;
  // Every name this run may stage is in the journal before the first is
  // written: a crash while staging leaves nothing the next run misses.
  StagedUpdate planned;
  planned.count = 0;
  for (int i = 0; i < list.count; ++i) {
    StagedFile& f = planned.files[planned.count++];
    std::memset(&f, 0, sizeof f);
    char folder[kPathBuffer];
    f.base = list.entries[i].operation == kOperationData ? context.game->dataPath : context.game->installPath;
    if (!UpdateFolder(list.entries[i], context, folder) ||
        !UpdateDestination(folder, list.entries[i], f.destination) ||
        !StagingNameBeside(f.destination, 's', i, ".new", f.staged) ||
        !StagingNameBeside(f.destination, 's', i, ".old", f.backup))
      return 0;
  }
  if (!WriteJournal(journal, JournalState::Staging, planned)) return Fail(failure, journal, LastSystemError()), 0;

  for (int i = 0; i < list.count; ++i) {
    const UpdateEntry& entry = list.entries[i];
    StagedFile& file = update->files[update->count];
    file = planned.files[i];
    char folder[kPathBuffer];
    UpdateFolder(entry, context, folder);
    // One level only: a folder inside the relative path is never created.
    MakeDirectory(folder);

    // Checked again now, right before the first write beside it.
    if (!PlainBelow(file.base, file.destination)) {
      DeleteStaged(*update);
      return Fail(failure, file.destination, kReasonLink), 0;
    }
    const UpdateAction action = DecideUpdateAction(entry, overwriteOnly, file.destination);
    if (action == UpdateAction::Skip) continue;
    file.attributes = ReadAttributes(file.destination);
    file.hadOriginal = file.attributes != kAttrMissing;
    if (!file.hadOriginal) file.attributes = 0;
    if (action == UpdateAction::Keep) {
      // The system would not recreate a read-only, hidden or system file:
      // its rewrite fails, and the entry counts as done, the file as it was.
      if (RefusesRecreate(file.attributes)) continue;
      const int own = StageOwnBytes(file.destination, file.staged);
      if (own == 1) ++update->count;
      if (own >= 0) continue;
    }
    const int staged = StageMember(context, entry, file, failure);
    if (staged == 0) {
      DeleteStaged(*update);
      return 0;
    }
    if (staged == 2) {
      // Left alone as newer; it still loses a read-only attribute, once the
      // whole update has gone through.
      if (file.attributes & kAttrReadOnly) CopyText(keptReadOnly->paths[keptReadOnly->count++], kPathBuffer, file.destination);
      continue;
    }
    ++update->count;
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

void FormatWriteFailure(const WriteFailure& failure, char* text, size_t capacity) {
  if (failure.path[0] == 0) {
    CopyText(text, capacity, kWriteFailedText);
    return;
  }
  char reason[128];
  switch (failure.reason) {
    case 0:  // a write that came back short: the disk filled up
    case 39:
    case kErrorDiskFull: CopyText(reason, sizeof reason, "ディスクの空き容量が足りません"); break;
    case kErrorSharingViolation:
    case 33: CopyText(reason, sizeof reason, "ほかのプログラムが使用中です"); break;
    case kErrorAccessDenied: CopyText(reason, sizeof reason, "書き込みが許可されていません"); break;
    case 2:
    case 3: CopyText(reason, sizeof reason, "フォルダーが見つかりません"); break;
    case kReasonFolder: CopyText(reason, sizeof reason, "同じ名前のフォルダーがあります"); break;
    case kReasonHidden: CopyText(reason, sizeof reason, "隠しファイルかシステムファイルです"); break;
    case kReasonLink: CopyText(reason, sizeof reason, "リンク（ジャンクションやシンボリックリンク）を通しては書き込みません"); break;
    case kReasonTooLong: FormatText(reason, sizeof reason, "パスが長すぎます。%u バイトまでです", kPathCapacity - 1); break;
    default: FormatText(reason, sizeof reason, "システムエラー %u", failure.reason); break;
  }
  FormatText(text, capacity, "%s\r\n%s\r\n（%s）", kWriteFailedText, failure.path, reason);
}
