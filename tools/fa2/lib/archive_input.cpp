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

bool LoadArchiveFile(const std::string& path, Bytes& file, const uint8_t** base, size_t* size, std::string& error) {
  if (!ReadWholeFile(path, file, error)) return false; // its errors name the path
  if (LocateArchive(file, base, size, error)) return true;
  error = path + ": " + error;
  return false;
}

bool ArchiveFile::Open(const std::string& path, std::string& error) {
  if (!file_.Open(path, error)) return false; // its errors name the path
  uint8_t magic[2] = {};
  offset_ = 0;
  size_ = file_.Size();
  // An archive starts with "FA2\0", an executable with "MZ": an executable
  // cut short before its PE header is still reported as one.
  if (size_ >= 2 && file_.Read(0, magic, 2) && magic[0] == 'M' && magic[1] == 'Z' &&
      !FindUpdateResourceInPe(file_, &offset_, &size_, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

bool CheckWholeArchive(const ByteSource& archive, std::string& error, uint64_t* bytes) {
  ParsedArchive parsed;
  if (!ParseArchive(archive, parsed, error)) return false;
  uint64_t total = 0;
  for (size_t i = 0; i < parsed.entries.size(); ++i) {
    if (!StreamMember(
            archive, parsed, i, [&](const uint8_t*, size_t n) { return total += n, true; }, error))
      return false;
  }
  if (bytes) *bytes = total;
  return true;
}

bool CheckWholeArchive(const uint8_t* base, size_t size, std::string& error, uint64_t* bytes) {
  return CheckWholeArchive(MemorySource(base, size), error, bytes);
}

bool CheckExecutable(const Bytes& image, std::string& error) {
  pe::Image parsed;
  return pe::ParseImage(image, parsed, error);
}

} // namespace fa2
