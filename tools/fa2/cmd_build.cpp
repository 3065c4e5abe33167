// fa2 build: an update folder to a finished updater executable.
#include <chrono>
#include <cstdio>

#include "fa2/commands.h"
#include "fa2/lib/update_checks.h"

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
    "                  same every time\n";

struct BuildOptions {
  std::string folder, output, stub;
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

std::string Percent(uint64_t part, uint64_t whole) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f%%", whole ? 100.0 * double(part) / double(whole) : 100.0);
  return text;
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

  std::vector<fa2::PackMember> members;
  if (!PlanMembers(o, folder, check, members, error)) return FailFile("build: " + error);
  uint64_t total = 0;
  for (const fa2::PlannedMember& planned : check.members) total += folder.files[size_t(planned.file)].size;
  // The archive is packed into a file of its own beside the output, read
  // back to check it and stamped from there; it is removed either way.
  fa2::FileOutput archive;
  if (!archive.Create(o.output + ".fa2-archive", error)) return FailFile("build: " + error);
  fa2::PackStats stats;
  {
    ProgressLine progress(stdout);
    o.pack.progress = [&](size_t done, uint64_t bytes) {
      progress.Show("packing " + std::to_string(done) + "/" + std::to_string(members.size()) + " members, " +
                        Percent(bytes, total),
                    done == members.size());
    };
    o.pack.threads = EncoderThreads();
    fa2::ArchiveWriter writer(archive, o.pack);
    for (const fa2::PackMember& m : members)
      if (!writer.Add(m, error)) return FailFile("build: " + error);
    if (!writer.Finish(error)) return FailFile("build: " + error);
    stats = writer.Stats();
  }
  if (archive.Size() > fa2::kMaxUpdaterArchive)
    return FailFile("build: the packed archive has " + std::to_string(archive.Size() >> 20) +
                    " MiB, more than a 32-bit updater can map (" + std::to_string(fa2::kMaxUpdaterArchive >> 20) +
                    " MiB); nothing written");
  const fa2::WrittenSource packed(archive);
  if (!fa2::CheckWholeArchive(packed, error))
    return FailFile("build: the archive just packed does not read back: " + error);
  if (!StampAndWrite(stub, o.stub, packed, o.output, error)) return FailFile("build: " + error);

  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%s: %zu members, %llu bytes in, %llu bytes stored (%s), archive %llu bytes, %.2f s (stub %s)\n",
              o.output.c_str(), members.size(), (unsigned long long)stats.bytesIn,
              (unsigned long long)stats.bytesStored, Percent(stats.bytesStored, stats.bytesIn).c_str(),
              (unsigned long long)packed.Size(), seconds, o.stub.c_str());
  return 0;
}
