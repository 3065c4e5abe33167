// fa2 list and fa2 verify.
#include <cstdio>
#include <cstring>
#include <map>

#include "fa2/commands.h"

namespace {

const char kListHelp[] =
    "usage: fa2 list ARCHIVE\n"
    "\n"
    "One line per member: name, compressed (yes/no), scrambled (yes/no),\n"
    "uncompressed size, stored size, time stamp (UTC), and the SHA-256 of its\n"
    "content that the archive carries (\"-\" for an archive without digests;\n"
    "the digest table itself is not listed). ARCHIVE is a raw archive or an\n"
    "updater .exe carrying one as resource \"UPDATE\" 102.\n"
    "\n"
    "A delta member (\\delta\\NAME, from 'fa2 build --from') has one more column:\n"
    "\"delta NAME: base SIZE bytes, sha256 HEX -> result SIZE bytes, sha256 HEX\",\n"
    "and \"(full member kept)\" when the archive has NAME itself beside it.\n";

const char kVerifyHelp[] =
    "usage: fa2 verify ARCHIVE [--from OLD_FOLDER]\n"
    "\n"
    "Checks the header and directory against the archive's size, decodes\n"
    "every member within bounds and checks it against its SHA-256 when the\n"
    "archive carries digests. Exit 0 with a one-line summary, or 1 naming\n"
    "what is wrong. ARCHIVE is a raw archive or an updater .exe.\n"
    "\n"
    "A delta member is applied as the updater applies it. Without --from its\n"
    "base reads as zeros: every instruction must stay inside the base and the\n"
    "result must come out at exactly its size. With --from, each delta's base\n"
    "is looked for in OLD_FOLDER and below (a file of the base's size and\n"
    "SHA-256, one of the delta's file name first), and the result must match\n"
    "its SHA-256; a delta whose base is not there is an error.\n";

// Reads the headers and the directory alone, and the delta members' headers.
bool Open(const std::string& path, const char* command, fa2::ArchiveFile& file, fa2::ParsedArchive& archive,
          std::vector<fa2::DeltaMember>& deltas, int* exitCode) {
  std::string error;
  if (!file.Open(path, error)) {
    *exitCode = FailFile(std::string(command) + ": " + error);
    return false;
  }
  if (!fa2::ParseArchive(file, archive, error) || !fa2::FindDeltaMembers(file, archive, deltas, error)) {
    *exitCode = FailFile(std::string(command) + ": " + path + ": " + error);
    return false;
  }
  return true;
}

bool OneArchive(const Args& args, const char* command, int* exitCode) {
  if (args.size() == 1 && !args[0].empty() && args[0][0] != '-') return true;
  *exitCode = Fail(std::string(command) + ": expects one ARCHIVE (see 'fa2 " + command + " --help')");
  return false;
}

} // namespace

int RunList(const Args& args) {
  if (WantsHelp(args)) return Usage(kListHelp);
  fa2::ArchiveFile file;
  fa2::ParsedArchive archive;
  std::vector<fa2::DeltaMember> deltas;
  int code;
  if (!OneArchive(args, "list", &code) || !Open(args[0], "list", file, archive, deltas, &code)) return code;
  std::map<size_t, const fa2::DeltaMember*> deltaAt;
  for (const fa2::DeltaMember& d : deltas) deltaAt[d.index] = &d;
  for (size_t i = 0; i < archive.entries.size(); ++i) {
    if (fa2::IsDigestTable(archive, i)) continue;
    const ArchiveEntry& e = archive.entries[i];
    const std::string digest = archive.digests.empty() ? "-" : fa2::HexDigest(archive.digests[i]);
    std::string delta;
    if (auto it = deltaAt.find(i); it != deltaAt.end()) {
      const fa2::DeltaMember& d = *it->second;
      delta = "\tdelta " + fa2::Cp932ToLocal(d.target) + ": base " +
              fa2::DescribeFile(d.header.baseSize, d.header.baseDigest) + " -> result " +
              fa2::DescribeFile(d.header.resultSize, d.header.resultDigest) +
              (d.full >= 0 ? " (full member kept)" : "");
    }
    std::printf("%s\t%s\t%s\t%u\t%u\t%s\t%s%s\n", fa2::Cp932ToLocal(fa2::EntryName(e)).c_str(),
                (e.storageFlags & kMemberCompressed) ? "yes" : "no", e.scrambleMarker == kScrambled ? "yes" : "no",
                e.uncompressedSize, e.storedSize, fa2::FormatUtc(e.timeStamp).c_str(), digest.c_str(), delta.c_str());
  }
  return 0;
}

