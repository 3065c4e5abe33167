// The update journal: what a run has staged and swapped, so that the next
// run can put the game back to one whole version after a crash or a power
// failure.
// Format: docs/formats.md, "The journal".
//
// The journal is "~fa2update.jnl" in the install folder, a small text file
// in the system's code page, written whole as "~fa2update.new" and renamed
// over it (so it is always one complete version), lines ending in CR LF:
//
//   FA2 journal 1
//   state swapping
//   file 1 20<TAB>C:\Game\GAME.DAT<TAB>C:\Game\~fa2123s0.new<TAB>C:\Game\~fa2123s0.old
//   file 0 0<TAB>C:\Data\NEW.DAT<TAB>C:\Data\~fa2123s1.new<TAB>C:\Data\~fa2123s1.old
//   folder<TAB>C:\Game\~fa2123c2
//
// "state" is one of:
//   staging    new files are being written beside their destinations; no
//              game file has been touched yet;
//   swapping   destinations are being replaced; each one replaced has its
//              old file at the backup path until the end;
//   committed  every destination holds its new file; only backups remain.
// Each "file" line: whether the destination had a file before (1/0), that
// file's attributes (hexadecimal), then the destination, staged and backup
// paths. Paths never hold a tab. A "folder" line names a staging folder of
// the run (a disc copy of a folder, before it is moved into place).
//
// Recovery (at the next start, before anything else is done to the game):
// "staging" deletes the staged files; "swapping" puts every backup back over
// its destination, deletes the new files of destinations that had none, and
// deletes the staged files; "committed" deletes the backups. A staging
// folder is deleted in any state. Then the journal itself goes. Every step
// can be repeated, so a recovery that is itself interrupted finishes at the
// next start.
//
// The journal lies in a folder the player's account may write, so it is
// trusted for nothing but the choice among what this updater would do
// anyway: a "file" line is acted on only when its destination is one that
// a line of this update names (confined, below the install or data folder,
// reached without a link) and its staged and backup paths are this
// updater's own names beside it; a "folder" line only for a staging folder
// of its own directly in the install folder. Attributes put back are the
// four a file may carry. Any other line is left alone, the journal with it,
// and the player is told. (A signed or administrators-only journal would
// add a key or a folder to keep; these rules need neither, and a forged
// journal can at most roll back files of the game, which the same account
// could change directly.)
#include <cstring>

#include "archive/archive.h"
#include "update/update.h"

const char kJournalIgnoredText[] =
    "中断されたアップデートの記録（~fa2update.jnl）に、このアップデートのものではないファイルが含まれていたため、"
    "それらには手を付けませんでした";

