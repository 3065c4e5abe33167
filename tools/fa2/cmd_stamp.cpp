// fa2 stamp: an archive into an updater executable.
#include <cstdio>

#include "fa2/commands.h"

namespace {

const char kHelp[] =
    "usage: fa2 stamp STUB.exe ARCHIVE -o OUT.exe\n"
    "\n"
    "Writes ARCHIVE into a copy of STUB.exe as resource \"UPDATE\" 102 and saves\n"
    "it as OUT.exe. A stub that already carries an archive gets it replaced;\n"
    "every other resource (manifest, dialogs, icons) stays as it was. The\n"
    "archive is checked completely first: a damaged one is refused. ARCHIVE is\n"
    "a raw archive (from 'fa2 pack' or any other packer) or an updater .exe\n"
    "whose archive is taken over. OUT.exe appears only once it is complete.\n"
    "\n"
    "An Authenticode signature of STUB.exe does not survive: it is removed (with\n"
    "a warning), and OUT.exe comes out exactly as from the unsigned stub, ready\n"
    "to be signed again (osslsigncode sign, or signtool on Windows).\n"
    "\n"
    "An archive with delta members (from 'fa2 build --from') is stamped only into\n"
    "a stub that can apply them: one whose RCDATA resource FA2FEATURES says\n"
    "\"delta1\". Another stub is refused and nothing is written.\n";

} // namespace

bool StampAndWrite(const fa2::Bytes& stub, const std::string& stubPath, const fa2::ByteSource& archive,
                   const std::string& output, std::string& error) {
  // Only an updater that knows deltas may carry them: another would find
  // no member for their files.
  fa2::ParsedArchive parsed;
  if (!fa2::ParseArchive(archive, parsed, error)) return false;
  for (const ArchiveEntry& e : parsed.entries)
    if (fa2::IsDeltaName(fa2::EntryName(e)) && !fa2::StubHasFeature(stub, fa2::kDeltaFeature)) {
      error = stubPath + " cannot apply delta members such as " + fa2::Cp932ToLocal(fa2::EntryName(e)) +
              " (its FA2FEATURES resource does not say \"" + fa2::kDeltaFeature +
              "\"): use a newer updater stub; nothing written";
      return false;
    }
  fa2::StampReport report;
  fa2::StampedImage layout;
  // Laid out once first, so that a stub that cannot take the archive leaves no file behind.
  if (!fa2::StampUpdateResourceAround(stub, archive.Size(), layout, error, &report)) {
    error = stubPath + ": " + error;
    return false;
  }
  if (report.droppedSignature)
    std::fprintf(stderr,
                 "fa2: warning: %s carries an Authenticode signature, which cannot cover the new archive: "
                 "it is removed, and %s must be signed again\n",
                 stubPath.c_str(), output.c_str());
  return fa2::WriteStampedUpdater(stub, archive, output, error);
}

int RunStamp(const Args& args) {
  if (WantsHelp(args)) return Usage(kHelp);
  std::string output;
  Args paths;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "-o") {
      if (i + 1 >= args.size()) return Fail("stamp: -o needs a file name");
      output = args[++i];
    } else if (args[i].size() > 1 && args[i][0] == '-') {
      return Fail("stamp: unknown option '" + args[i] + "' (see 'fa2 stamp --help')");
    } else {
      paths.push_back(args[i]);
    }
  }
  if (paths.size() != 2) return Fail("stamp: expects STUB.exe and ARCHIVE (see 'fa2 stamp --help')");
  if (output.empty()) return Fail("stamp: no output given (-o OUT.exe)");
  std::string error;
  fa2::Bytes stub;
  if (!fa2::ReadWholeFile(paths[0], stub, error)) return FailFile("stamp: " + error + "; nothing written");
  if (!fa2::CheckExecutable(stub, error)) return FailFile("stamp: " + paths[0] + ": " + error + "; nothing written");
  fa2::ArchiveFile archive;
  if (!archive.Open(paths[1], error)) return FailFile("stamp: " + error + "; nothing written");
  if (!fa2::CheckWholeArchive(archive, error))
    return FailFile("stamp: " + paths[1] + ": " + error + "; nothing written");
  if (!StampAndWrite(stub, paths[0], archive, output, error)) return FailFile("stamp: " + error);
  std::printf("%s: archive of %llu bytes stamped into %s\n", output.c_str(), (unsigned long long)archive.Size(),
              paths[0].c_str());
  return 0;
}
