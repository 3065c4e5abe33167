// The main sequence: bind, map the archive, extract and read the update
// description, find the installed game, check it, run the wizard, clean up.
// Every path out runs the clean-up exactly once: the directory block is freed
// and this run's temporary UPDATE.INI is deleted (by closing it: the system
// deletes it with its handle, never by a path someone could have changed).
#include <cstring>

#include "app/app.h"
#include "update/update.h"


namespace {

UpdaterRecords gRecords;

void CleanUp(UpdaterRecords& r) {
  CloseArchive(r.archive);
  SetDescriptionText(nullptr, 0);
  FreeBlock(r.descriptionText);
  r.descriptionText = nullptr;
  if (r.descriptionFile != kInvalidFile) CloseFile(r.descriptionFile);
  r.descriptionFile = kInvalidFile;
}

// UPDATE.INI: its bytes, checked against the archive's digest, are what every
// description read uses, so nothing done to a file during the run is ever
// carried out; the temporary copy is made new and only written.
int LoadDescription(UpdaterRecords& r) {
  MemberRef member;
  if (!LocateMember(r.archive, "UPDATE.INI", &member)) {
    ShowCaptionError(kMemberMissingText);
    return 0;
  }
  const uint32_t size = member.entry->uncompressedSize;
  char drive[3];
  uint64_t shortfall = 0;
  if (MemberShortfall(r.descriptionPath, size, &shortfall, drive)) {
    char text[kTextCapacity];
    FormatText(text, sizeof text, kShortageFormat, drive, (unsigned long long)shortfall);
    ShowCaptionError(text);
    return 0;
  }
  MemberProblem problem = MemberProblem::None;
  r.descriptionText = ReadMemberBytes(r.archive, member, &problem);
  if (!r.descriptionText) {
    char text[kTextCapacity];
    MemberProblemText(problem, member.entry->name, text, sizeof text);
    ShowCaptionError(text);
    return 0;
  }
  r.descriptionFile = CreateTemporaryFile(r.descriptionPath);
  uint32_t written = 0;
  if (r.descriptionFile == kInvalidFile || !WriteToFile(r.descriptionFile, r.descriptionText, size, &written) ||
      written != size || !StampFileTimes(r.descriptionFile, &member.entry->timeStamp))
    return 0;
  SetDescriptionPath(r.descriptionPath);
  SetDescriptionText(r.descriptionText, size);
  return 1;
}

int FailWith(UpdaterRecords& r, const char* text) {
  ShowCaptionError(text);
  CleanUp(r);
  return 0;
}

int Stop(UpdaterRecords& r) {
  CleanUp(r);
  return 0;
}

// The temporary folder joined with a description name of this run's own, so
// that two updaters running at once never share one file.
int MakeDescriptionPath(UpdaterRecords& r) {
  char name[32];
  TemporaryFolder(r.descriptionPath, kPathCapacity);
  if (r.descriptionPath[0] == 0 && LastSystemError() == kErrorNoMapping) {
    ShowPathRefusal(kTemporaryFolderName, kErrorNoMapping);
    return 0;
  }
  FormatText(name, sizeof name, "UPDATE%u.INI", CurrentProcessId());
  if (!JoinPath(r.descriptionPath, sizeof r.descriptionPath, name)) {
    r.descriptionPath[0] = 0;
    ShowPathRefusal(kTemporaryFolderName, kErrorMoreData);
    return 0;
  }
  return 1;
}

void FormatCaption(UpdaterRecords& r) {
  const UpdateDescription& d = r.description;
  if (d.updaterTitle[0])
    FormatText(r.caption, sizeof r.caption, "%s", d.updaterTitle);
  else
    FormatText(r.caption, sizeof r.caption, "%s アップデータ %s", d.gameTitle, d.updaterVersion);
}

} // namespace

int RunUpdater(ModuleHandle module) {
  UpdaterRecords& r = gRecords;
  r = UpdaterRecords{};
  std::strcpy(r.caption, "UPDATE");
  SetErrorBoxCaption(r.caption);
  SetErrorBoxOwner(nullptr);
  SetQuietFlag(0);
  SetCurrentDiscNumber(0);

  if (!BindSystemOperations()) return FailWith(r, "COULD NOT MAP SOME FUNCTIONS");
  InitialiseCom();
  r.archive.base = LoadArchiveResource(module, &r.archive.size);
  if (r.archive.base == nullptr) return Stop(r);
  // The size the resource table states is checked against the mapped image
  // before a byte of the archive is read: a damaged table must not send the
  // reader past the end of the image.
  if (!ModuleHoldsRange(module, r.archive.base, r.archive.size)) return FailWith(r, "RESOURCE READ ERROR");
  uint8_t* directory = OpenArchive(r.archive);
  if (directory == nullptr) return FailWith(r, "RESOURCE READ ERROR");
  AttachDirectory(r.archive, directory);

  if (!MakeDescriptionPath(r)) return Stop(r);
  if (!LoadDescription(r)) return Stop(r);
  if (!ReadDescriptionSetup(r)) return Stop(r);
  if (!LocateInstalledGame(r)) return Stop(r);
  ShowUpdateMessage(r);

  if (!FindInstalledSettings(r)) {
    // A path too long for SETUP.INI is not a missing file: say which it is.
    if (r.settingsPath[0] == 0) return ShowPathRefusal(kInstallFolderName, kErrorMoreData), Stop(r);
    return FailWith(r, kNoSetupIniText);
  }
  SetInstalledSettingsPath(r.settingsPath);
  if (!ReadInstalledSettings(r.description, r.game)) return Stop(r);

  FormatCaption(r);
  if (!CheckNotAlreadyRunning(r)) return Stop(r);
  // An earlier run killed while it updated: the game goes back to one whole
  // version before anything else happens (no other copy runs now).
  WizardSession session{};
  session.caption = r.caption;
  session.update = UpdateContext{&r.archive, &r.description, &r.game};
  if (RecoverInterruptedUpdate(session.update) == 2) ShowCaptionError(kJournalIgnoredText);

  if (RunWizard(module, session) != 0) return FailWith(r, "アップデートが中断されました");
  CleanUp(r);
  return 1;
}
