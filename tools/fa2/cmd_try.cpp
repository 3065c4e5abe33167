// fa2 try: an update run for real, by the 32-bit updater under Wine, against
// a copy of an installed game (Linux only). This part checks what it can
// before any Wine starts (the update, the game folder's SETUP.INI as the
// updater reads it), then hands over to the script that sets up the prefix
// and runs the updater (scripts/try-update.sh).
//
// On a machine whose kernel runs no 32-bit code (scripts/runs-32bit.sh says
// which) no 32-bit program can start under any Wine: there the same archive
// is stamped into the x86_64 updater stub and that is run instead, and the
// run says so. It never claims a 32-bit run that did not happen.
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "fa2/commands.h"
#include "fa2/plan/show_plan.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

const char kHelp[] =
    "usage: fa2 try Update.exe|UPDATE_FOLDER --game GAME_FOLDER [options]\n"
    "\n"
    "Runs the update for real, on Linux: the 32-bit updater under Wine, in a\n"
    "throwaway Wine prefix where a copy of GAME_FOLDER is installed as the game\n"
    "(registry key Software\\<CompanyName>\\<GameDir> of the update's UPDATE.INI,\n"
    "with InstPath C:\\Game, InstMode and, with --data, DataPath C:\\GameData).\n"
    "The updater opens on your display for you to click through; with\n"
    "--headless it runs on a private X server (Xvfb) and is driven as a player\n"
    "who accepts everything would: each message box answered with its first\n"
    "button, the agreement accepted, Next pressed to the end and 完了, a\n"
    "screenshot saved at every step. Then it prints what changed in the game\n"
    "and data folders (your folders are never touched) and the updater's exit\n"
    "code. An UPDATE_FOLDER is built first, as 'fa2 build' builds it.\n"
    "\n"
    "Before Wine starts, the update is checked and GAME_FOLDER's SETUP.INI is\n"
    "read as the updater reads it: a SETUP.INI the updater would not accept is\n"
    "refused, naming what is wrong or missing. Files that come as deltas are\n"
    "listed first: the base each needs, whether GAME_FOLDER has it, and the\n"
    "bytes the deltas take against the full members.\n"
    "\n"
    "options:\n"
    "  --game DIR       the installed game (with the installer's SETUP.INI); required\n"
    "  --mode N         the registry's InstMode (default 0)\n"
    "  --data DIR       a data folder, installed as DataPath; without it there is\n"
    "                   no DataPath and \"d\" lines cannot be written\n"
    "  --disc DIR       a folder in a CD-ROM drive (D:, then E:, ... when repeated)\n"
    "  --locale ja|en   the system's language under Wine: Japanese (code page\n"
    "                   932, the default) or English (code page 1252)\n"
    "  --headless       drive the updater on a private X server\n"
    "  --shots DIR      where the screenshots go (default: try-shots)\n"
    "  --keep           keep the Wine prefix afterwards (its path is printed)\n"
    "  --stub STUB.exe  the updater stub, for an UPDATE_FOLDER (as 'fa2 build')\n"
    "  --from DIR, --data-from DIR, --keep-full\n"
    "                   delta members for an UPDATE_FOLDER (as 'fa2 build')\n"
    "\n"
    "On a machine whose kernel runs no 32-bit code (or with FA2_NO_32BIT=1) the\n"
    "same archive runs in the x86_64 updater instead (the win64 build's stub,\n"
    "x64/updater-stub.exe in the release package), and try says so.\n"
    "The screenshots and, headless, the driver's log (try.log, UTF-8) go to the\n"
    "--shots folder; a run that fails names its reason and that log.\n"
    "\n"
    "Needs, the first time: root (or sudo) for scripts/wine-wow64.sh, which sets\n"
    "up the Wine that runs the 32-bit updater (about 2 minutes, once), and the\n"
    "Debian packages xvfb, locales and fonts-ipafont-gothic.\n"
    "Exit status: 0 the updater finished the update (its exit code 1), 1 it\n"
    "stopped or failed (its exit code 0), the game folder or the update cannot\n"
    "be used, or Wine cannot run it; 2 usage errors.\n";

