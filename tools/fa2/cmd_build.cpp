// fa2 build: an update folder to a finished updater executable.
#include <algorithm>
#include <chrono>
#include <cstdio>

#include "fa2/commands.h"
#include "fa2/lib/update_checks.h"
#include "update/update.h"

namespace {

const char kHelp[] =
    "usage: fa2 build UPDATE_FOLDER -o Update.exe [options]\n"
    "\n"
    "Checks UPDATE_FOLDER/UPDATE.INI against the folder, packs UPDATE.INI and\n"
    "every file its update lines, AgreementText and AgreementTitle name into an\n"
    "archive, and writes it into a copy of the updater stub as resource\n"
    "\"UPDATE\" 102. An update line's file is taken from the folder by its\n"
    "relative path (data\\x.dat: UPDATE_FOLDER/data/x.dat), else by its file name\n"
    "(UPDATE_FOLDER/x.dat); letter case does not matter.\n"
    "\n"
    "Members are compressed; all but UPDATE.INI and the agreement and intro\n"
    "texts are scrambled; the directory is compressed and scrambled.\n"
    "\n"
    "Errors (reported as UPDATE.INI:LINE: error: ...) stop the build before\n"
    "anything is written, with exit code 1; warnings are reported and the\n"
    "build goes on.\n"
    "\n"
    "options:\n"
    "  -o Update.exe   the updater to write\n"
    "  --stub STUB.exe the updater stub to stamp; without it: updater-stub.exe\n"
    "                  beside fa2, then ../share/fa2/updater-stub.exe when fa2\n"
    "                  is in a bin folder, then build/win32/bin/updater-stub.exe\n"
    "                  when fa2 is in a build tree\n"
    "  --check         only check the folder; write nothing\n"
    "  --strict        treat warnings as errors\n"
    "  --level N       compression: 1 fast, 2 thorough, 3 best (default 2)\n"
    "  --time UTC      stamp every member with this time (\"YYYY-MM-DD HH:MM:SS\")\n"
    "                  instead of the file's, for builds that must come out the\n"
    "                  same every time\n"
    "\n"
    "Delta members:\n"
    "  --from DIR      the install folder of the version the update replaces:\n"
    "                  each member whose update lines replace a file there goes\n"
    "                  as a delta against that file (the base), when the delta,\n"
    "                  stored, takes at most 80% of the full member's stored size\n"
    "  --data-from DIR that version's data folder, for lines written below it\n"
    "  --keep-full     keep the full member beside each delta, for players with\n"
    "                  another version of the file (without it the updater refuses\n"
    "                  them before anything is written, naming the file)\n"
    "\n"
    "A member's old file is the one its update line would replace, found as the\n"
    "updater finds it (below DataFolder, letter case ignored). A member written by\n"
    "several lines goes as a delta only when all of them replace the same bytes.\n"
    "A \"d\" line keeps an existing file and writes only a missing one, so its\n"
    "member stays full. The build prints each member's choice and the bytes\n"
    "saved. Only an updater stub with the \"delta1\" feature (its RCDATA resource\n"
    "FA2FEATURES) applies deltas: with another stub nothing is written.\n";

struct BuildOptions {
  std::string folder, output, stub;
  std::string from, dataFrom; // the old version, for deltas
  bool keepFull = false;
  bool checkOnly = false, strict = false;
  fa2::PackOptions pack;
  bool fixedTime = false;
  FileTime time{};
};

int ParseArguments(const Args& args, BuildOptions& o) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= args.size()) return false;
      *out = args[++i];
      return true;
    };
    std::string v;
    if (a == "-o") {
      if (!value(&o.output)) return Fail("build: -o needs a file name");
    } else if (a == "--stub") {
      if (!value(&o.stub)) return Fail("build: --stub needs a file name");
    } else if (a == "--from" || a == "--data-from") {
      if (!value(a == "--from" ? &o.from : &o.dataFrom) || !IsFolder(a == "--from" ? o.from : o.dataFrom))
        return Fail("build: " + a + " needs an existing folder");
    } else if (a == "--keep-full") {
      o.keepFull = true;
    } else if (a == "--check") {
      o.checkOnly = true;
    } else if (a == "--strict") {
      o.strict = true;
    } else if (a == "--level") {
      if (!value(&v) || (v != "1" && v != "2" && v != "3")) return Fail("build: --level takes 1, 2 or 3");
      o.pack.level = std::stoi(v);
    } else if (a == "--time") {
      if (!value(&v) || !fa2::ParseUtc(v, &o.time)) return Fail("build: --time takes \"YYYY-MM-DD HH:MM:SS\" (UTC)");
      o.fixedTime = true;
    } else if (a.size() > 1 && a[0] == '-') {
      return Fail("build: unknown option '" + a + "' (see 'fa2 build --help')");
    } else if (o.folder.empty()) {
      o.folder = a;
    } else {
      return Fail("build: more than one UPDATE_FOLDER given");
    }
  }
  if (o.folder.empty()) return Fail("build: no UPDATE_FOLDER given (see 'fa2 build --help')");
  if (o.output.empty() && !o.checkOnly) return Fail("build: no output given (-o Update.exe)");
  if (o.keepFull && o.from.empty() && o.dataFrom.empty())
    return Fail("build: --keep-full goes with --from (see 'fa2 build --help')");
  return 0;
}

