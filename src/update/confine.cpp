// Confinement of the paths that update and copy lines name.
//
// The updater runs with administrator rights, so a line must never reach a
// file outside the folder it is meant for. A path is accepted only when, read
// the way Windows reads it, it stays below the folder it is joined to:
//
//   - relative: no leading "\" or "/" (rooted, which includes "\\server\share"
//     and "\\?\" / "\\.\" device paths), no colon anywhere (a drive, "C:x"
//     relative to a drive's current folder, or a file's alternate stream);
//   - "\" and "/" both separate components (walked by whole characters: the
//     second byte of a double-byte character is never a separator), and
//     empty components ("a\\b") are ignored, as Windows does;
//   - "." stays, ".." climbs one component and may never climb above the
//     start; any other component made only of dots and blanks ("...", ". .")
//     is refused, since Windows trims trailing dots and blanks from names and
//     such a component would not mean what it says;
//   - no component is a device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9,
//     CONIN$, CONOUT$, with or without an extension): those open a device,
//     not a file in the folder;
//   - something is left: a path whose "." and ".." lead back to the start
//     ("a\..", ".", ".\") names the folder itself, not a file or folder in
//     it. The empty path is no path and stays the caller's to judge (an empty
//     DataFolder is none).
//
// ConfinePath says which of these a refused path breaks first, reading it
// from the left; PathStaysInside is its yes or no.
#include "update/update.h"

namespace {

constexpr int kMaxDepth = 1 << 20;

char Upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

// `name` (length n) up to its first dot, trailing blanks dropped, compared
// with the device names.
bool IsDeviceName(const char* name, int n) {
  int stem = 0;
  while (stem < n && name[stem] != '.') ++stem;
  while (stem > 0 && name[stem - 1] == ' ') --stem;
  if (stem < 3 || stem > 7) return false;
  char upper[8];
  for (int i = 0; i < stem; ++i) upper[i] = Upper(name[i]);
  upper[stem] = 0;
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* device : kDevices) {
    int i = 0;
    while (device[i] && device[i] == upper[i]) ++i;
    if (device[i] == 0 && upper[i] == 0) return true;
  }
  const bool port = (upper[0] == 'C' && upper[1] == 'O' && upper[2] == 'M') ||
                    (upper[0] == 'L' && upper[1] == 'P' && upper[2] == 'T');
  return stem == 4 && port && upper[3] >= '1' && upper[3] <= '9';
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// One component's verdict: its effect on the depth, or why it is refused.
enum class Component { Stay, Down, Up, DotsAndBlanks, Device };

Component Classify(const char* name, int n) {
  if (n == 0) return Component::Stay;
  bool dotsAndBlanks = true;
  for (int i = 0; i < n; ++i)
    if (name[i] != '.' && name[i] != ' ') dotsAndBlanks = false;
  if (dotsAndBlanks) {
    if (n == 1) return Component::Stay;                 // "."
    if (n == 2 && name[1] == '.') return Component::Up; // ".."
    return Component::DotsAndBlanks;                    // "...", ". ", " "
  }
  return IsDeviceName(name, n) ? Component::Device : Component::Down;
}

// A rooted path: "\\?\" and "\\.\" open devices, any other "\\" a server.
Confinement Rooted(const char* path) {
  if (!IsSeparator(path[1])) return Confinement::Rooted;
  const bool device = (path[2] == '.' || path[2] == '?') && (path[3] == 0 || IsSeparator(path[3]));
  return device ? Confinement::DevicePath : Confinement::Server;
}

} // namespace

Confinement ConfinePath(const char* path) {
  if (IsSeparator(path[0])) return Rooted(path);
  int depth = 0;
  const char* component = path;
  for (const char* p = path;; ++p) {
    const char c = *p;
    if (c != 0 && IsLeadByte(uint8_t(c))) {
      if (p[1] == 0) return Confinement::CutCharacter;
      ++p;
      continue;
    }
    // "X:" as the first character is a drive; a colon anywhere else names a stream.
    if (c == ':') return p == path + 1 ? Confinement::Drive : Confinement::Stream;
    if (c != 0 && !IsSeparator(c)) continue;
    switch (Classify(component, int(p - component))) {
      case Component::Stay: break;
      case Component::Down:
        if (depth < kMaxDepth) ++depth;
        break;
      case Component::Up:
        if (--depth < 0) return Confinement::Climbs;
        break;
      case Component::DotsAndBlanks: return Confinement::DotsAndBlanks;
      case Component::Device: return Confinement::Device;
    }
    if (c == 0) return depth == 0 && p != path ? Confinement::FoldsToStart : Confinement::Inside;
    component = p + 1;
  }
}

int PathStaysInside(const char* path) { return ConfinePath(path) == Confinement::Inside ? 1 : 0; }