struct TryArguments {
  std::string input, stub, shots = "try-shots", locale = "ja";
  Args build; // --from, --data-from, --keep-full, for an UPDATE_FOLDER
  plan::Options options;
  bool headless = false, keep = false, haveGame = false;
};

int ParseArguments(const Args& args, TryArguments& a) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= args.size()) return false;
      *out = args[++i];
      return true;
    };
    if (arg == "--game") {
      if (!value(&a.options.install) || !IsFolder(a.options.install))
        return Fail("try: --game needs an existing folder");
      a.haveGame = true;
    } else if (int status; ParseGameOption("try", arg, value, size_t('Z' - 'D' + 1), a.options, &status)) {
      if (status != 0) return status;
    } else if (arg == "--locale") {
      if (!value(&a.locale) || (a.locale != "ja" && a.locale != "en")) return Fail("try: --locale takes ja or en");
    } else if (arg == "--shots") {
      if (!value(&a.shots) || a.shots.empty()) return Fail("try: --shots needs a folder");
    } else if (arg == "--stub") {
      if (!value(&a.stub)) return Fail("try: --stub needs a file name");
    } else if (arg == "--from" || arg == "--data-from") {
      std::string folder;
      if (!value(&folder) || !IsFolder(folder)) return Fail("try: " + arg + " needs an existing folder");
      a.build.insert(a.build.end(), {arg, folder});
    } else if (arg == "--keep-full") {
      a.build.push_back(arg);
    } else if (arg == "--headless") {
      a.headless = true;
    } else if (arg == "--keep") {
      a.keep = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Fail("try: unknown option '" + arg + "' (see 'fa2 try --help')");
    } else if (a.input.empty()) {
      a.input = arg;
    } else {
      return Fail("try: more than one Update.exe or UPDATE_FOLDER given");
    }
  }
  if (a.input.empty()) return Fail("try: no Update.exe or UPDATE_FOLDER given (see 'fa2 try --help')");
  if (!a.haveGame) return Fail("try: no game folder given (--game GAME_FOLDER)");
  if (!a.build.empty() && !IsFolder(a.input))
    return Fail("try: --from, --data-from and --keep-full build an UPDATE_FOLDER");
  return 0;
}

#ifndef _WIN32
std::string Absolute(const std::string& path) {
  std::error_code ec;
  const std::u8string text = std::filesystem::absolute(std::filesystem::u8path(path), ec).lexically_normal().u8string();
  return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

// A fresh folder for this run's files; the script removes it.
bool MakeWorkFolder(std::string& folder) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/fa2-try.XXXXXX";
  if (!mkdtemp(pattern.data())) return false;
  folder = pattern;
  return true;
}

// The update as an executable: the one given, or the folder built into `work`.
int UpdaterOf(const TryArguments& a, const std::string& work, std::string& updater) {
  if (!IsFolder(a.input)) {
    updater = a.input;
    return 0;
  }
  updater = work + "/Update.exe";
  Args build{a.input, "-o", updater};
  if (!a.stub.empty()) build.insert(build.end(), {"--stub", a.stub});
  build.insert(build.end(), a.build.begin(), a.build.end());
  std::printf("== Building %s (as 'fa2 build')\n", a.input.c_str());
  std::fflush(stdout);
  return RunBuild(build);
}

// Whether 32-bit code runs here, as `script` (runs-32bit.sh) finds it; its
// one line in `line`.
bool Runs32BitCode(const std::string& script, std::string& line) {
  std::string quoted = "'";
  for (char c : script) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  FILE* pipe = popen(("bash " + quoted + "' 2>/dev/null").c_str(), "r");
  if (!pipe) return false;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe)) line += buffer;
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return pclose(pipe) == 0;
}

// True when `path` is a 32-bit (i386) PE executable.
bool IsI386Executable(const std::string& path) {
  std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
  fa2::Bytes head(4096);
  in.read(reinterpret_cast<char*>(head.data()), std::streamsize(head.size()));
  head.resize(size_t(in.gcount()));
  if (head.size() < 0x40 || head[0] != 'M' || head[1] != 'Z') return false;
  const size_t pe = head[0x3C] | head[0x3D] << 8 | head[0x3E] << 16 | size_t(head[0x3F]) << 24;
  return pe + 6 <= head.size() && std::memcmp(&head[pe], "PE\0\0", 4) == 0 && head[pe + 4] == 0x4C &&
         head[pe + 5] == 0x01;
}