// Runs the checks and prints the findings. False when the build must stop.
bool CheckFolder(const BuildOptions& o, const fa2::UpdateFolder& folder, fa2::UpdateCheck& check) {
  const int self = fa2::FindFolderFile(folder, "UPDATE.INI");
  fa2::Bytes ini;
  std::string error;
  if (self >= 0 && !fa2::ReadWholeFile(folder.files[size_t(self)].localPath, ini, error)) {
    Fail("build: " + error);
    return false;
  }
  check = fa2::CheckUpdate(std::string(ini.begin(), ini.end()), folder);
  size_t errors = 0, warnings = 0;
  for (const fa2::Finding& f : check.findings) {
    std::fprintf(stderr, "%s\n", fa2::FormatFinding(f).c_str());
    (f.error ? errors : warnings) += 1;
  }
  const bool stop = errors > 0 || (o.strict && warnings > 0);
  // Without errors, only --strict stops the build: say so.
  const char* ending = !stop ? "" : errors ? "; nothing written" : "; nothing written (--strict stops on warnings)";
  if (stop || warnings)
    std::fprintf(stderr, "fa2: build: %zu error%s, %zu warning%s%s\n", errors, errors == 1 ? "" : "s", warnings,
                 warnings == 1 ? "" : "s", ending);
  return !stop;
}

// The members as 'fa2 pack' takes them: read from their files as they are packed.
bool PlanMembers(const BuildOptions& o, const fa2::UpdateFolder& folder, const fa2::UpdateCheck& check,
                 std::vector<fa2::PackMember>& members, std::string& error) {
  for (const fa2::PlannedMember& planned : check.members) {
    const fa2::FolderFile& file = folder.files[size_t(planned.file)];
    fa2::PackMember m;
    m.name = planned.name;
    m.path = file.localPath;
    m.compress = true;
    m.scramble = planned.scramble;
    if (o.fixedTime) {
      m.time = o.time;
    } else if (!fa2::ModificationTime(file.localPath, &m.time, &error)) {
      return false;
    }
    members.push_back(std::move(m));
  }
  return true;
}

} // namespace

