// Links: the update never writes, renames, copies or deletes through a
// junction, a symbolic link or a mount point (anything that reports
// kAttrReparsePoint) from a game folder down to the file it acts on.
//
// The game's folders can be written by the player's own account, and the
// updater runs as administrator: a link put in place of a folder below the
// install folder would send its writes anywhere on the machine. So the base
// folder itself and every folder below it on the way to a path must be
// plain. The check is made before anything is written and again right
// before each file is created, renamed or deleted. A folder that does not
// exist yet is plain (nothing below it exists either). The path's own entry
// may be a link where the updater only renames it (the link itself moves,
// nothing is reached through it); where it would read, copy or merge
// through it, IsLinkAt says to stop. The paths are the updater's own joins
// of a base folder and a confined line.
#include <cstring>

#include "update/update.h"

int IsLinkAt(const char* path) {
  const uint32_t attributes = ReadAttributes(path);
  return attributes != kAttrMissing && (attributes & kAttrReparsePoint) ? 1 : 0;
}

int PlainBelow(const char* base, const char* path) {
  const size_t n = std::strlen(base);
  if (n == 0 || std::strncmp(path, base, n) != 0) return 0;
  if (IsLinkAt(base)) return 0;
  char prefix[kPathBuffer];
  if (!CopyText(prefix, sizeof prefix, path)) return 0;
  // Each separator after the base ends one folder on the way.
  for (const char* p = path + n;; p = NextCharacter(p)) {
    if (*p == 0) return 1;
    if (*p != '\\') continue;
    prefix[p - path] = 0;
    if (p > path + n) {
      const uint32_t attributes = ReadAttributes(prefix);
      if (attributes == kAttrMissing) return 1;
      if (attributes & kAttrReparsePoint) return 0;
    }
    prefix[p - path] = '\\';
  }
}

int InWindowsFolder(const char* path) {
  char windows[kPathBuffer];
  WindowsFolder(windows, sizeof windows);
  const size_t n = std::strlen(windows);
  if (n < 3) return 0;
  char head[kPathBuffer];
  if (!CopyText(head, sizeof head, path) || std::strlen(head) < n) return 0;
  const char after = head[n];
  head[n] = 0;
  return CompareNoCase(head, windows) == 0 && (after == 0 || after == '\\' || after == '/');
}
