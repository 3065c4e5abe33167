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
  std::error_code ec;
  fs::create_directories(fs::u8path(folder), ec);
  if (!ec && fs::is_directory(fs::u8path(folder), ec)) return true;
  error = "cannot make the folder " + folder + " (" + (ec ? ec.message() : std::string("a file is in the way")) + ")";
  return false;
}

bool ExtractMembers(const ByteSource& source, const ParsedArchive& archive, const std::string& folder,
                    const std::set<std::string>& wanted, std::set<std::string>& written, std::string& error) {
  for (size_t i = 0; i < archive.entries.size(); ++i) {
    const ArchiveEntry& entry = archive.entries[i];
    if (IsDigestTable(archive, i)) continue;  // checked, not a file of the update
    const std::string name = Cp932ToLocal(std::string(entry.name, strnlen(entry.name, kNameCapacity)));
    if (!wanted.empty() && !wanted.count(UpperAscii(name))) continue;
    // Members are bare file names; anything that could leave the folder is refused.
    if (name.empty() || name == "." || name == ".." || name.find_first_of("/\\:") != std::string::npos) {
      error = "member " + std::to_string(i) + " has an unsafe name";
      return false;
    }
    if (written.count(UpperAscii(name))) continue;
    const std::string target = folder + "/" + name;
    FileOutput out;
    if (!out.Create(target, error)) return false;
    bool writeFailed = false;
    const bool read = StreamMember(source, archive, i,
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
  return ExtractMembers(MemorySource(base, archive.header.directoryOffset), archive, folder, wanted, written,
                        error);
}

}  // namespace fa2