int RunVerify(const Args& args) {
  if (WantsHelp(args)) return Usage(kVerifyHelp);
  Args paths;
  std::string from;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--from") {
      if (i + 1 >= args.size() || !IsFolder(args[i + 1])) return Fail("verify: --from needs an existing folder");
      from = args[++i];
    } else {
      paths.push_back(args[i]);
    }
  }
  fa2::ArchiveFile file;
  fa2::ParsedArchive archive;
  std::vector<fa2::DeltaMember> deltas;
  int code;
  if (!OneArchive(paths, "verify", &code) || !Open(paths[0], "verify", file, archive, deltas, &code)) return code;
  fa2::BaseFinder bases;
  std::string error;
  if (!from.empty() && !bases.Open(from, error)) return FailFile("verify: " + error);
  std::map<size_t, const fa2::DeltaMember*> deltaAt;
  for (const fa2::DeltaMember& d : deltas) deltaAt[d.index] = &d;
  uint64_t total = 0;
  for (size_t i = 0; i < archive.entries.size(); ++i) {
    uint64_t bytes = 0;
    const auto count = [&](const uint8_t*, size_t n) { return bytes += n, true; };
    const std::string name = fa2::Cp932ToLocal(fa2::EntryName(archive.entries[i]));
    bool ok;
    if (auto it = deltaAt.find(i); it == deltaAt.end()) {
      ok = fa2::StreamMember(file, archive, i, count, error);
    } else {
      // The delta's own bytes count; its result is checked, not counted.
      bytes = archive.entries[i].uncompressedSize;
      const fa2::DeltaMember& d = *it->second;
      fa2::FileSource base;
      const std::string basePath = from.empty() ? "" : bases.Find(d.header, d.target);
      if (!from.empty() && basePath.empty()) {
        error = "no file in " + from + " is its base (" + fa2::DescribeFile(d.header.baseSize, d.header.baseDigest) +
                ")";
        ok = false;
      } else {
        ok = (basePath.empty() || base.Open(basePath, error)) &&
             fa2::ApplyDeltaMember(file, archive, d, basePath.empty() ? nullptr : &base, {}, error);
        if (!ok && !basePath.empty()) error += " (base " + basePath + ")";
      }
    }
    if (!ok) {
      std::fprintf(stderr, "fa2: verify: %s: %s (%s)\n", paths[0].c_str(), error.c_str(), name.c_str());
      return 1;
    }
    if (!fa2::IsDigestTable(archive, i)) total += bytes;
  }
  const size_t members = archive.entries.size() - (archive.digestIndex >= 0 ? 1 : 0);
  std::string applied;
  if (!deltas.empty())
    applied = ", " + std::to_string(deltas.size()) + (deltas.size() == 1 ? " delta" : " deltas") +
              (from.empty() ? " applied to a base of zeros (bounds and sizes)" : " applied to their bases in " + from);
  std::printf("%s: ok, %zu members, %llu bytes, archive %llu bytes, %s%s\n", paths[0].c_str(), members,
              (unsigned long long)total, (unsigned long long)file.Size(),
              archive.digestIndex >= 0 ? "every SHA-256 matches" : "no digests (content unchecked)", applied.c_str());
  return 0;
}
