// The update file list: UpdateFile00 to UpdateFile15 of section UPDATE, each
// "[mode,]operation,path" or "[mode,]path", applied from the archive.
//
// Members are addressed by bare file name: whatever folders an entry names,
// the member written is the one named by the path's last component.
#include "archive/archive.h"
#include "update/update.h"

namespace {

constexpr const char* kSection = "UPDATE";

int32_t OperationOf(const char* field) {
  if (CompareNoCase(field, "u") == 0) return kOperationUpdate;
  if (CompareNoCase(field, "d") == 0) return kOperationData;
  if (CompareNoCase(field, "o") == 0) return kOperationOverwrite;
  if (CompareNoCase(field, "e") == 0) return kOperationCheck;
  return kOperationPlain;
}

// A join below a real folder: an empty base would root the result at the
// current drive, which is never where the game lives.
int JoinBelow(char* out, size_t capacity, const char* base, const char* name) {
  if (base[0] == 0) return 0;
  if (!CopyText(out, capacity, base)) return 0;
  return JoinPath(out, capacity, name);
}

// The write failure with the file and the reason, when they are known.
int RefuseWriteOf(WindowHandle dialog, const WriteFailure& failure) {
  char text[kTextCapacity];
  FormatWriteFailure(failure, text, sizeof text);
  ShowCaptionError(text);
  EndModalDialog(dialog, -1);
  return 0;
}

int RefuseWrite(WindowHandle dialog) {
  ShowCaptionError(kWriteFailedText);
  EndModalDialog(dialog, -1);
  return 0;
}

}  // namespace

void ParseUpdateLine(const char* value, UpdateLine* line) {
  char fields[3][kItemCapacity] = {};
  TakeListItems(value, fields, nullptr, 3);

  const char* first = fields[0];
  line->hasMode = first[0] >= '0' && first[0] <= '9' && first[1] == 0;
  line->mode = line->hasMode ? first[0] - '0' : 0;
  const int next = line->hasMode ? 1 : 0;

  line->operation = OperationOf(fields[next]);
  // Without an operation letter the field itself is the path.
  const char* path = line->operation == kOperationPlain ? fields[next] : fields[next + 1];
  CopyText(line->path, sizeof line->path, path);
}

int UpdateLineSelected(const UpdateLine& line, int32_t installMode) {
  return !line.hasMode || line.mode == installMode;
}

int32_t BaseNameOffset(const char* path) {
  int32_t offset = 0;
  for (int32_t i = 0; path[i]; ++i) {
    if (IsLeadByte(uint8_t(path[i]))) {
      if (path[i + 1] == 0) break;
      ++i;  // the trail byte may have the value of a backslash
    } else if (path[i] == '\\') {
      offset = i + 1;
    }
  }
  return offset;
}

int ExistenceCheckPasses(const char* installPath, const char* path) {
  char full[kPathBuffer];
  if (!JoinBelow(full, sizeof full, installPath, path)) return 0;
  return ReadAttributes(full) == kAttrNormal;
}

int ReadUpdateList(const UpdateContext& context, UpdateList* list, char failedCheck[kPathCapacity]) {
  const InstalledGame& game = *context.game;
  list->count = 0;
  for (int index = 0; index < kUpdateListCapacity; ++index) {
    char key[16];
    FormatText(key, sizeof key, "UpdateFile%02i", index);
    char value[kUpdateValueCapacity];
    if (!ReadDescriptionValue(kSection, key, value, sizeof value)) break;

    UpdateLine line;
    ParseUpdateLine(value, &line);
    if (line.operation == kOperationCheck) {
      // Checked whatever the mode field says; a passed check leaves no entry.
      if (!ExistenceCheckPasses(game.installPath, line.path)) {
        if (failedCheck) CopyText(failedCheck, kPathCapacity, line.path);
        return 0;
      }
      continue;
    }
    if (!UpdateLineSelected(line, game.installMode)) continue;

    EntryOfLine(line, &list->entries[list->count++]);
  }
  return 1;
}

