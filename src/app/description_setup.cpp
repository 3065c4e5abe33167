// UPDATE.INI's section SETUP, and the agreement and intro texts it names.
#include <cstring>

#include "app/app.h"

namespace {

int ReadOptional(const char* key, char* buffer, uint32_t capacity) {
  std::memset(buffer, 0, capacity);
  return ReadDescriptionValue("SETUP", key, buffer, capacity);
}

// Copies member `name` into a zero-filled block two bytes longer than the
// member, so it is terminated whatever it holds. The block lives until exit.
int LoadText(const UpdaterRecords& r, const char* name, const char** out) {
  uint32_t size = 0;
  MemberProblem problem = MemberProblem::None;
  const uint8_t* bytes = FindMember(r.archive, name, &size, &problem);
  if (bytes == nullptr) {
    char text[kTextCapacity];
    MemberProblemText(problem, name, text, sizeof text);
    ShowCaptionError(text);
    FormatText(text, sizeof text, "'%s' not found at UPDATE.FA3", name);
    ShowCaptionError(text);
    return 0;
  }
  const bool decoded = bytes < r.archive.base || bytes >= r.archive.base + r.archive.size;
  char* block = static_cast<char*>(AllocateBlock(size_t(size) + 2, true));
  if (block) std::memcpy(block, bytes, size);
  if (decoded) FreeBlock(const_cast<uint8_t*>(bytes));
  if (block == nullptr) {
    ShowCaptionError("Can't Allocate Memory !!");
    return 0;
  }
  *out = block;
  return 1;
}

} // namespace

int ReadDescriptionSetup(UpdaterRecords& r) {
  UpdateDescription& d = r.description;
  // Required: reported while the quiet flag is still 0.
  if (!ReadDescriptionValue("SETUP", "CompanyName", d.companyName, sizeof d.companyName) ||
      !ReadDescriptionValue("SETUP", "GameTitle", d.gameTitle, sizeof d.gameTitle) ||
      !ReadDescriptionValue("SETUP", "GameClass", d.gameClass, sizeof d.gameClass) ||
      !ReadDescriptionValue("SETUP", "GameDir", d.gameDir, sizeof d.gameDir))
    return 0;
  SetQuietFlag(1);

  ReadOptional("GameTitleA", d.gameTitleA, sizeof d.gameTitleA);
  ReadOptional("UpdaterVersion", d.updaterVersion, sizeof d.updaterVersion);
  ReadOptional("UpdaterTitle", d.updaterTitle, sizeof d.updaterTitle);
  ReadOptional("DataFolder", d.dataFolder, sizeof d.dataFolder);
  ReadOptional("UpdateMessage", d.updateMessage, sizeof d.updateMessage);
  ReadOptional("ExistErrorMessage", d.existErrorMessage, sizeof d.existErrorMessage);

  char value[kPathCapacity];
  SetDescriptionMode(d, ReadOptional("ModeTextUpdateOrInstall", value, sizeof value) ? LeadingInteger(value) : 0);

  char member[kPathCapacity];
  d.agreementText = nullptr;
  d.introText = nullptr;
  if (ReadOptional("AgreementText", member, sizeof member) && !LoadText(r, member, &d.agreementText)) return 0;
  if (ReadOptional("AgreementTitle", member, sizeof member) && !LoadText(r, member, &d.introText)) return 0;
  return 1;
}
