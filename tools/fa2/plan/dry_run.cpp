// The dry run: what the updater would do with one archive and one installed
// game, judged by the updater's own code.
//
// The start-up readers (UPDATE.INI's section SETUP, the installed SETUP.INI)
// and the engine's decision functions (the free-space pre-check, the reading
// of both lists with their "e" checks, the destination of each entry and what
// applying it does, the newer-only rule, the disc search and the copy's
// source, destination and flags) are called as they are; they look at the
// real folders through the disk seam. What the plan adds is only what the
// engine decides inside its writing steps, each in one small function below
// that names the step it mirrors. Entries are judged in the engine's order,
// and what an earlier entry writes is simulated in the seam, so a later entry
// sees it.
#include "fa2/plan/dry_run.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <chrono>
#include <cstring>

#include "app/app.h"
#include "fa2/lib/toolkit.h"
#include "fa2/lib/update_check_context.h"
#include "fa2/plan/disk_platform.h"
#include "update/update.h"

namespace plan {

namespace {

constexpr const char* kDescriptionPath = "T:\\FA2PLAN\\UPDATE.INI";


std::string Local(const char* cp932) { return fa2::Cp932ToLocal(cp932); }
std::string Local(const std::string& cp932) { return fa2::Cp932ToLocal(cp932); }
std::string Quoted(const std::string& cp932) {
  std::string quoted(1, '"');
  quoted += Local(cp932);
  quoted += '"';
  return quoted;
}
std::string Real(const char* path) {
  const std::string local = LocalPathOf(path);
  return local.empty() ? Local(path) : local;
}

// Everything the boxes of one step said, joined.
std::string BoxTexts() {
  std::string all;
  for (const ShownBox& box : ShownBoxes()) all += (all.empty() ? "" : " / ") + Quoted(box.text);
  return all.empty() ? "no message" : all;
}

FileTime Now() {
  const auto since = std::chrono::system_clock::now().time_since_epoch();
  const int64_t ns = std::chrono::duration_cast<std::chrono::nanoseconds>(since).count();
  return fa2::FileTimeFromUnix(ns / 1000000000, uint32_t(ns % 1000000000));
}

// The folder part of a Windows path: up to its last single-byte backslash.
std::string ParentOf(const char* path) {
  size_t end = 0;
  for (const char* p = path; *p;) {
    const char* next = NextCharacter(p);
    if (next - p == 1 && *p == '\\') end = size_t(p - path);
    p = next;
  }
  return std::string(path, end);
}

bool IsFolder(const char* path) {
  const uint32_t a = ReadAttributes(path);
  return a != kAttrMissing && (a & kAttrDirectory);
}

std::string AttributeWords(uint32_t a) {
  std::string words;
  auto add = [&](uint32_t bit, const char* word) {
    if (a & bit) words += std::string(words.empty() ? "" : ", ") + word;
  };
  add(kAttrReadOnly, "read-only");
  add(kAttrHidden, "hidden");
  add(kAttrSystem, "system");
  add(kAttrArchive, "archive");
  return words.empty() ? "attributes " + std::to_string(a) : words;
}

enum class Kind { Write, KeepNewer, KeepData, Skip, Fail };

struct Outcome {
  Kind kind = Kind::Write;
  std::string text;   // "write (new file)", ...
  std::string player; // what the player sees on a failure (local encoding)
  std::string why;    // a failure's cause
};

Outcome Failure(const std::string& why, const std::string& player) {
  return {Kind::Fail, "fail (" + why + ")", player, why};
}

struct Counts {
  int written = 0, keptNewer = 0, keptData = 0, skipped = 0, copies = 0;
  std::vector<int> discs; // discs the copies need that were not given
};

class Planner {
 public:
  Planner(UpdaterRecords& records, const Options& options, std::FILE* out)
      : r_(records), options_(options), out_(out), context_{&records.archive, &records.description, &records.game} {}

  int Run();
  // The start-up checks alone: the setup lines, and whether the wizard opens.
  bool ReadSetup();
  const std::vector<std::string>& Lines() const { return lines_; }
  // UPDATE.INI's names of the registry key (local encoding), as read before
  // SETUP.INI replaces them.
  const std::string& Company() const { return company_; }
  const std::string& GameDir() const { return gameDir_; }

