// fa2 plan: a dry run of an update against an installed game on disk.
#include <cstdio>
#include <chrono>
#include <filesystem>

#include "fa2/commands.h"
#include "fa2/lib/update_checks.h"
#include "fa2/plan/show_plan.h"

namespace {

const char kHelp[] =
    "usage: fa2 plan Update.exe|UPDATE_FOLDER --install DIR [options]\n"
    "\n"
    "Shows what the updater would do to the game installed in DIR, without\n"
    "writing anything: the updater's own start-up checks and engine decisions\n"
    "run against the real folders. One line per step:\n"
    "\n"
    "  setup: ...          UPDATE.INI [SETUP] and the installed SETUP.INI\n"
    "  space: ...          the RequiredDiskSpace pre-check\n"
    "  UpdateFileNN OP PATH -> DESTINATION: OUTCOME\n"
    "  CopyFileNN VALUE: OUTCOME\n"
    "  result: would run | refused | fails at KEY\n"
    "\n"
    "Outcomes: write (new file | replace older | replace same time | replace,\n"
    "no newer check | replace unreadable data file), keep (installed file is\n"
    "newer), keep data (existing file), skip (not existing), check passes,\n"
    "check fails, not selected, needs disc N, copy file, copy folder,\n"
    "fail (...), not applied. Entries are judged in order, each seeing what the\n"
    "ones before it would have written.\n"
    "\n"
    "A member that comes as a delta (from 'fa2 build --from') is written \"as a\n"
    "delta against a base of SIZE bytes, sha256 HEX...\" with \"(base matches:\n"
    "delta applied, N bytes)\" or \"(not the base: full member written)\"; when\n"
    "the installed file is not the base and the archive has no full member,\n"
    "the line refuses the update (\"refused (not the base: ...)\").\n"
    "\n"
    "The install folder appears to the updater as I:\\INSTALL, the data folder\n"
    "as J:\\DATA; names are matched without regard to letter case, as Windows\n"
    "does. Linux keeps no archive attribute: every file counts as carrying it\n"
    "(as under Wine), so an \"e\" check passes only with --normal-files. A file\n"
    "its owner may not write is read-only. On Windows the files' own\n"
    "attributes count.\n"
    "\n"
    "options:\n"
    "  --install DIR    the install folder (registry InstPath); required\n"
    "  --data DIR       the data folder (registry DataPath); without it there\n"
    "                   is none and \"d\" lines cannot be written\n"
    "  --mode N         the install mode (registry InstMode, default 0)\n"
    "  --disc DIR       a folder that stands for a disc in a CD-ROM drive (Q:,\n"
    "                   then R:, ... when repeated); without it disc copies are\n"
    "                   reported as \"needs disc N\"\n"
    "  --normal-files   files carry no archive attribute (not on Windows, where\n"
    "                   the files' own attributes count)\n"
    "  --time UTC       UPDATE_FOLDER only: every member's time stamp, as with\n"
    "                   'fa2 build --time'; else the files' own times\n"
    "\n"
    "An UPDATE_FOLDER is planned as 'fa2 build' would pack it.\n"
    "Exit status: 0 the update would run, 1 it would be refused or fail, or an\n"
    "input cannot be read (missing, a folder, cut short or damaged), 2 usage\n"
    "errors.\n";

struct PlanArguments {
  std::string input;
  plan::Options options;
  bool fixedTime = false;
  FileTime time{};
};

int ParseArguments(const Args& args, PlanArguments& a) {
  bool haveInstall = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= args.size()) return false;
      *out = args[++i];
      return true;
    };
    std::string v;
    if (arg == "--install") {
      if (!value(&a.options.install) || !IsFolder(a.options.install))
        return Fail("plan: --install needs an existing folder");
      haveInstall = true;
    } else if (int status;
               ParseGameOption("plan", arg, value, size_t('Z' - plan::kFirstDiscDrive + 1), a.options, &status)) {
      if (status != 0) return status;
    } else if (arg == "--normal-files") {
      a.options.normalFiles = true;
    } else if (arg == "--time") {
      if (!value(&v) || !fa2::ParseUtc(v, &a.time)) return Fail("plan: --time takes \"YYYY-MM-DD HH:MM:SS\" (UTC)");
      a.fixedTime = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Fail("plan: unknown option '" + arg + "' (see 'fa2 plan --help')");
    } else if (a.input.empty()) {
      a.input = arg;
    } else {
      return Fail("plan: more than one Update.exe or UPDATE_FOLDER given");
    }
  }
  if (a.input.empty()) return Fail("plan: no Update.exe or UPDATE_FOLDER given (see 'fa2 plan --help')");
  if (!haveInstall) return Fail("plan: no install folder given (--install DIR)");
  if (a.fixedTime && !IsFolder(a.input)) return Fail("plan: --time applies to an UPDATE_FOLDER only");
  return 0;
}

