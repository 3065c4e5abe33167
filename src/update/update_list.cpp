// The update file list: UpdateFile00 to UpdateFile15 of section UPDATE, each
// "[mode,]operation,path" or "[mode,]path", applied from the archive.
// Format: docs/formats.md, "UPDATE.INI".
//
// Members are addressed by bare file name: whatever folders an entry names,
// the member written is the one named by the path's last component.
#include "archive/archive.h"
#include "update/update.h"

namespace {

constexpr const char* kSection = "UPDATE";

int32_t OperationOf(const char* field) {
  for (int32_t op = 1; op < kOperationCount; ++op)
    if (CompareNoCase(field, kLineKinds[op].letter) == 0) return op;
  return kOperationPlain;
}

// A join below a real folder: an empty base would root the result at the
// current drive, which is never where the game lives.
int JoinBelow(char* out, size_t capacity, const char* base, const char* name) {
  if (base[0] == 0) return 0;
  if (!CopyText(out, capacity, base)) return 0;
  return JoinPath(out, capacity, name);
}

} // namespace

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
      ++i; // the trail byte may have the value of a backslash
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

const char* BaseFolder(const UpdateEntry& entry, const UpdateContext& context) {
  return KindOf(entry.operation).dataFolder ? context.game->dataPath : context.game->installPath;
}

void EntryOfLine(const UpdateLine& line, UpdateEntry* entry) {
  entry->operation = line.operation;
  CopyText(entry->relativePath, sizeof entry->relativePath, line.path);
  entry->baseNameOffset = BaseNameOffset(entry->relativePath);
}

int UpdateFolder(const UpdateEntry& entry, const UpdateContext& context, char folder[kPathBuffer]) {
  return JoinBelow(folder, kPathBuffer, BaseFolder(entry, context), context.description->dataFolder);
}

int UpdateDestination(const char* folder, const UpdateEntry& entry, char destination[kPathBuffer]) {
  return JoinBelow(destination, kPathBuffer, folder, entry.relativePath);
}

ListRefusal FindListRefusal(const UpdateContext& context, const UpdateList& updates, const CopyList& copies) {
  const bool dataFolderInside = PathStaysInside(context.description->dataFolder);
  for (int i = 0; i < updates.count; ++i) {
    const UpdateEntry& entry = updates.entries[i];
    char folder[kPathBuffer];
    char destination[kPathBuffer];
    const char* base = BaseFolder(entry, context);
    if (!UpdateFolder(entry, context, folder)) return {base[0] == 0 ? ListFault::NoFolder : ListFault::TooLong, i};
    if (!dataFolderInside || !PathStaysInside(entry.relativePath)) return {ListFault::Outside, i};
    if (!UpdateDestination(folder, entry, destination)) return {ListFault::TooLong, i};
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
