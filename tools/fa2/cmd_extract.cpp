// fa2 extract: members to files.
#include <cstdio>
#include <set>

#include "fa2/commands.h"

namespace {

const char kHelp[] =
    "usage: fa2 extract ARCHIVE [-C DIR] [NAME...]\n"
    "\n"
    "Writes members (unscrambled and decompressed) into DIR (default: the\n"
    "current folder), each with its time stamp as modification time. DIR is\n"
    "made when it is missing, but the folder it is in must exist. Without\n"
    "NAMEs every member is written; names match regardless of letter case.\n"
    "ARCHIVE is a raw archive or an updater .exe.\n";

} // namespace

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
      wanted.insert(fa2::UpperAscii(args[i]));
    }
  }
  if (archivePath.empty()) return Fail("extract: no ARCHIVE given");
  fa2::ArchiveFile file;
  fa2::ParsedArchive archive;
  std::string error;
  if (!file.Open(archivePath, error)) return FailFile("extract: " + error);
  if (!fa2::ParseArchive(file, archive, error)) return FailFile("extract: " + archivePath + ": " + error);
  if (!fa2::MakeFolder(directory, error)) return FailFile("extract: " + error);
  std::set<std::string> written;
  if (!fa2::ExtractMembers(file, archive, directory, wanted, written, error))
    return FailFile("extract: " + archivePath + ": " + error);
  for (const std::string& w : wanted)
    if (!written.count(w)) return Fail("extract: no member named " + w);
  return 0;
}
