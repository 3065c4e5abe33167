// Members of a parsed archive to files in a folder.
#include <cstring>
#include <filesystem>

#include "fa2/lib/toolkit.h"

namespace fa2 {

namespace fs = std::filesystem;

std::string UpperAscii(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = char(c - 32);
  return text;
}

bool MakeFolder(const std::string& folder, std::string& error) {
  const fs::path path = fs::u8path(folder);
  std::error_code ec;
  if (fs::is_directory(path, ec)) return true;
  if (fs::exists(path, ec)) {
    error = folder + ": is a file, not a folder";
    return false;
  }
  fs::path normal = path.lexically_normal();
  if (!normal.has_filename()) normal = normal.parent_path(); // "out/"
  const fs::path parent = normal.parent_path();
  if (!parent.empty() && !fs::is_directory(parent, ec)) {
    const std::u8string text = parent.u8string();
    error = "cannot make the folder " + folder + " (no folder " +
            std::string(reinterpret_cast<const char*>(text.data()), text.size()) + ")";
    return false;
  }
  if (fs::create_directory(path, ec) || fs::is_directory(path)) return true;
  error = "cannot make the folder " + folder + " (" + ec.message() + ")";
  return false;
}

bool ExtractMembers(const ByteSource& source, const ParsedArchive& archive, const std::string& folder,
                    const std::set<std::string>& wanted, std::set<std::string>& written, std::string& error) {
  for (size_t i = 0; i < archive.entries.size(); ++i) {
    const ArchiveEntry& entry = archive.entries[i];
    if (IsDigestTable(archive, i)) continue; // checked, not a file of the update
    // A delta is not a file either: what it makes needs its base (ExtractDeltas).
    if (IsDeltaName(EntryName(entry))) continue;
    const std::string name = Cp932ToLocal(EntryName(entry));
    if (!wanted.empty() && !wanted.count(UpperAscii(name))) continue;
    // Members are bare file names; anything that could leave the folder is refused.
    if (name.empty() || name == "." || name == ".." || name.find_first_of("/\\:") != std::string::npos) {
      error = "member " + std::to_string(i) + " has an unsafe name";
      return false;
    }
    if (written.count(UpperAscii(name))) continue;
#ifdef _WIN32
    const std::string target = folder + "\\" + name;
#else
    const std::string target = folder + "/" + name;
#endif
    FileOutput out;
    if (!out.Create(target, error)) return false;
    bool writeFailed = false;
    const bool read = StreamMember(
        source, archive, i,
        [&](const uint8_t* p, size_t n) {
          writeFailed = !out.Append(p, n);
          return !writeFailed;
        },
        error);
    if (writeFailed) error = out.Error();
    if (!read || !out.Commit(error)) return false;
    SetModificationTime(target, entry.timeStamp);
    written.insert(UpperAscii(name));
  }
  return true;
}

bool ExtractMembers(const uint8_t* base, const ParsedArchive& archive, const std::string& folder,
                    const std::set<std::string>& wanted, std::set<std::string>& written, std::string& error) {
  return ExtractMembers(MemorySource(base, archive.header.directoryOffset), archive, folder, wanted, written, error);
}

} // namespace fa2
