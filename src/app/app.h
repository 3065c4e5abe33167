// The updater's main sequence, from the process entry to its exit code.
#pragma once

#include "archive/archive.h"
#include "platform/platform.h"
#include "settings/settings.h"
#include "ui/wizard.h"

// Room for a 259-byte title, " アップデータ " and a 259-byte version.
constexpr uint32_t kCaptionCapacity = 600;

// Every process-wide record of one run, owned by the main sequence.
struct UpdaterRecords {
  ArchiveImage archive;
  UpdateDescription description;
  InstalledGame game;
  char caption[kCaptionCapacity];
  char descriptionPath[kPathBuffer];         // the temporary UPDATE.INI of this run
  FileHandle descriptionFile = kInvalidFile; // it, open: gone when closed
  uint8_t* descriptionText = nullptr;        // UPDATE.INI's checked bytes, which every read uses
  char settingsPath[kPathBuffer];            // the installed SETUP.INI
};

// Shown when the install folder has no SETUP.INI.
extern const char kNoSetupIniText[];

// Runs the whole updater for `module` (whose resources hold the archive and
// the wizard's templates). Returns 1 after a normally ended wizard, else 0.
int RunUpdater(ModuleHandle module);

// The steps, for the main sequence and its tests. Each returns 1 to go on,
// 0 to stop (having shown whatever it shows).
int ReadDescriptionSetup(UpdaterRecords& records); // UPDATE.INI section SETUP and the texts
int LocateInstalledGame(UpdaterRecords& records);  // the registry key
// Sets records.settingsPath to the install path's SETUP.INI; 0 when that
// file is not there, or (settingsPath then empty) the path does not fit.
int FindInstalledSettings(UpdaterRecords& records);
// A path from the system the updater cannot use: too long (kErrorMoreData)
// or not expressible in Shift-JIS (kErrorNoMapping); `what` names it, one of
// the three names below. Shown in the window-caption error box.
void ShowPathRefusal(const char* what, uint32_t error);
extern const char kInstallFolderName[];
extern const char kDataFolderName[];
extern const char kTemporaryFolderName[];
void ShowUpdateMessage(const UpdaterRecords& records);
int CheckNotAlreadyRunning(const UpdaterRecords& records); // single instance and the game
// "\n" (a single-byte backslash and n) becomes one carriage return.
void ExpandLineBreaks(const char* text, char* out, size_t capacity);