void EntryOfLine(const UpdateLine& line, UpdateEntry* entry) {
  entry->operation = line.operation;
  CopyText(entry->relativePath, sizeof entry->relativePath, line.path);
  entry->baseNameOffset = BaseNameOffset(entry->relativePath);
}

int UpdateFolder(const UpdateEntry& entry, const UpdateContext& context, char folder[kPathBuffer]) {
  const char* base = entry.operation == kOperationData ? context.game->dataPath : context.game->installPath;
  return JoinBelow(folder, kPathBuffer, base, context.description->dataFolder);
}

int UpdateDestination(const char* folder, const UpdateEntry& entry, char destination[kPathBuffer]) {
  return JoinBelow(destination, kPathBuffer, folder, entry.relativePath);
}

UpdateAction DecideUpdateAction(const UpdateEntry& entry, int overwriteOnly, const char* destination) {
  const uint32_t attributes = ReadAttributes(destination);
  const bool existingFile = attributes != kAttrMissing && !(attributes & kAttrDirectory);
  if ((overwriteOnly || entry.operation == kOperationOverwrite) && !existingFile) return UpdateAction::Skip;
  if (entry.operation == kOperationData && existingFile) return UpdateAction::Keep;
  return UpdateAction::Extract;
}

ListRefusal FindListRefusal(const UpdateContext& context, const UpdateList& updates, const CopyList& copies) {
  const bool dataFolderInside = PathStaysInside(context.description->dataFolder);
  for (int i = 0; i < updates.count; ++i) {
    const UpdateEntry& entry = updates.entries[i];
    char folder[kPathBuffer];
    char destination[kPathBuffer];
    if (!UpdateFolder(entry, context, folder)) {
      const char* base = entry.operation == kOperationData ? context.game->dataPath : context.game->installPath;
      return {base[0] == 0 ? ListFault::NoFolder : ListFault::TooLong, i};
    }
    if (!dataFolderInside || !PathStaysInside(entry.relativePath)) return {ListFault::Outside, i};
    if (!UpdateDestination(folder, entry, destination)) return {ListFault::TooLong, i};
    const char* base = entry.operation == kOperationData ? context.game->dataPath : context.game->installPath;
    if (!PlainBelow(base, destination)) return {ListFault::Link, i};
  }
  for (int i = 0; i < copies.count; ++i) {
    const CopyEntry& entry = copies.entries[i];
    if (entry.discNumber < 0) return {ListFault::CopyNoDisc, i};
    // The same path is the source below the disc's root and the destination
    // below the install folder: it must stay inside both.
    if (!PathStaysInside(entry.relativePath) || EndsInDots(entry.relativePath)) return {ListFault::CopyOutside, i};
    char destination[kPathBuffer];
    if (CopyText(destination, sizeof destination, context.game->installPath) &&
        JoinPath(destination, sizeof destination, entry.relativePath) &&
        (!PlainBelow(context.game->installPath, destination) || IsLinkAt(destination)))
      return {ListFault::CopyLink, i};
  }
  return {ListFault::None, 0};
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

int ApplyUpdateList(WindowHandle dialog, const UpdateContext& context, const UpdateList& list, int overwriteOnly) {
  char journal[kPathBuffer];
  if (!JournalPath(context.game->installPath, journal)) return RefuseWrite(dialog);
  StagedUpdate update;
  ReadOnlyList keptReadOnly;
  WriteFailure failure{};
  if (!StageUpdateList(context, list, overwriteOnly, journal, &update, &keptReadOnly, &failure)) {
    RemoveJournal(journal);
    return RefuseWriteOf(dialog, failure);
  }
  if (!SwapStagedFiles(update, journal, &failure)) return RefuseWriteOf(dialog, failure);
  for (int i = 0; i < keptReadOnly.count; ++i) WriteAttributes(keptReadOnly.paths[i], kAttrNormal);
  RemoveJournal(journal);
  return 1;
}