int RunBuild(const Args& args) {
  if (WantsHelp(args)) return Usage(kHelp);
  const auto start = std::chrono::steady_clock::now();
  BuildOptions o;
  if (int code = ParseArguments(args, o)) return code;
  std::string error;
  fa2::UpdateFolder folder;
  if (!fa2::ScanUpdateFolder(o.folder, folder, error)) return Fail("build: " + error);
  fa2::UpdateCheck check;
  if (!CheckFolder(o, folder, check)) return 1;
  if (o.checkOnly) {
    std::printf("%s: ready to build, %zu members\n", o.folder.c_str(), check.members.size());
    return 0;
  }
  if (o.stub.empty() && !FindStub(o.stub, error)) return FailFile("build: " + error);
  fa2::Bytes stub;
  if (!fa2::ReadWholeFile(o.stub, stub, error)) return FailFile("build: " + error);
  if (!fa2::CheckExecutable(stub, error)) return FailFile("build: " + o.stub + ": " + error);
  const bool deltas = !o.from.empty() || !o.dataFrom.empty();
  if (deltas && !fa2::StubHasFeature(stub, fa2::kDeltaFeature))
    return FailFile("build: " + o.stub + " cannot apply delta members (its FA2FEATURES resource does not say \"" +
                    fa2::kDeltaFeature + "\"): use a newer updater stub, or build without --from; nothing written");

  std::vector<fa2::PackMember> members;
  if (!PlanMembers(o, folder, check, members, error)) return FailFile("build: " + error);
  uint64_t total = 0;
  for (const fa2::PlannedMember& planned : check.members) total += folder.files[size_t(planned.file)].size;
  // The archive is packed into a file of its own beside the output, read
  // back to check it and stamped from there; it is removed either way.
  fa2::FileOutput archive;
  if (!archive.Create(o.output + ".fa2-archive", error)) return FailFile("build: " + error);
  fa2::PackStats stats;
  DeltaReport report;
  std::vector<std::string> bases;
  size_t archiveMembers = 0;
  {
    ProgressLine progress(stdout);
    PackProgress at;
    const auto show = [&] {
      if (!at.delta.empty()) return progress.Show("making the delta of " + at.delta, true);
      progress.Show("packing " + std::to_string(at.done) + "/" + std::to_string(members.size()) + " members, " +
                        Percent(std::min(at.doneBytes, total), total),
                    at.done == members.size());
    };
    o.pack.progress = [&](size_t, uint64_t bytes) {
      const uint64_t doneBytes = at.doneBytes;
      at.doneBytes += bytes - at.writerStart;
      show();
      at.doneBytes = doneBytes;
    };
    o.pack.threads = EncoderThreads();
    fa2::ArchiveWriter writer(archive, o.pack);
    const DeltaOptions old{o.from, o.dataFrom, o.output + ".fa2-delta", o.keepFull};
    if (!PackMembers(old, folder, check, members, writer, at, show, report, bases, error))
      return FailFile("build: " + error);
    archiveMembers = writer.Members();
    if (!writer.Finish(error)) return FailFile("build: " + error);
    stats = writer.Stats();
  }
  if (archive.Size() > fa2::kMaxUpdaterArchive)
    return FailFile("build: the packed archive has " + std::to_string(archive.Size() >> 20) +
                    " MiB, more than a 32-bit updater can map (" + std::to_string(fa2::kMaxUpdaterArchive >> 20) +
                    " MiB); nothing written");
  const fa2::WrittenSource packed(archive);
  if (!fa2::CheckWholeArchive(packed, error) || !CheckDeltas(packed, bases, error))
    return FailFile("build: the archive just packed does not read back: " + error);
  if (!StampAndWrite(stub, o.stub, packed, o.output, error)) return FailFile("build: " + error);

  for (const std::string& line : report.lines) std::printf("%s\n", line.c_str());
  if (deltas) {
    const uint64_t saved = report.fullStored - report.deltaStored;
    std::printf("deltas: %zu member%s, %llu bytes stored instead of %llu: ", report.deltas,
                report.deltas == 1 ? "" : "s", (unsigned long long)report.deltaStored,
                (unsigned long long)report.fullStored);
    if (o.keepFull)
      std::printf("the full members are kept beside them (--keep-full), so the archive is %llu bytes larger\n",
                  (unsigned long long)report.deltaStored);
    else
      std::printf("%llu bytes saved\n", (unsigned long long)saved);
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%s: %zu members, %llu bytes in, %llu bytes stored (%s), archive %llu bytes, %.2f s (stub %s)\n",
              o.output.c_str(), archiveMembers, (unsigned long long)stats.bytesIn,
              (unsigned long long)stats.bytesStored, Percent(stats.bytesStored, stats.bytesIn).c_str(),
              (unsigned long long)packed.Size(), seconds, o.stub.c_str());
  return 0;
}