 private:
  struct UpdateKey {
    std::string key;
    UpdateLine line;
    enum { Check, Unselected, Entry } kind;
    int entry = -1;
    bool passes = false;
  };
  struct CopyKey {
    std::string key, value;
    CopyLine line;
    bool wellFormed = true, selected = true;
    int entry = -1;
  };

  void Print(const std::string& line) {
    lines_.push_back(line);
    if (out_) std::fprintf(out_, "%s\n", line.c_str());
  }
  int Refuse(const std::string& why) {
    Print("result: refused: " + why + "; nothing is written");
    return kRefused;
  }

  std::string MissingSetupKey();
  bool CheckSpace();
  bool ReadKeys(int listRead, const UpdateList& updates, const char* failedCheck, const CopyList& copies);
  std::string UpdateLabel(const UpdateKey& k) const;
  std::string CheckText(const UpdateKey& k) const;
  Outcome PlanEntry(const UpdateEntry& entry, std::string* destination);
  Outcome PlanExtraction(const UpdateEntry& entry, const char* destination, const std::string& replaceReason);
  std::string PlanCopyEntry(const CopyEntry& entry, Outcome* failure);
  void Count(const Outcome& outcome);

  UpdaterRecords& r_;
  const Options& options_;
  std::FILE* out_;
  UpdateContext context_;
  int overwriteOnly_ = 0;
  std::vector<UpdateKey> updateKeys_;
  std::vector<CopyKey> copyKeys_;
  Counts counts_;
  // The disc search of the copy list: the drive found last, or the disc
  // whose drive the plan does not know (not given with --disc).
  char drive_[3] = {};
  int unknownDisc_ = 0;
  std::map<int, uint64_t> stagedBytes_;  // bytes staged so far, by drive letter
  std::vector<std::string> lines_;       // every line printed
  std::string company_, gameDir_;
};

// ---- Start-up: UPDATE.INI's section SETUP and the installed SETUP.INI -----------------
bool Planner::ReadSetup() {
  ClearShownBoxes();
  SetErrorBoxCaption("UPDATE");
  SetQuietFlag(0);
  SetCurrentDiscNumber(0);
  SetDescriptionPath(kDescriptionPath);
  if (!ReadDescriptionSetup(r_)) {
    Print("setup: UPDATE.INI [SETUP]: refused with " + BoxTexts());
    return false;
  }
  company_ = Local(r_.description.companyName);
  gameDir_ = Local(r_.description.gameDir);
  CopyText(r_.game.installPath, sizeof r_.game.installPath, kInstallPath);
  CopyText(r_.game.dataPath, sizeof r_.game.dataPath, options_.data.empty() ? "" : kDataPath);
  r_.game.installMode = options_.mode;

  // As the main sequence: SETUP.INI must be there, then it must be valid.
  if (!FindInstalledSettings(r_)) {
    if (r_.settingsPath[0] == 0) {
      ClearShownBoxes();
      ShowPathRefusal(kInstallFolderName, kErrorMoreData);
      Print("setup: the install folder's SETUP.INI: refused with " + BoxTexts());
    } else {
      Print("setup: " + Real(r_.settingsPath) + ": refused with " + Quoted(kNoSetupIniText));
    }
    return false;
  }
  SetInstalledSettingsPath(r_.settingsPath);
  ClearShownBoxes();
  if (!ReadInstalledSettings(r_.description, r_.game)) {
    const std::string missing = ShownBoxes().empty() ? MissingSetupKey() : "";
    Print("setup: " + Real(r_.settingsPath) + ": refused with " + BoxTexts() + missing);
    return false;
  }
  Print("setup: UPDATE.INI [SETUP] and the installed SETUP.INI are valid; game " +
        Quoted(r_.description.gameTitle) + ", " + Local(r_.description.modeText));
  return true;
}

// Without a box the SETUP.INI reader stopped at a required key that is
// missing or empty, which the updater does not report: its quiet flag is set
// by then. The reader run again with the flag clear names the key in its
// report ("SETUP.INI : <key> キーが存在しません").
std::string Planner::MissingSetupKey() {
  static UpdateDescription description;
  static InstalledGame game;
  description = r_.description;
  game = r_.game;
  SetQuietFlag(0);
  ReadInstalledSettings(description, game);
  SetQuietFlag(1);
  const std::string report = ShownBoxes().empty() ? "" : Local(ShownBoxes().front().text);
  ClearShownBoxes();
  const std::string head = "SETUP.INI : ", tail = " キーが存在しません";
  if (report.size() <= head.size() + tail.size() || report.rfind(head, 0) != 0 ||
      report.compare(report.size() - tail.size(), tail.size(), tail) != 0)
    return "";
  return " (the required key " + report.substr(head.size(), report.size() - head.size() - tail.size()) +
         " is missing or empty)";
}

// ---- The free-space pre-check ---------------------------------------------------------------
bool Planner::CheckSpace() {
  const uint32_t required = RequiredDiskSpace();
  uint64_t shortfall = 0;
  char drive[3];
  const int shortOfSpace = DiskSpaceShortfall(r_.game.installPath, required, &shortfall, drive);
  if (required == 0) {
    Print("space: no RequiredDiskSpace: no check");
    return true;
  }
  uint64_t available = 0;
  const std::string head = "space: RequiredDiskSpace " + std::to_string(required) + " bytes, ";
  if (!FreeBytesAvailable(drive, &available)) {
    Print(head + "free space unknown: the update goes ahead");
    return true;
  }
  const std::string where = std::to_string(available) + " available on the drive of " + Real(r_.game.installPath);
  if (!shortOfSpace) {
    Print(head + where + ": enough");
    return true;
  }
  Print(head + where + ": short by " + std::to_string(shortfall) + " bytes: refused");
  return false;
}

// ---- The lists as the engine reads them -------------------------------------------------------
// Reads the keys one by one with the engine's own line parsers and checks,
// for one output line per key, and matches them with the lists that the
// engine's readers returned. false when the two disagree.
bool Planner::ReadKeys(int listRead, const UpdateList& updates, const char* failedCheck, const CopyList& copies) {
  int accepted = 0;
  bool stopped = false;
  for (int index = 0; index < kUpdateListCapacity && !stopped; ++index) {
    char key[16], value[kUpdateValueCapacity];
    FormatText(key, sizeof key, "UpdateFile%02i", index);
    if (!ReadDescriptionValue("UPDATE", key, value, sizeof value)) break;
    UpdateKey k{key, {}, UpdateKey::Entry};
    ParseUpdateLine(value, &k.line);
    if (k.line.operation == kOperationCheck) {
      k.kind = UpdateKey::Check;
      k.passes = ExistenceCheckPasses(r_.game.installPath, k.line.path);
      stopped = !k.passes;
    } else if (!UpdateLineSelected(k.line, r_.game.installMode)) {
      k.kind = UpdateKey::Unselected;
    } else {
      k.entry = accepted++;
      if (k.entry >= updates.count || std::strcmp(updates.entries[k.entry].relativePath, k.line.path) != 0)
        return false;
    }
    updateKeys_.push_back(k);
  }
  if (stopped != !listRead || (stopped && std::strcmp(updateKeys_.back().line.path, failedCheck) != 0)) return false;
  if (stopped) return true;  // the copy list is never read
  if (accepted != updates.count) return false;

  accepted = 0;
  for (int index = 0; index < kCopyListCapacity; ++index) {
    char key[16], value[kCopyValueCapacity];
    FormatText(key, sizeof key, "CopyFile%02i", index);
    if (!ReadDescriptionValue("UPDATE", key, value, sizeof value)) break;
    CopyKey k{key, value, {}};
    k.wellFormed = ParseCopyLine(value, &k.line);
    k.selected = CopyLineSelected(k.line, r_.game.installMode);
    if (k.selected) {
      k.entry = accepted++;
      if (k.entry >= copies.count || std::strcmp(copies.entries[k.entry].relativePath, k.line.path) != 0 ||
          copies.entries[k.entry].discNumber != k.line.discNumber)
        return false;
    }
    copyKeys_.push_back(k);
  }
  return accepted == copies.count;
}

std::string Planner::UpdateLabel(const UpdateKey& k) const {
  static const char* const kLetters[] = {"plain", "u", "d", "o", "e"};
  std::string label = k.key + " ";
  if (k.line.hasMode) label += std::to_string(k.line.mode) + ",";
  label += kLetters[k.line.operation];
  return label + " " + Local(k.line.path);
}

std::string Planner::CheckText(const UpdateKey& k) const {
  char full[kPathBuffer];
  CopyText(full, sizeof full, r_.game.installPath);
  const bool formed = JoinPath(full, sizeof full, k.line.path);
  std::string text = UpdateLabel(k) + " -> " + (formed ? Real(full) : "(path too long)") + ": ";
  if (k.passes) return text + "check passes";
  const uint32_t a = formed ? ReadAttributes(full) : kAttrMissing;
  std::string why = a == kAttrMissing          ? "not found"
                    : (a & kAttrDirectory) ? "a folder"
                                           : "not normal alone: " + AttributeWords(a);
#ifndef _WIN32
  if (a != kAttrMissing && (a & kAttrArchive) && !options_.normalFiles)
    why += "; files here carry the archive bit unless --normal-files";
#endif
  const char* message = r_.description.existErrorMessage[0] ? r_.description.existErrorMessage : kVersionErrorText;
  return text + "check fails (" + why + "): refused with " + Quoted(message);
}

// ---- One update entry -----------------------------------------------------------------------
// The steps of applying one entry: its folder (DataFolder created, one level),
// its destination, the engine's decision, and for "d" and extraction what the
// writing steps decide.
Outcome Planner::PlanEntry(const UpdateEntry& entry, std::string* shown) {
  const std::string player = Quoted(kWriteFailedText);
  char folder[kPathBuffer];
  // Lines without a folder or destination are refused before this, as the
  // updater refuses them (FindListRefusal); this is only a safeguard.
  if (!UpdateFolder(entry, context_, folder)) return Failure("the entry has no folder to go to", player);
  std::string notes;
  // The engine creates the folder before each entry; only its last level.
  if (ReadAttributes(folder) == kAttrMissing && IsFolder(ParentOf(folder).c_str())) {
    SimulateFolder(folder);
    notes += "; creates the folder " + Real(folder);
  }
  char destination[kPathBuffer];
  if (!UpdateDestination(folder, entry, destination)) return Failure("the destination path is too long", player);
  *shown = Real(destination);

  Outcome outcome;
  switch (DecideUpdateAction(entry, overwriteOnly_, destination)) {
    case UpdateAction::Skip:
      outcome = {Kind::Skip, IsFolder(destination) ? "skip (a folder, not a file)" : "skip (not existing)", ""};
      break;
    case UpdateAction::Keep: {
      // As the engine's data rewrite: a file that opens and tells its size is
      // kept (written back with its own bytes, no time stamp).
      FileHandle file = OpenFileForRead(destination);
      const bool readable = file != kInvalidFile && FileSizeLow(file) != 0xFFFFFFFFu;
      const uint32_t size = readable ? FileSizeLow(file) : 0;
      if (file != kInvalidFile) CloseFile(file);
      if (readable) {
        SimulateFile(destination, Now(), size);
        outcome = {Kind::KeepData, "keep data (existing file)", ""};
        break;
      }
      outcome = PlanExtraction(entry, destination, "replace unreadable data file");
      break;
    }
    case UpdateAction::Extract:
      outcome = PlanExtraction(entry, destination, "replace, no newer check");
      break;
  }
  outcome.text += notes;
  return outcome;
}

// What ExtractMember decides for this entry, in its order: the member, the
// free space for it, a folder in the way, the read-only attribute it clears,
// the newer-only rule (the archive's own ExistingFileIsNewer), then
// WriteWholeFile's refusal of hidden and system files; and that the file's
// folder exists, since nothing creates it.
Outcome Planner::PlanExtraction(const UpdateEntry& entry, const char* destination, const std::string& replaceReason) {
  const std::string player = Quoted(kWriteFailedText);
  MemberRef member;
  if (!LocateMember(r_.archive, MemberNameOf(entry), &member))
    return Failure("member " + Quoted(MemberNameOf(entry)) + " is not in the archive",
                   Quoted(kMemberMissingText) + " / " + player);
  const ArchiveEntry& m = *member.entry;

  // As the updater stages: every staged file needs its room on the drive at
  // once, beside the old files.
  char drive[3];
  uint64_t shortfall = 0;
  uint64_t& staged = stagedBytes_[std::toupper(uint8_t(destination[0]))];
  const uint64_t need = staged + m.uncompressedSize;
  if (need <= 0xFFFFFFFFull && MemberShortfall(destination, uint32_t(need), &shortfall, drive))
    return Failure("the staged files need " + std::to_string(need) + " bytes, " +
                       std::to_string(need - shortfall) + " available",
                   Quoted(std::string(kShortageFormat, std::strstr(kShortageFormat, "%s") - kShortageFormat) + "...") + " / " + player);

  const bool newerOnly = entry.operation == kOperationUpdate;
  uint32_t attributes = ReadAttributes(destination);
  const bool exists = attributes != kAttrMissing;
  std::string notes;
  if (exists) {
    if (attributes & kAttrDirectory) return Failure("the destination is a folder", player);
    if (attributes & kAttrReadOnly) {
      notes = "; clears read-only";
      attributes = kAttrNormal;
    }
  }
  FileTime installed{};
  bool installedKnown = false;
  if (exists) {
    FileHandle file = OpenFileForRead(destination);
    if (file != kInvalidFile) {
      installedKnown = ReadLastWriteTime(file, &installed);
      CloseFile(file);
    }
  }
  const std::string times = installedKnown ? " [installed " + fa2::FormatUtc(installed) + " UTC, member " +
                                                 fa2::FormatUtc(m.timeStamp) + " UTC]"
                                           : "";
  if (exists && newerOnly && ExistingFileIsNewer(destination, m.timeStamp))
    return {Kind::KeepNewer, "keep (installed file is newer)" + notes + times, ""};
  if (exists && RefusesRecreate(attributes))
    return Failure("the destination is " + AttributeWords(attributes & (kAttrHidden | kAttrSystem)), player);
  const std::string parent = ParentOf(destination);
  if (!IsFolder(parent.c_str())) return Failure("no folder " + Real(parent.c_str()), player);

  std::string reason = "new file";
  if (exists && !newerOnly) reason = replaceReason;
  if (exists && newerOnly)
    reason = !installedKnown ? "replace, installed time unreadable"
             : FileTimeValue(installed) == FileTimeValue(m.timeStamp) ? "replace same time"
                                                                      : "replace older";
  SimulateFile(destination, m.timeStamp, m.uncompressedSize);
  staged = need;
  return {Kind::Write, "write (" + reason + ")" + notes + (exists && newerOnly ? times : ""), ""};
}

// ---- One copy entry -------------------------------------------------------------------------------
// The disc search and the copy's source, destination and flags, as the engine
// finds them; without the disc the plan says which is needed.
std::string Planner::PlanCopyEntry(const CopyEntry& entry, Outcome* failure) {
  const std::string path = Local(entry.relativePath);
  if (entry.discNumber != 0) {
    if (FindDiscDrive(r_.game, entry.discNumber, drive_)) {
      unknownDisc_ = 0;
    } else {
      unknownDisc_ = entry.discNumber;
      if (std::find(counts_.discs.begin(), counts_.discs.end(), unknownDisc_) == counts_.discs.end())
        counts_.discs.push_back(unknownDisc_);
    }
  }
  if (unknownDisc_ != 0) {
    ++counts_.copies;
    char file[kPathBuffer];
    CopyText(file, sizeof file, r_.game.installPath);
    const std::string asFile = JoinPath(file, sizeof file, entry.relativePath) ? Real(file) : "(path too long)";
    const char* check = r_.game.discCheckFiles[unknownDisc_ < kDiscCheckFileCount ? unknownDisc_ : 0];
    std::string text = entry.discNumber != 0 ? "needs disc " + std::to_string(unknownDisc_) + " (check file " +
                                                   (check[0] ? Quoted(check) : std::string("none: any disc")) + ")"
                                             : "copies from the drive of disc " + std::to_string(unknownDisc_);
    return text + ": " + path + " -> " + asFile + " if a file (flags 0x0210), into " + Real(r_.game.installPath) +
           " if a folder (flags 0x0610)";
  }
  CopyPlan plan;
  if (!PlanCopy(entry, drive_, r_.game.installPath, &plan)) {
    char text[kTextCapacity];
    FormatText(text, sizeof text, kCopyFailedFormat, entry.relativePath);
    *failure = Failure(drive_[0] ? "a path is too long" : "no disc was found before this line to copy from",
                       Quoted(text));
    return failure->text;
  }
  const std::string source = std::string(drive_) + "\\" + path + " (" + Real(plan.source) + ")";
  if (ReadAttributes(plan.source) == kAttrMissing) {
    char text[kTextCapacity];
    FormatText(text, sizeof text, kCopyFailedFormat, entry.relativePath);
    *failure = Failure(source + " does not exist", Quoted(text));
    return failure->text;
  }
  ++counts_.copies;
  char flags[8];
  std::snprintf(flags, sizeof flags, "0x%04X", unsigned(plan.flags));
  if (plan.flags & kCopyNoErrorUi)
    return "copy folder " + source + " into " + Real(plan.destination) + " (flags " + flags + ")";
  return "copy file " + source + " -> " + Real(plan.destination) + " (flags " + flags + ")";
}

void Planner::Count(const Outcome& outcome) {
  switch (outcome.kind) {
    case Kind::Write: ++counts_.written; break;
    case Kind::KeepNewer: ++counts_.keptNewer; break;
    case Kind::KeepData: ++counts_.keptData; break;
    case Kind::Skip: ++counts_.skipped; break;
    case Kind::Fail: break;
  }
}

// Why the updater refuses a line outright, in the plan's words.
std::string RefusalText(ListFault fault) {
  switch (fault) {
    case ListFault::NoFolder: return "no data folder: the registry has no DataPath (--data)";
    case ListFault::TooLong: return "the destination path is too long";
    case ListFault::Outside: return "the path leads outside its folder (rooted, a drive, UNC, a device or \"..\" above it)";
    case ListFault::CopyNoDisc: return "the disc number is not a digit";
    case ListFault::CopyOutside: return "the path leads outside the disc and the install folder";
    case ListFault::Link: return "a junction or symbolic link lies on the way to the destination, or at it";
    case ListFault::CopyLink: return "a junction or symbolic link lies on the way to the destination, or at it";
    case ListFault::None: break;
  }
  return "";
}

// The same for a path the updater confines, naming the path (the line's
// own, or the DataFolder every update line is joined below) and the rule it
// breaks, in fa2 build's words.
std::string RefusalText(const ListRefusal& refusal, const UpdateContext& context, const UpdateList& updates,
                        const CopyList& copies) {
  const char* dataFolder = context.description->dataFolder;
  std::string what = "the path ";
  const char* path;
  if (refusal.fault == ListFault::CopyOutside) {
    path = copies.entries[refusal.index].relativePath;
  } else if (refusal.fault == ListFault::Outside && !PathStaysInside(dataFolder)) {
    what = "DataFolder ";
    path = dataFolder;
  } else if (refusal.fault == ListFault::Outside) {
    path = updates.entries[refusal.index].relativePath;
  } else {
    return RefusalText(refusal.fault);
  }
  return what + fa2::checks::Quote(path) + " " + fa2::checks::OutsideWhy(ConfinePath(path));
}

// ---- The whole run, in the updater's order ----------------------------------------------------
int Planner::Run() {
  if (!ReadSetup()) return Refuse("the updater stops before its wizard opens");
  if (!CheckSpace()) return Refuse("not enough free space; the wizard stays open");

  overwriteOnly_ = OverwriteOnlyRule();
  if (overwriteOnly_) Print("overwrite-only: on (OverwriteOnly): update lines only replace existing files");

  static UpdateList updates;
  static CopyList copies;
  char failedCheck[kPathCapacity] = {};
  const int listRead = ReadUpdateList(context_, &updates, failedCheck);
  copies.count = 0;
  if (listRead) ReadCopyList(context_, &copies);
  if (!ReadKeys(listRead, updates, failedCheck, copies)) {
    std::fprintf(stderr, "fa2: plan: internal error: the lines read here differ from the updater's lists\n");
    return kCannotPlan;
  }

  const bool refusedByCheck = !listRead;
  const bool nothing = listRead && updates.count == 0 && copies.count == 0;
  // The updater's own refusal of a line before anything is written.
  const ListRefusal refusal = listRead && !nothing ? FindListRefusal(context_, updates, copies)
                                                   : ListRefusal{ListFault::None, 0};
  const bool copyRefused = refusal.fault == ListFault::CopyNoDisc || refusal.fault == ListFault::CopyOutside ||
                           refusal.fault == ListFault::CopyLink;
  const bool refusedLine = refusal.fault != ListFault::None;
  std::string refusedKey, refusedWhy, refusedPlayer;
  std::string stoppedAt;  // the key at which applying failed
  std::string failureText, failurePlayer;
  for (const UpdateKey& k : updateKeys_) {
    const std::string label = UpdateLabel(k);
    if (k.kind == UpdateKey::Check) {
      Print(CheckText(k));
    } else if (k.kind == UpdateKey::Unselected) {
      Print(label + ": not selected (mode " + std::to_string(k.line.mode) + ", InstMode " +
            std::to_string(r_.game.installMode) + ")");
    } else if (refusedLine && !copyRefused && k.entry == refusal.index) {
      refusedKey = k.key;
      refusedWhy = RefusalText(refusal, context_, updates, copies);
      char text[kTextCapacity];
      FormatLineRefusal(refusal, updates, text, sizeof text);
      refusedPlayer = Quoted(text);
      Print(label + ": refused (" + refusedWhy + "): the update is refused with " + refusedPlayer);
    } else if (refusedByCheck || nothing || refusedLine) {
      Print(label + ": not applied (the update is refused)");
    } else if (!stoppedAt.empty()) {
      Print(label + ": not applied (the update stopped at " + stoppedAt + ")");
    } else {
      std::string destination;
      const Outcome outcome = PlanEntry(updates.entries[k.entry], &destination);
      Print(label + (destination.empty() ? "" : " -> " + destination) + ": " + outcome.text +
            (outcome.kind == Kind::Fail ? ": the update stops with " + outcome.player : ""));
      Count(outcome);
      if (outcome.kind == Kind::Fail) {
        stoppedAt = k.key;
        failureText = outcome.why;
        failurePlayer = outcome.player;
      }
    }
  }
  if (refusedByCheck) return Refuse("the \"e\" check of " + updateKeys_.back().key + " fails");

  for (const CopyKey& k : copyKeys_) {
    const std::string label = k.key + " " + Local(k.value);
    if (!k.selected) {
      Print(label + ": not selected (mode " + (k.line.mode < 0 ? std::string("not a digit") : std::to_string(k.line.mode)) +
            ", InstMode " + std::to_string(r_.game.installMode) + ")");
    } else if (copyRefused && k.entry == refusal.index) {
      char text[kTextCapacity];
      FormatText(text, sizeof text, kCopyFailedFormat, copies.entries[k.entry].relativePath);
      refusedKey = k.key;
      refusedWhy = RefusalText(refusal, context_, updates, copies);
      refusedPlayer = Quoted(text);
      Print(label + ": refused (" + refusedWhy + "): the update is refused with " + refusedPlayer);
    } else if (nothing || refusedLine) {
      Print(label + ": not applied (the update is refused)");
    } else if (!stoppedAt.empty()) {
      Print(label + ": not applied (the update stopped at " + stoppedAt + ")");
    } else {
      Outcome failure;
      const std::string text = PlanCopyEntry(copies.entries[k.entry], &failure);
      if (failure.kind == Kind::Fail) {
        Print(label + ": " + text + ": the update stops with " + failure.player);
        stoppedAt = k.key;
        failureText = failure.why;
        failurePlayer = failure.player;
      } else {
        Print(label + ": " + text);
      }
    }
  }
  if (nothing) return Refuse("no line applies: " + Quoted(kNoEntriesText));
  if (refusedLine) return Refuse(refusedKey + " " + refusedWhy + "; the player sees " + refusedPlayer);
  if (!stoppedAt.empty()) {
    Print("result: fails at " + stoppedAt + ": " + failureText + "; the player sees " + failurePlayer +
          (stoppedAt.rfind("Copy", 0) == 0 ? "; the update lines and the copies before it stay written"
                                           : "; no game file is changed (the update lines are written all or nothing)"));
    return kRefused;
  }
  std::string summary = "result: would run: " + std::to_string(counts_.written) + " written, " +
                        std::to_string(counts_.keptNewer) + " kept as newer, " + std::to_string(counts_.keptData) +
                        " data kept, " + std::to_string(counts_.skipped) + " skipped, " +
                        std::to_string(counts_.copies) + " disc " + (counts_.copies == 1 ? "copy" : "copies");
  if (!counts_.discs.empty()) {
    summary += "; the player is asked for disc";
    for (size_t i = 0; i < counts_.discs.size(); ++i) summary += (i ? ", " : " ") + std::to_string(counts_.discs[i]);
  }
  Print(summary);
  return kWouldRun;
}

}  // namespace

namespace {

UpdaterRecords gRecords;

// The disk seam mapped to the folders and the archive's directory opened.
// False (with a message on stderr) when the updater could not read it.
bool Prepare(const uint8_t* base, size_t size, const Options& options) {
  ResetDisk();
  MapFolder(kInstallPath, options.install);
  if (!options.data.empty()) MapFolder(kDataPath, options.data);
  for (size_t i = 0; i < options.discs.size(); ++i) MapDisc(char(kFirstDiscDrive + i), options.discs[i]);
  SetNormalFiles(options.normalFiles);
  gRecords = UpdaterRecords{};
  gRecords.archive.base = base;
  gRecords.archive.size = uint32_t(size);
  uint8_t* directory = OpenArchive(gRecords.archive);
  if (directory == nullptr) {
    std::fprintf(stderr, "fa2: plan: the updater cannot read this archive's directory\n");
    return false;
  }
  AttachDirectory(gRecords.archive, directory);
  return true;
}

// Frees the directory that Prepare opened.
struct Closer {
  ~Closer() { CloseArchive(gRecords.archive); }
};

// UPDATE.INI given to the profile reader, as the main sequence extracts it.
// kWouldRun, kRefused (no such member, said on `out`) or kCannotPlan.
int LoadDescription(const uint8_t* base, size_t size, std::FILE* out) {
  MemberRef member;
  if (!LocateMember(gRecords.archive, "UPDATE.INI", &member)) {
    if (out) {
      std::fprintf(out, "setup: UPDATE.INI: refused with \"%s\"\n", Local(kMemberMissingText).c_str());
      std::fprintf(out, "result: refused: the archive has no UPDATE.INI; nothing is written\n");
    }
    return kRefused;
  }
  fa2::ParsedArchive parsed;
  fa2::Bytes ini;
  std::string error;
  if (!fa2::ParseArchive(base, size, parsed, error) ||
      !fa2::ReadMember(base, parsed, size_t(member.entry - gRecords.archive.entries), ini, error)) {
    std::fprintf(stderr, "fa2: plan: UPDATE.INI cannot be read: %s\n", error.c_str());
    return kCannotPlan;
  }
  SetProfileText(kDescriptionPath, std::string(ini.begin(), ini.end()));
  return kWouldRun;
}

}  // namespace

int DryRun(const uint8_t* base, size_t size, const Options& options, std::FILE* out) {
  if (!Prepare(base, size, options)) return kCannotPlan;
  Closer closer;
  std::fprintf(out, "install: %s as %s, InstMode %d\n", LocalPathOf(kInstallPath).c_str(), kInstallPath,
               int(options.mode));
  if (options.data.empty())
    std::fprintf(out, "data: none (no DataPath: \"d\" lines cannot be written)\n");
  else
    std::fprintf(out, "data: %s as %s\n", LocalPathOf(kDataPath).c_str(), kDataPath);
  for (size_t i = 0; i < options.discs.size(); ++i) {
    const char drive[3] = {char(kFirstDiscDrive + i), ':', 0};
    std::fprintf(out, "disc drive: %s as %s (CD-ROM)\n", LocalPathOf(drive).c_str(), drive);
  }
  if (options.discs.empty()) std::fprintf(out, "disc drive: none (disc copies are reported as needed)\n");
#ifdef _WIN32
  std::fprintf(out, "attributes: the files' own; \"e\" checks depend on them\n");
#else
  std::fprintf(out, "attributes: %s; \"e\" checks depend on this rule\n",
               options.normalFiles ? "files carry no archive bit (--normal-files): writable files are normal alone"
                                   : "every file carries the archive bit, as under Wine (--normal-files: none)");
#endif
  if (const int code = LoadDescription(base, size, out); code != kWouldRun) return code;
  return Planner(gRecords, options, out).Run();
}

Startup CheckStartup(const uint8_t* base, size_t size, const Options& options) {
  Startup startup;
  if (!Prepare(base, size, options)) return startup;
  Closer closer;
  if (LoadDescription(base, size, nullptr) != kWouldRun) {
    startup.refusal = "the archive has no UPDATE.INI that the updater can read";
    return startup;
  }
  Planner planner(gRecords, options, nullptr);
  startup.opens = planner.ReadSetup();
  startup.refusal = planner.Lines().empty() ? "" : planner.Lines().back();
  startup.companyName = planner.Company();
  startup.gameDir = planner.GameDir();
  return startup;
}

}  // namespace plan
