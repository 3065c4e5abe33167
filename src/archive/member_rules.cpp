// What a member's write asks of its destination before anything is made:
// room on the drive, attributes the system would recreate, and a name
// beside it on the same volume.
#include <cstring>

#include "archive/archive.h"

const char kShortageFormat[] = "ディスク容量が足りません。%s ドライブに %llu バイトの空き容量が必要です";

int NameBesidePath(const char* path, const char* name, char out[kPathBuffer]) {
  size_t folder = 0;
  for (const char* p = path; *p;) {
    const char* next = NextCharacter(p);
    if (next - p == 1 && *p == '\\') folder = size_t(p - path) + 1;
    if (next == p) break;
    p = next;
  }
  if (folder + std::strlen(name) + 1 > kPathCapacity) return 0;
  std::memcpy(out, path, folder);
  std::strcpy(out + folder, name);
  return 1;
}

int RefusesRecreate(uint32_t attributes) {
  return attributes != kAttrMissing && (attributes & (kAttrDirectory | kAttrReadOnly | kAttrHidden | kAttrSystem));
}

int MemberShortfall(const char* destination, uint32_t bytes, uint64_t* shortfall, char drive[3]) {
  drive[0] = destination[0];
  drive[1] = destination[0] ? destination[1] : '\0';
  drive[2] = 0;
  uint64_t available = 0;
  if (!FreeBytesAvailable(drive, &available) || uint64_t(bytes) <= available) return 0;
  *shortfall = bytes - available;
  return 1;
}