// Where 32-bit code cannot run, the updater's archive stamped into the
// x86_64 stub (`updater` then names that), and the x86_64 driver. Says so.
int UseX64WhereNeeded(const TryArguments& a, const std::string& work, std::string& updater, std::string& driver) {
  std::string probe, line, error;
  if (!FindSupportFile("runs-32bit.sh", SupportKind::Script, probe, error)) return FailFile("try: " + error);
  if (Runs32BitCode(probe, line)) return 0;
  if (a.headless && !FindSupportFile("e2e-driver.exe", SupportKind::Program64, driver, error))
    return FailFile("try: " + line + ", and there is no x86_64 driver for --headless: " + error);
  if (!IsI386Executable(updater)) {
    std::printf("fa2: try: %s: running %s, which is not a 32-bit updater, as it is\n", line.c_str(), updater.c_str());
    return 0;
  }
  std::string stub;
  if (!FindSupportFile("updater-stub.exe", SupportKind::Program64, stub, error))
    return FailFile("try: " + line + ", and there is no x86_64 updater stub to try the archive in: " + error);
  const std::string x64 = work + "/Update-x86_64.exe";
  fa2::Bytes image;
  fa2::ArchiveFile archive;
  if (!fa2::ReadWholeFile(stub, image, error) || !fa2::CheckExecutable(image, error) || !archive.Open(updater, error) ||
      !StampAndWrite(image, stub, archive, x64, error))
    return FailFile("try: cannot stamp the archive into the x86_64 stub: " + error);
  std::printf("fa2: try: %s: trying the same archive in the x86_64 updater (stamped into %s), not the 32-bit %s\n",
              line.c_str(), stub.c_str(), updater.c_str());
  updater = x64;
  return 0;
}

// The files that come as deltas: the base each needs, whether the game
// folder has it, and what the deltas save.
void ReportDeltas(const TryArguments& a, const uint8_t* base, size_t size) {
  const fa2::MemorySource archive(base, size);
  fa2::ParsedArchive parsed;
  std::vector<fa2::DeltaMember> deltas;
  std::string error;
  if (!fa2::ParseArchive(archive, parsed, error) || !fa2::FindDeltaMembers(archive, parsed, deltas, error) ||
      deltas.empty())
    return;
  fa2::BaseFinder game;
  const bool looked = game.Open(a.options.install, error);
  uint64_t deltaStored = 0, fullStored = 0, results = 0;
  size_t withFull = 0;
  std::printf("== Deltas: %zu file%s come%s as a delta against the file the player has (its base)\n", deltas.size(),
              deltas.size() == 1 ? "" : "s", deltas.size() == 1 ? "s" : "");
  for (const fa2::DeltaMember& d : deltas) {
    const uint32_t stored = parsed.entries[d.index].storedSize;
    deltaStored += stored;
    results += d.header.resultSize;
    if (d.full >= 0) ++withFull, fullStored += parsed.entries[size_t(d.full)].storedSize;
    const std::string found = looked ? game.Find(d.header, d.target) : "";
    std::printf("   %s: needs a base of %s; result %u bytes; delta %u bytes stored%s; %s\n",
                fa2::Cp932ToLocal(d.target).c_str(),
                (fa2::DescribeFile(d.header.baseSize, d.header.baseDigest, 16) + "...").c_str(), d.header.resultSize,
                stored,
                d.full >= 0 ? (", full member beside it " + std::to_string(parsed.entries[size_t(d.full)].storedSize) +
                               " bytes stored")
                                  .c_str()
                            : ", no full member (another version is refused)",
                !looked         ? "the game folder could not be searched"
                : found.empty() ? "the game folder has no file that is this base"
                                : ("the game folder has it: " + found).c_str());
  }
  if (withFull == deltas.size())
    std::printf(
        "== Deltas take %llu bytes stored beside full members of %llu bytes (kept with --keep-full): the "
        "updater is %llu bytes larger than with the full members alone\n",
        (unsigned long long)deltaStored, (unsigned long long)fullStored, (unsigned long long)deltaStored);
  else
    std::printf("== Deltas take %llu bytes stored for files of %llu bytes%s\n", (unsigned long long)deltaStored,
                (unsigned long long)results,
                withFull ? "; some full members are kept beside their deltas"
                         : "; the full members are not in the archive ('fa2 build' printed their stored sizes)");
  std::printf("== Whether the game's files are the bases, line by line: fa2 plan UPDATE --install GAME_FOLDER\n");
}

