// fa2 extract: members to files.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>

#include "fa2/commands.h"

namespace {

const char kHelp[] =
    "usage: fa2 extract ARCHIVE [-C DIR] [NAME...]\n"
    "\n"
    "Writes members (unscrambled and decompressed) into DIR (default: the\n"
    "current folder), each with its time stamp as modification time. Without\n"
    "NAMEs every member is written; names match regardless of letter case.\n"
    "ARCHIVE is a raw archive or an updater .exe.\n";

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = char(c - 32);
  return s;
}

}  // namespace

int RunExtract(const Args& args) {
  if (WantsHelp(args)) return Usage(kHelp);
  std::string archivePath, directory = ".";
  std::set<std::string> wanted;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "-C") {
      if (i + 1 >= args.size()) return Fail("extract: -C needs a folder");
      directory = args[++i];
    } else if (args[i].size() > 1 && args[i][0] == '-') {
      return Fail("extract: unknown option '" + args[i] + "' (see 'fa2 extract --help')");
    } else if (archivePath.empty()) {
      archivePath = args[i];
    } else {
      wanted.insert(Upper(args[i]));
    }
  }
  if (archivePath.empty()) return Fail("extract: no ARCHIVE given");
  fa2::Bytes file;
  const uint8_t* base;
  size_t size;
  fa2::ParsedArchive archive;
  std::string error;
  if (!LoadArchiveFile(archivePath, file, &base, &size, error) || !fa2::ParseArchive(base, size, archive, error)) {
    std::fprintf(stderr, "fa2: %s: %s\n", archivePath.c_str(), error.c_str());
    return 1;
  }
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::u8path(directory), ec);
  std::set<std::string> written;
  for (size_t i = 0; i < archive.entries.size(); ++i) {
    std::string name = fa2::Cp932ToLocal(std::string(archive.entries[i].name, strnlen(archive.entries[i].name, kNameCapacity)));
    if (!wanted.empty() && !wanted.count(Upper(name))) continue;
    // Members are bare file names; anything that could leave DIR is refused.
    if (name.empty() || name == "." || name == ".." || name.find_first_of("/\\:") != std::string::npos) {
      std::fprintf(stderr, "fa2: %s: member %zu has an unsafe name, skipped\n", archivePath.c_str(), i);
      return 1;
    }
    if (written.count(Upper(name))) continue; // the first of equal names wins, as in the updater
    fa2::Bytes data;
    if (!fa2::ReadMember(base, archive, i, data, error)) {
      std::fprintf(stderr, "fa2: %s: %s\n", archivePath.c_str(), error.c_str());
      return 1;
    }
    std::string target = directory + "/" + name;
    if (!fa2::WriteWholeFileAtomically(target, data, error)) return Fail("extract: " + error);
    fa2::SetModificationTime(target, archive.entries[i].timeStamp);
    written.insert(Upper(name));
  }
  for (const std::string& w : wanted)
    if (!written.count(w)) return Fail("extract: no member named " + w);
  return 0;
}
