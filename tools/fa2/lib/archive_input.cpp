// ARCHIVE arguments: raw archives and updater executables alike, read and
// checked before anything trusts their numbers.
#include "fa2/lib/pe_image.h"
#include "fa2/lib/toolkit.h"

namespace fa2 {

bool LocateArchive(const Bytes& file, const uint8_t** base, size_t* size, std::string& error) {
  // An archive starts with "FA2\0", an executable with "MZ": an executable
  // cut short before its PE header is still reported as one.
  if (file.size() >= 2 && file[0] == 'M' && file[1] == 'Z') {
    size_t offset = 0;
    if (!FindUpdateResourceInPe(file, &offset, size, error)) return false;
    *base = file.data() + offset;
    return true;
  }
  *base = file.data();
  *size = file.size();
  return true;
}

bool LoadArchiveFile(const std::string& path, Bytes& file, const uint8_t** base, size_t* size,
                     std::string& error) {
  if (!ReadWholeFile(path, file, error)) return false; // its errors name the path
  if (LocateArchive(file, base, size, error)) return true;
  error = path + ": " + error;
  return false;
}

bool CheckWholeArchive(const uint8_t* base, size_t size, std::string& error, uint64_t* bytes) {
  ParsedArchive parsed;
  if (!ParseArchive(base, size, parsed, error)) return false;
  uint64_t total = 0;
  for (size_t i = 0; i < parsed.entries.size(); ++i) {
    Bytes data;
    if (!ReadMember(base, parsed, i, data, error)) return false;
    total += data.size();
  }
  if (bytes) *bytes = total;
  return true;
}

bool CheckExecutable(const Bytes& image, std::string& error) {
  pe::Image parsed;
  return pe::ParseImage(image, parsed, error);
}

}  // namespace fa2