// Checks the update and the game folder as the updater would; false (with
// the message printed) when the updater would stop before its wizard.
int CheckBeforeWine(const TryArguments& a, const std::string& updater, plan::Startup& startup) {
  fa2::Bytes file;
  const uint8_t* base = nullptr;
  size_t size = 0;
  std::string error;
  if (!fa2::LoadArchiveFile(updater, file, &base, &size, error)) return FailFile("try: " + error);
  if (!fa2::CheckWholeArchive(base, size, error)) return FailFile("try: " + updater + ": " + error);
  ReportDeltas(a, base, size);
  startup = plan::CheckStartup(base, size, a.options);
  if (!startup.opens)
    return FailFile("try: the updater would stop before its wizard opens, so nothing was run: " +
                    (startup.refusal.empty() ? std::string("its archive cannot be read") : startup.refusal));
  return 0;
}
#endif

} // namespace

int RunTry(const Args& args) {
  if (WantsHelp(args)) return Usage(kHelp);
  TryArguments a;
  if (int code = ParseArguments(args, a)) return code;
#ifdef _WIN32
  return Fail(
      "try: runs on Linux only (it runs the updater under Wine); on Windows, run Update.exe itself on a "
      "test machine with the game installed");
#else
  if (!a.headless && !std::getenv("DISPLAY"))
    return Fail("try: no display to show the updater on (DISPLAY is not set); use --headless");
  std::string script, driver, error, work, updater;
  if (!FindSupportFile("try-update.sh", SupportKind::Script, script, error)) return FailFile("try: " + error);
  if (a.headless && !FindSupportFile("e2e-driver.exe", SupportKind::Program, driver, error))
    return FailFile("try: no driver for --headless: " + error);
  if (!MakeWorkFolder(work))
    return FailFile(std::string("try: cannot make a work folder (") + std::strerror(errno) + ")");
  plan::Startup startup;
  int code = UpdaterOf(a, work, updater);
  if (code == 0) code = CheckBeforeWine(a, updater, startup);
  if (code == 0) code = UseX64WhereNeeded(a, work, updater, driver);
  if (code != 0) {
    std::error_code ignored;
    std::filesystem::remove_all(work, ignored);
    return code;
  }

  std::vector<std::string> command{"bash",       script,
                                   "--work",     work,
                                   "--updater",  Absolute(updater),
                                   "--game",     Absolute(a.options.install),
                                   "--company",  startup.companyName,
                                   "--game-dir", startup.gameDir,
                                   "--mode",     std::to_string(a.options.mode),
                                   "--locale",   a.locale,
                                   "--shots",    Absolute(a.shots)};
  if (!a.options.data.empty()) command.insert(command.end(), {"--data", Absolute(a.options.data)});
  for (const std::string& disc : a.options.discs) command.insert(command.end(), {"--disc", Absolute(disc)});
  if (a.headless) command.insert(command.end(), {"--headless", "--driver", Absolute(driver)});
  if (a.keep) command.push_back("--keep");
  std::vector<char*> argv;
  for (std::string& c : command) argv.push_back(c.data());
  argv.push_back(nullptr);
  std::fflush(stdout);
  execvp("bash", argv.data());
  const int reason = errno;
  std::error_code ignored;
  std::filesystem::remove_all(work, ignored);
  return FailFile(std::string("try: cannot run bash (") + std::strerror(reason) + ")");
#endif
}
