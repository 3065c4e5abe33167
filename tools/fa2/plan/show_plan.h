// The dry run of an update against an installed game on disk: the updater's
// own start-up readers and engine decisions, run over the disk seam, with
// one output line per step.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace plan {

struct Options {
  std::string install;            // the install folder (registry InstPath)
  std::string data;               // the data folder (DataPath); empty: none
  int32_t mode = 0;               // InstMode
  bool normalFiles = false;       // files carry no archive bit
  std::vector<std::string> discs; // folders that stand for discs in CD-ROM drives
};

// The Windows paths under which the folders appear to the updater's logic.
constexpr const char* kInstallPath = "I:\\INSTALL";
constexpr const char* kDataPath = "J:\\DATA";
constexpr char kFirstDiscDrive = 'Q';

// Exit codes.
constexpr int kWouldRun = 0;
constexpr int kRefused = 1; // refused, or fails part-way
constexpr int kCannotPlan = 2;

// Plans the update whose archive is `base`/`size` (already verified) and
// prints the plan to `out`; problems that stop the planning itself go to
// stderr. Returns one of the exit codes above.
int DryRun(const uint8_t* base, size_t size, const Options& options, std::FILE* out);

// The updater's start-up checks alone, up to the wizard: UPDATE.INI's section
// SETUP and the installed SETUP.INI. `refusal` is the plan's setup line when
// the updater would stop; the names are UPDATE.INI's (local encoding), which
// form the registry key Software\<companyName>\<gameDir>.
struct Startup {
  bool opens = false;
  std::string refusal;
  std::string companyName, gameDir;
};
Startup CheckStartup(const uint8_t* base, size_t size, const Options& options);

} // namespace plan