namespace {

constexpr uint32_t kJournalCapacity = 24 * 1024;
const char* const kStateNames[] = {"staging", "swapping", "committed"};

void Append(char* text, size_t capacity, size_t* length, const char* piece) {
  const size_t n = std::strlen(piece);
  if (*length + n < capacity) {
    std::memcpy(text + *length, piece, n);
    *length += n;
    text[*length] = 0;
  }
}

// Splits `line` at tabs into up to `count` fields (in place).
int SplitTabs(char* line, char* fields[], int count) {
  int n = 0;
  fields[n++] = line;
  for (char* p = line; *p && n < count; ++p) {
    if (*p == '\t') {
      *p = 0;
      fields[n++] = p + 1;
    }
  }
  return n;
}

uint32_t ParseHex(const char* text) {
  uint32_t value = 0;
  for (const char* p = text; *p; ++p) {
    const char c = *p;
    const int digit = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
    if (digit < 0) break;
    value = value * 16 + uint32_t(digit);
  }
  return value;
}

bool Exists(const char* path) { return ReadAttributes(path) != kAttrMissing; }

// "...\~fa2update.jnl" -> "...\~fa2update.new".
void NextVersionPath(const char* journal, char out[kPathBuffer]) {
  CopyText(out, kPathBuffer, journal);
  const size_t n = std::strlen(out);
  if (n >= 3) std::memcpy(out + n - 3, "new", 3);
}

// Only a staging folder of this updater's directly in the install folder,
// and no link, is ever deleted whole, whatever a journal says.
bool StagingFolderOf(const char* installPath, const char* folder) {
  char beside[kPathBuffer];
  return CopyText(beside, sizeof beside, installPath) && JoinPath(beside, sizeof beside, "~fa2update.jnl") &&
         IsOwnStagingName(beside, folder, nullptr) && PlainBelow(installPath, folder) && !IsLinkAt(folder);
}

// The base folder of `destination` when one of this update's confined lines
// names it (an update line of any mode, or a copy line's file), else null.
const char* KnownDestination(const UpdateContext& context, const char* destination) {
  const InstalledGame& game = *context.game;
  if (!PathStaysInside(context.description->dataFolder)) return nullptr;
  for (int index = 0; index < kUpdateListCapacity; ++index) {
    char key[16], value[kUpdateValueCapacity];
    FormatText(key, sizeof key, "UpdateFile%02i", index);
    if (!ReadDescriptionValue("UPDATE", key, value, sizeof value)) break;
    UpdateLine line;
    ParseUpdateLine(value, &line);
    if (KindOf(line.operation).check || !PathStaysInside(line.path)) continue;
    UpdateEntry entry;
    EntryOfLine(line, &entry);
    char folder[kPathBuffer], path[kPathBuffer];
    if (UpdateFolder(entry, context, folder) && UpdateDestination(folder, entry, path) &&
        CompareNoCase(path, destination) == 0)
      return BaseFolder(entry, context);
  }
  for (int index = 0; index < kCopyListCapacity; ++index) {
    char key[16], value[kCopyValueCapacity];
    FormatText(key, sizeof key, "CopyFile%02i", index);
    if (!ReadDescriptionValue("UPDATE", key, value, sizeof value)) break;
    CopyLine line;
    char path[kPathBuffer];
    if (ParseCopyLine(value, &line) && PathStaysInside(line.path) && CopyText(path, sizeof path, game.installPath) &&
        JoinPath(path, sizeof path, line.path) && CompareNoCase(path, destination) == 0)
      return game.installPath;
  }
  return nullptr;
}

// Whether a journal's file line is one this updater would have written.
bool OwnFileLine(const UpdateContext& context, const StagedFile& f) {
  const char* base = KnownDestination(context, f.destination);
  return base && IsOwnStagingName(f.destination, f.staged, ".new") &&
         IsOwnStagingName(f.destination, f.backup, ".old") && PlainBelow(base, f.destination) &&
         PlainBelow(base, f.staged) && PlainBelow(base, f.backup);
}

} // namespace

int JournalPath(const char* installPath, char path[kPathBuffer]) {
  if (installPath[0] == 0 || !CopyText(path, kPathBuffer, installPath)) return 0;
  return JoinPath(path, kPathBuffer, "~fa2update.jnl");
}

int WriteJournal(const char* journal, JournalState state, const StagedUpdate& update, const char* folder) {
  char* text = static_cast<char*>(AllocateBlock(kJournalCapacity, true));
  if (!text) return 0;
  size_t length = 0;
  Append(text, kJournalCapacity, &length, "FA2 journal 1\r\nstate ");
  Append(text, kJournalCapacity, &length, kStateNames[int(state)]);
  Append(text, kJournalCapacity, &length, "\r\n");
  for (int i = 0; i < update.count; ++i) {
    const StagedFile& f = update.files[i];
    char head[48];
    FormatText(head, sizeof head, "file %i ", int(f.hadOriginal));
    Append(text, kJournalCapacity, &length, head);
    static const char kHex[] = "0123456789abcdef";
    char hex[9];
    for (int d = 0; d < 8; ++d) hex[d] = kHex[(f.attributes >> (28 - 4 * d)) & 15];
    hex[8] = 0;
    Append(text, kJournalCapacity, &length, hex);
    const char* const paths[] = {f.destination, f.staged, f.backup};
    for (const char* path : paths) {
      Append(text, kJournalCapacity, &length, "\t");
      Append(text, kJournalCapacity, &length, path);
    }
    Append(text, kJournalCapacity, &length, "\r\n");
  }
  if (folder) {
    Append(text, kJournalCapacity, &length, "folder\t");
    Append(text, kJournalCapacity, &length, folder);
    Append(text, kJournalCapacity, &length, "\r\n");
  }
  char next[kPathBuffer];
  NextVersionPath(journal, next);
  RemoveFile(next); // made new below: a link left at the name is never written through
  const int ok = length + 1 < kJournalCapacity && WriteAndStamp(next, text, uint32_t(length), nullptr) &&
                 ReplaceFile(next, journal);
  if (!ok) RemoveFile(next);
  FreeBlock(text);
  return ok;
}

