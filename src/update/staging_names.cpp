// This run's names beside the game's files: "~fa2<run><kind><n><suffix>",
// <run> eight hexadecimal digits drawn once per run, so that no other
// program can make a name of this run beforehand.
#include <cstring>

#include "update/update.h"

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

} // namespace

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