// The archive that 'fa2 build' would pack from the folder, written to
// `path` (members stored plain: the plan reads names, sizes and times, and
// UPDATE.INI).
int ArchiveOfFolder(const PlanArguments& a, const std::string& path) {
  std::string error;
  fa2::UpdateFolder folder;
  if (!fa2::ScanUpdateFolder(a.input, folder, error)) return Fail("plan: " + error);
  const int self = fa2::FindFolderFile(folder, "UPDATE.INI");
  if (self < 0) return Fail("plan: " + a.input + " has no UPDATE.INI");
  fa2::Bytes ini;
  if (!fa2::ReadWholeFile(folder.files[size_t(self)].localPath, ini, error)) return FailFile("plan: " + error);
  const fa2::UpdateCheck check = fa2::CheckUpdate(std::string(ini.begin(), ini.end()), folder);
  size_t errors = 0;
  for (const fa2::Finding& f : check.findings)
    if (f.error) {
      std::fprintf(stderr, "%s\n", fa2::FormatFinding(f).c_str());
      ++errors;
    }
  if (errors)
    std::printf("note: 'fa2 build' would refuse this folder (%zu error%s, listed on stderr); planned as it is\n",
                errors, errors == 1 ? "" : "s");

  fa2::PackOptions pack;
  pack.compressDirectory = false;
  pack.scrambleDirectory = false;
  fa2::FileOutput out;
  if (!out.Create(path, error)) return FailFile("plan: " + error);
  fa2::ArchiveWriter writer(out, pack);
  for (const fa2::PlannedMember& planned : check.members) {
    const fa2::FolderFile& file = folder.files[size_t(planned.file)];
    fa2::PackMember m;
    m.name = planned.name;
    m.path = file.localPath;
    if (file.size > fa2::kMaxMemberSize) return Fail("plan: " + file.localPath + ": larger than 4 GiB");
    if (a.fixedTime)
      m.time = a.time;
    else if (!fa2::ModificationTime(file.localPath, &m.time, &error))
      return FailFile("plan: " + error);
    if (!writer.Add(m, error)) return FailFile("plan: " + error);
  }
  if (!writer.Finish(error) || !out.Commit(error)) return FailFile("plan: " + error);
  return 0;
}

// A file removed when the plan is done.
struct Scratch {
  std::string path;
  ~Scratch() {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove(std::filesystem::u8path(path), ignored);
  }
};

} // namespace

int RunPlan(const Args& args) {
  if (WantsHelp(args)) return Usage(kHelp);
  PlanArguments a;
  if (int code = ParseArguments(args, a)) return code;

  // The archive is checked through fixed buffers and then mapped, so the
  // dry run reads its directory and UPDATE.INI and nothing else.
  std::string error, path = a.input;
  Scratch scratch;
  uint64_t offset = 0, size = 0;
  if (IsFolder(a.input)) {
    std::printf("plan: %s (an update folder, as 'fa2 build' would pack it)\n", a.input.c_str());
    std::fflush(stdout);
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    std::error_code ec;
    const std::u8string name =
        (std::filesystem::temp_directory_path(ec) / ("fa2-plan-" + std::to_string(stamp) + ".fa2")).u8string();
    scratch.path = path = std::string(name.begin(), name.end());
    if (int code = ArchiveOfFolder(a, path)) return code;
    fa2::FileSource packed;
    if (!packed.Open(path, error)) return FailFile("plan: " + error);
    size = packed.Size();
  } else {
    fa2::ArchiveFile archive;
    if (!archive.Open(a.input, error)) return FailFile("plan: " + error);
    if (!fa2::CheckWholeArchive(archive, error)) return FailFile("plan: " + a.input + ": " + error);
    offset = archive.Offset();
    size = archive.Size();
    std::printf("plan: %s\n", a.input.c_str());
  }
  std::fflush(stdout);
  fa2::MappedFile mapped;
  if (!mapped.Open(path, error) || offset + size > mapped.Size()) return FailFile("plan: " + error);
  return plan::DryRun(mapped.Data() + offset, size_t(size), a.options, stdout);
}