void RemoveJournal(const char* journal) {
  char next[kPathBuffer];
  NextVersionPath(journal, next);
  RemoveFile(next);
  RemoveFile(journal);
}

int RecoverInterruptedUpdate(const UpdateContext& context) {
  const char* installPath = context.game->installPath;
  char journal[kPathBuffer], next[kPathBuffer];
  if (!JournalPath(installPath, journal)) return 0;
  NextVersionPath(journal, next);
  RemoveFile(next); // a version never completed: the one before it holds
  FileHandle file = OpenFileForRead(journal);
  if (file == kInvalidFile) return 0;
  const uint32_t size = FileSizeLow(file);
  char* text = size < kJournalCapacity ? static_cast<char*>(AllocateBlock(size + 1, true)) : nullptr;
  uint32_t done = 0;
  const int read = text && ReadFromFile(file, text, size, &done) && done == size;
  CloseFile(file);
  if (!read) {
    if (text) FreeBlock(text);
    return 0; // unreadable: left for support rather than guessed at
  }
  text[size] = 0;

  int state = -1;
  StagedUpdate update;
  update.count = 0;
  char folder[kPathBuffer] = {};
  for (char* line = text; *line;) {
    char* end = line;
    while (*end && *end != '\r' && *end != '\n') ++end;
    const char saved = *end;
    *end = 0;
    if (std::strncmp(line, "state ", 6) == 0) {
      for (int s = 0; s < 3; ++s)
        if (std::strcmp(line + 6, kStateNames[s]) == 0) state = s;
    } else if (std::strncmp(line, "folder\t", 7) == 0) {
      CopyText(folder, sizeof folder, line + 7);
    } else if (std::strncmp(line, "file ", 5) == 0 && update.count < kUpdateListCapacity) {
      char* fields[4];
      if (SplitTabs(line + 5, fields, 4) == 4) {
        StagedFile& f = update.files[update.count++];
        f.hadOriginal = fields[0][0] == '1';
        f.attributes = fields[0][1] == ' ' ? ParseHex(fields[0] + 2) : 0;
        CopyText(f.destination, sizeof f.destination, fields[1]);
        CopyText(f.staged, sizeof f.staged, fields[2]);
        CopyText(f.backup, sizeof f.backup, fields[3]);
      }
    }
    line = saved ? end + 1 : end;
  }
  FreeBlock(text);
  if (state < 0) return 0;
  bool ignored = folder[0] && !StagingFolderOf(installPath, folder);
  if (folder[0] && !ignored && Exists(folder) && ShellDelete(folder) != 0) return 0;

  // Newest first, as a rollback: two lines may replace one destination in turn.
  for (int i = update.count - 1; i >= 0; --i) {
    const StagedFile& f = update.files[i];
    if (!OwnFileLine(context, f)) {
      ignored = true;
      continue;
    }
    if (state == int(JournalState::Swapping)) {
      if (Exists(f.backup)) {
        // The old file is still whole at its backup path: it goes back.
        if (Exists(f.destination)) RemoveFile(f.destination);
        if (!ReplaceFile(f.backup, f.destination)) return 0;
        WriteAttributes(f.destination, f.attributes & (kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrArchive));
      } else if (!f.hadOriginal && !Exists(f.staged) && Exists(f.destination)) {
        RemoveFile(f.destination); // a file this update added
      }
    }
    if (state == int(JournalState::Committed)) RemoveFile(f.backup);
    RemoveFile(f.staged);
  }
  if (ignored) return 2;
  RemoveFile(journal);
  return 1;
}
