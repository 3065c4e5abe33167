// The disc copy list: CopyFile00 to CopyFile15 of section UPDATE, each
// "[mode,][disc:]path", copied from the install disc into the install folder
// through the shell's copy operation.
// Format: docs/formats.md, "UPDATE.INI".
//
// The prefixes sit at fixed byte positions; the path is everything after
// them, commas and blanks included. An entry with a disc number finds that
// disc in a CD-ROM drive by its check file; an entry without one copies from
// the drive the last search found.
#include <cstring>

#include "update/update.h"

namespace {

constexpr uint16_t kCopyFileFlags = kCopyNoConfirm | kCopyMakeFolders;                    // 0x0210
constexpr uint16_t kCopyFolderFlags = kCopyNoConfirm | kCopyMakeFolders | kCopyNoErrorUi; // 0x0610

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

} // namespace

int EndsInDots(const char* path) {
  const char* last = path;
  for (const char* p = path; *p; p = NextCharacter(p))
    if (*p == '\\' || *p == '/') last = p + 1;
  return std::strcmp(last, ".") == 0 || std::strcmp(last, "..") == 0;
}

int ParseCopyLine(const char* value, CopyLine* line) {
  const char* p = value;
  line->hasMode = 0;
  line->mode = -1;
  line->discNumber = 0;
  if (p[0] != 0 && p[1] == ',') {
    line->hasMode = 1;
    if (IsDigit(p[0])) line->mode = p[0] - '0';
    p += 2;
  }
  int wellFormed = 1;
  if (p[0] != 0 && p[1] == ':') {
    // Only a digit names one of the ten discs.
    if (IsDigit(p[0])) {
      line->discNumber = p[0] - '0';
    } else {
      line->discNumber = -1;
      wellFormed = 0;
    }
    p += 2;
  }
  CopyText(line->path, sizeof line->path, p);
  return wellFormed;
}

int CopyLineSelected(const CopyLine& line, int32_t installMode) {
  return !line.hasMode || (line.mode >= 0 && line.mode == installMode);
}

int FindDiscDrive(const InstalledGame& game, int32_t disc, char drive[3]) {
  if (disc < 0 || disc >= kDiscCheckFileCount) return 0;
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    const char candidate[3] = {letter, ':', 0};
    if (DriveType(candidate) != kDriveCdrom) continue;
    // An empty check file leaves the root itself: any readable disc counts.
    char check[kPathBuffer] = {};
    CopyText(check, sizeof check, candidate);
    if (!JoinPath(check, sizeof check, game.discCheckFiles[disc])) continue;
    if (ReadAttributes(check) == kAttrMissing) continue;
    std::memcpy(drive, candidate, 3);
    return 1;
  }
  return 0;
}

int PlanCopy(const CopyEntry& entry, const char* drive, const char* installPath, CopyPlan* plan) {
  std::memset(plan, 0, sizeof *plan);
  // Without a drive found by a disc search there is nothing to copy from.
  if (drive[0] == 0 || installPath[0] == 0) return 0;
  CopyText(plan->source, sizeof plan->source, drive);
  if (!JoinPath(plan->source, sizeof plan->source, entry.relativePath)) return 0;

  // A missing source reads as all ones, directory bit included: it goes the
  // folder's way and the shell reports the failure without a box of its own.
  if (ReadAttributes(plan->source) & kAttrDirectory) {
    plan->flags = kCopyFolderFlags;
    return CopyText(plan->destination, kPathCapacity, installPath);
  }
  plan->flags = kCopyFileFlags;
  CopyText(plan->destination, sizeof plan->destination, installPath);
  return JoinPath(plan->destination, sizeof plan->destination, entry.relativePath);
}
