// fa2 extract: members to files.
#include <cstdio>
#include <set>

#include "fa2/commands.h"

namespace {

const char kHelp[] =
    "usage: fa2 extract ARCHIVE [-C DIR] [--from OLD_FOLDER] [NAME...]\n"
    "\n"
    "Writes members (unscrambled and decompressed) into DIR (default: the\n"
    "current folder), each with its time stamp as modification time. DIR is\n"
    "made when it is missing, but the folder it is in must exist. Without\n"
    "NAMEs every member is written; names match regardless of letter case.\n"
    "ARCHIVE is a raw archive or an updater .exe.\n"
    "\n"
    "A delta member (\\delta\\NAME, from 'fa2 build --from') is never written\n"
    "itself: it makes NAME out of the file it was made against (its base).\n"
    "When the archive has NAME itself beside it, that is written. Else, with\n"
    "--from, the base is looked for in OLD_FOLDER and below (a file of the\n"
    "base's size and SHA-256, one named NAME first), the delta applied to it\n"
    "and NAME written once its SHA-256 matches. Without --from such a NAME is\n"
    "not written and a line on stderr says so.\n"
    "\n"
    "Exit status: 0 when everything asked for was written (without --from, a\n"
    "delta's NAME counts as asked for only when named); 1 when a member cannot\n"
    "be read or written, or a delta's base is not found or does not give its\n"
    "result (the other members are written); 2 usage errors.\n";

// Whether a member's name stays inside the folder it is written to.
bool SafeName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\:") == std::string::npos;
}

} // namespace

int RunExtract(const Args& args) {
  if (WantsHelp(args)) return Usage(kHelp);
  std::string archivePath, directory = ".", from;
  std::set<std::string> wanted;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "-C") {
      if (i + 1 >= args.size()) return Fail("extract: -C needs a folder");
      directory = args[++i];
    } else if (args[i] == "--from") {
      if (i + 1 >= args.size() || !IsFolder(args[i + 1])) return Fail("extract: --from needs an existing folder");
      from = args[++i];
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
  std::vector<fa2::DeltaMember> deltas;
  std::string error;
  if (!file.Open(archivePath, error)) return FailFile("extract: " + error);
  if (!fa2::ParseArchive(file, archive, error) || !fa2::FindDeltaMembers(file, archive, deltas, error))
    return FailFile("extract: " + archivePath + ": " + error);
  fa2::BaseFinder bases;
  if (!from.empty() && !bases.Open(from, error)) return FailFile("extract: " + error);
  if (!fa2::MakeFolder(directory, error)) return FailFile("extract: " + error);
  std::set<std::string> written;
  if (!fa2::ExtractMembers(file, archive, directory, wanted, written, error))
    return FailFile("extract: " + archivePath + ": " + error);

  // What the deltas make, for the names no full member gave.
  int failed = 0;
  for (const fa2::DeltaMember& d : deltas) {
    const std::string name = fa2::Cp932ToLocal(d.target), upper = fa2::UpperAscii(name);
    const bool named = wanted.count(upper) != 0;
    if ((!wanted.empty() && !named) || written.count(upper)) continue;
    const std::string base = fa2::DescribeFile(d.header.baseSize, d.header.baseDigest);
    std::string why;
    if (!SafeName(name)) {
      why = "its name could leave the folder";
    } else if (from.empty()) {
      std::fprintf(stderr,
                   "fa2: extract: %s: not written: it comes as a delta, which needs its base (%s): give --from "
                   "OLD_FOLDER with the version it updates\n",
                   name.c_str(), base.c_str());
      failed += named;
      continue;
    } else if (const std::string path = bases.Find(d.header, d.target); path.empty()) {
      why = "no file in " + from + " is its base (" + base + ")";
    } else {
#ifdef _WIN32
      const std::string target = directory + "\\" + name;
#else
      const std::string target = directory + "/" + name;
#endif
      fa2::FileSource source;
      fa2::FileOutput out;
      bool writeFailed = false;
      const auto write = [&](const uint8_t* p, size_t n) {
        writeFailed = !out.Append(p, n);
        if (writeFailed) error = out.Error();
        return !writeFailed;
      };
      if (source.Open(path, error) && out.Create(target, error) &&
          fa2::ApplyDeltaMember(file, archive, d, &source, write, error) && out.Commit(error)) {
        fa2::SetModificationTime(target, archive.entries[d.index].timeStamp);
        written.insert(upper);
        continue;
      }
      why = writeFailed ? error : error + " (base " + path + ")";
    }
    std::fprintf(stderr, "fa2: extract: %s: not written: %s\n", name.c_str(), why.c_str());
    ++failed;
  }
  for (const std::string& w : wanted) {
    bool delta = false;
    for (const fa2::DeltaMember& d : deltas) delta |= fa2::UpperAscii(fa2::Cp932ToLocal(d.target)) == w;
    if (!written.count(w) && !delta) return Fail("extract: no member named " + w);
  }
  return failed ? 1 : 0;
}
