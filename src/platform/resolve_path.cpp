// A path as Windows resolves it before it opens anything, for the seams that
// keep their own file system (the test machine, the tools' dry run).
//
// The rules: '\' and '/' both separate components, walked by whole
// characters (the second byte of a double-byte character never separates);
// empty and "." components go; ".." takes the component before it away but
// never the first one (the drive, or the empty one before a leading
// separator), and at the start it goes too; a name other than "." and ".."
// loses its trailing dots and blanks (whole characters), and goes when
// nothing is left. The first component stays even when it is empty (a
// rooted path) or "." (a path that starts with it). What is left is joined
// with '\'; letter case is kept. The result is never longer than the path.
#include "platform/platform.h"

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// The length of `text` (`length` bytes) up to its last single-byte '\'.
size_t LastSeparator(const char* text, size_t length) {
  size_t last = 0;
  for (size_t i = 0; i < length; i += Cp932IsLeadByte(uint8_t(text[i])) && i + 1 < length ? 2 : 1)
    if (text[i] == '\\') last = i;
  return last;
}

} // namespace

int ResolveWindowsPath(const char* path, char* out, size_t capacity) {
  if (capacity == 0) return 0;
  size_t length = 0; // bytes of `out` so far
  size_t parts = 0;  // components in `out`
  auto append = [&](const char* text, size_t size) {
    if (length + size >= capacity) return false;
    for (size_t i = 0; i < size; ++i) out[length++] = text[i];
    return true;
  };
  for (const char* p = path;; ++p) {
    const char* start = p;
    size_t kept = 0; // bytes up to the last character that is not a dot or blank
    while (*p != 0 && !IsSeparator(*p)) {
      const char* next = Cp932NextCharacter(p);
      if (next - p == 2 || (*p != '.' && *p != ' ')) kept = size_t(next - start);
      p = next;
    }
    const size_t size = size_t(p - start);
    const bool dot = size == 1 && start[0] == '.';
    const bool dotDot = size == 2 && start[0] == '.' && start[1] == '.';
    if (dotDot) {
      if (parts > 1) {
        length = LastSeparator(out, length);
        --parts;
      }
    } else if (!dot && kept > 0) {
      if ((parts > 0 && !append("\\", 1)) || !append(start, kept)) break;
      ++parts;
    } else if (parts == 0) {
      if (!append(start, dot ? 1 : 0)) break;
      ++parts;
    }
    if (*p == 0) {
      out[length] = 0;
      return 1;
    }
  }
  out[0] = 0;
  return 0;
}
