// Path join and bounded copy.
#include "platform/platform.h"

#include <cstring>

int JoinPath(char* dest, size_t capacity, const char* name) {
  size_t length = std::strlen(dest);
  bool needSeparator = true;
  if (length > 0) {
    // Walk by whole characters: the second byte of a double-byte character
    // may have the value of a backslash and must not count as one.
    char last = 0;
    for (const char* p = dest; *p;) {
      const char* next = NextCharacter(p);
      last = (next - p == 1) ? *p : 0;
      if (next == p) break;
      p = next;
    }
    needSeparator = last != '\\';
  }
  size_t nameLength = std::strlen(name);
  size_t total = length + (needSeparator ? 1 : 0) + nameLength;
  if (total + 1 > kPathCapacity || total + 2 > capacity) return 0;
  char* out = dest + length;
  if (needSeparator) *out++ = '\\';
  std::memcpy(out, name, nameLength);
  out[nameLength] = 0;
  out[nameLength + 1] = 0;
  return 1;
}

int CopyText(char* dest, size_t capacity, const char* src) {
  if (capacity == 0) return 0;
  size_t length = std::strlen(src);
  int fits = length < capacity;
  if (!fits) length = capacity - 1;
  std::memcpy(dest, src, length);
  dest[length] = 0;
  return fits;
}
