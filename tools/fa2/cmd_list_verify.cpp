// fa2 list and fa2 verify.
#include <cstdio>
#include <cstring>

#include "fa2/commands.h"

namespace {

const char kListHelp[] =
    "usage: fa2 list ARCHIVE\n"
    "\n"
    "One line per member: name, compressed (yes/no), scrambled (yes/no),\n"
    "uncompressed size, stored size, time stamp (UTC), and the SHA-256 of its\n"
    "content that the archive carries (\"-\" for an archive without digests;\n"
    "the digest table itself is not listed). ARCHIVE is a raw archive or an\n"
    "updater .exe carrying one as resource \"UPDATE\" 102.\n";

const char kVerifyHelp[] =
    "usage: fa2 verify ARCHIVE\n"
    "\n"
    "Checks the header and directory against the archive's size, decodes\n"
    "every member within bounds and checks it against its SHA-256 when the\n"
    "archive carries digests. Exit 0 with a one-line summary, or 1 naming\n"
    "what is wrong. ARCHIVE is a raw archive or an updater .exe.\n";

// Reads the headers and the directory alone.
bool Open(const Args& args, const char* command, fa2::ArchiveFile& file, fa2::ParsedArchive& archive, int* exitCode) {
  if (args.size() != 1 || args[0].empty() || args[0][0] == '-') {
    *exitCode = Fail(std::string(command) + ": expects one ARCHIVE (see 'fa2 " + command + " --help')");
    return false;
  }
  std::string error;
  if (!file.Open(args[0], error)) {
    *exitCode = FailFile(std::string(command) + ": " + error);
    return false;
  }
  if (!fa2::ParseArchive(file, archive, error)) {
    *exitCode = FailFile(std::string(command) + ": " + args[0] + ": " + error);
    return false;
  }
  return true;
}

} // namespace

int RunList(const Args& args) {
  if (WantsHelp(args)) return Usage(kListHelp);
  fa2::ArchiveFile file;
  fa2::ParsedArchive archive;
  int code;
  if (!Open(args, "list", file, archive, &code)) return code;
  for (size_t i = 0; i < archive.entries.size(); ++i) {
    if (fa2::IsDigestTable(archive, i)) continue;
    const ArchiveEntry& e = archive.entries[i];
    std::string name(e.name, strnlen(e.name, kNameCapacity));
    const std::string digest = archive.digests.empty() ? "-" : fa2::HexDigest(archive.digests[i]);
    std::printf("%s\t%s\t%s\t%u\t%u\t%s\t%s\n", fa2::Cp932ToLocal(name).c_str(),
                (e.storageFlags & kMemberCompressed) ? "yes" : "no", e.scrambleMarker == kScrambled ? "yes" : "no",
                e.uncompressedSize, e.storedSize, fa2::FormatUtc(e.timeStamp).c_str(), digest.c_str());
  }
  return 0;
}

int RunVerify(const Args& args) {
  if (WantsHelp(args)) return Usage(kVerifyHelp);
  fa2::ArchiveFile file;
  fa2::ParsedArchive archive;
  int code;
  if (!Open(args, "verify", file, archive, &code)) return code;
  uint64_t total = 0;
  for (size_t i = 0; i < archive.entries.size(); ++i) {
    uint64_t bytes = 0;
    std::string error;
    if (!fa2::StreamMember(
            file, archive, i, [&](const uint8_t*, size_t n) { return bytes += n, true; }, error)) {
      std::string name(archive.entries[i].name, strnlen(archive.entries[i].name, kNameCapacity));
      std::fprintf(stderr, "fa2: verify: %s: %s (%s)\n", args[0].c_str(), error.c_str(),
                   fa2::Cp932ToLocal(name).c_str());
      return 1;
    }
    if (!fa2::IsDigestTable(archive, i)) total += bytes;
  }
  const size_t members = archive.entries.size() - (archive.digestIndex >= 0 ? 1 : 0);
  std::printf("%s: ok, %zu members, %llu bytes, archive %llu bytes, %s\n", args[0].c_str(), members,
              (unsigned long long)total, (unsigned long long)file.Size(),
              archive.digestIndex >= 0 ? "every SHA-256 matches" : "no digests (content unchecked)");
  return 0;
}
