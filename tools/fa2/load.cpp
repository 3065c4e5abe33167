// Opening ARCHIVE arguments: raw archives and updater executables alike.
#include "fa2/commands.h"

bool LoadArchiveFile(const std::string& path, fa2::Bytes& file, const uint8_t** base, size_t* size,
                     std::string& error) {
  if (!fa2::ReadWholeFile(path, file, error)) return false;
  if (fa2::LooksLikePe(file)) {
    size_t offset = 0;
    if (!fa2::FindUpdateResourceInPe(file, &offset, size, error)) {
      error = path + ": " + error;
      return false;
    }
    *base = file.data() + offset;
    return true;
  }
  *base = file.data();
  *size = file.size();
  return true;
}
