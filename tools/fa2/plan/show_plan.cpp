// fa2 plan's text: the updater's own start-up readers (UPDATE.INI's section
// SETUP, the installed SETUP.INI) and the engine's own plan (PlanUpdate),
// made against the real folders through the read-only disk seam, printed
// one line per step. Nothing here decides what the updater does; it only
// says what the plan holds.
#include "fa2/plan/show_plan.h"

#include <algorithm>
#include <cctype>
#include <memory>
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
// A text of the updater as one line: its line breaks written \r and \n.
std::string Quoted(const std::string& cp932) {
  std::string quoted(1, '"');
  for (char c : Local(cp932))
    quoted += c == '\r' ? std::string("\\r") : c == '\n' ? std::string("\\n") : std::string(1, c);
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
  void Print(const std::string& line) {
    lines_.push_back(line);
    if (out_) std::fprintf(out_, "%s\n", line.c_str());
  }
  int Refuse(const std::string& why) {
    Print("result: refused: " + why + "; nothing is written");
    return kRefused;
  }

  std::string MissingSetupKey();
  bool CheckSpace(const UpdatePlan& plan);
  std::string UpdateLabel(const PlannedUpdate& p, int key) const;
  std::string CheckText(const PlannedUpdate& p, int key) const;
  std::string Outcome(const PlannedUpdate& p) const;
  std::string CopyLineText(const PlannedCopy& c) const;
  std::string FailWhy(const PlannedUpdate& p) const;

  UpdaterRecords& r_;
  const Options& options_;
  std::FILE* out_;
  UpdateContext context_;
  const CopyList* copies_ = nullptr;
  std::vector<std::string> lines_; // every line printed
  std::string company_, gameDir_;
};

// ---- Start-up: UPDATE.INI's section SETUP and the installed SETUP.INI -----------------
bool Planner::ReadSetup() {
  ClearShownBoxes();
  SetErrorBoxCaption("UPDATE");
  SetQuietFlag(0);
  SetCurrentDiscNumber(0);
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
  Print("setup: UPDATE.INI [SETUP] and the installed SETUP.INI are valid; game " + Quoted(r_.description.gameTitle) +
        ", " + Local(r_.description.modeText));
  return true;
}

// Without a box the SETUP.INI reader stopped at a required key that is
// missing or empty, which the updater does not report: its quiet flag is set
// by then. The reader run again with the flag clear names the key in its
// report ("SETUP.INI : <key> キーが存在しません").
std::string Planner::MissingSetupKey() {
  const auto description = std::make_unique<UpdateDescription>(r_.description);
  const auto game = std::make_unique<InstalledGame>(r_.game);
  SetQuietFlag(0);
  ReadInstalledSettings(*description, *game);
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
bool Planner::CheckSpace(const UpdatePlan& plan) {
  if (plan.requiredSpace == 0) {
    Print("space: no RequiredDiskSpace: no check");
    return true;
  }
  const std::string head = "space: RequiredDiskSpace " + std::to_string(plan.requiredSpace) + " bytes, ";
  if (!plan.spaceKnown) {
    Print(head + "free space unknown: the update goes ahead");
    return true;
  }
  const std::string where = std::to_string(plan.available) + " available on the drive of " + Real(r_.game.installPath);
  if (plan.result != PlanResult::NoSpace) {
    Print(head + where + ": enough");
    return true;
  }
  Print(head + where + ": short by " + std::to_string(plan.shortfall) + " bytes: refused");
  return false;
}

// ---- One line of each list --------------------------------------------------------------------
std::string KeyOf(const char* list, int index) {
  char key[32];
  std::snprintf(key, sizeof key, "%s%02d", list, index);
  return key;
}

std::string Planner::UpdateLabel(const PlannedUpdate& p, int key) const {
  std::string label = KeyOf("UpdateFile", key) + " ";
  if (p.line.hasMode) label += std::to_string(p.line.mode) + ",";
  label += KindOf(p.line.operation).name;
  return label + " " + Local(p.line.path);
}

std::string Planner::CheckText(const PlannedUpdate& p, int key) const {
  char full[kPathBuffer];
  const bool formed = CopyText(full, sizeof full, r_.game.installPath) && JoinPath(full, sizeof full, p.line.path);
  std::string text = UpdateLabel(p, key) + " -> " + (formed ? Real(full) : "(path too long)") + ": ";
  if (p.decision == Decision::CheckPasses) return text + "check passes";
  const uint32_t a = formed ? ReadAttributes(full) : kAttrMissing;
  std::string why = a == kAttrMissing      ? "not found"
                    : (a & kAttrDirectory) ? "a folder"
                                           : "not normal alone: " + AttributeWords(a);
#ifndef _WIN32
  if (a != kAttrMissing && (a & kAttrArchive) && !options_.normalFiles)
    why += "; files here carry the archive bit unless --normal-files";
#endif
  const char* message = r_.description.existErrorMessage[0] ? r_.description.existErrorMessage : kVersionErrorText;
  return text + "check fails (" + why + "): refused with " + Quoted(message);
}

std::string Times(const PlannedUpdate& p) {
  if (!p.installedTimeKnown) return "";
  return " [installed " + fa2::FormatUtc(p.installedTime) + " UTC, member " + fa2::FormatUtc(p.memberTime) + " UTC]";
}

std::string ParentText(const char* path) {
  std::string parent = ParentOf(path);
  return Real(parent.c_str());
}

// What a judged line does, in words.
// How a member that goes as a delta comes: its base, and whether the
// installed file is it.
std::string DeltaText(const PlannedUpdate& p) {
  const std::string base = "; as a delta against a base of " +
                           fa2::DescribeFile(p.deltaHeader.baseSize, p.deltaHeader.baseDigest, 16) + "...";
  switch (p.delta) {
    case DeltaUse::Delta: return base + " (base matches: delta applied, " + std::to_string(p.deltaStored) + " bytes)";
    case DeltaUse::FullInstead: return base + " (not the base: full member written)";
    case DeltaUse::NoBase: return base + " (not the base, and there is no full member)";
    case DeltaUse::None: break;
  }
  return "";
}

std::string Planner::Outcome(const PlannedUpdate& p) const {
  const bool exists = p.attributes != kAttrMissing;
  const bool newerOnly = KindOf(p.line.operation).newerOnly;
  const std::string readOnly = exists && (p.attributes & kAttrReadOnly) ? "; clears read-only" : "";
  std::string text;
  switch (p.decision) {
    case Decision::Skip:
      text = exists && (p.attributes & kAttrDirectory) ? "skip (a folder, not a file)" : "skip (not existing)";
      break;
    case Decision::KeepData: text = "keep data (existing file)"; break;
    case Decision::KeepNewer: text = "keep (installed file is newer)" + readOnly + Times(p); break;
    case Decision::Write: {
      static const char* const kReasons[] = {"new file",
                                             "replace, no newer check",
                                             "replace older",
                                             "replace same time",
                                             "replace, installed time unreadable",
                                             "replace unreadable data file"};
      text = std::string("write (") + kReasons[int(p.reason)] + ")" + readOnly + (exists && newerOnly ? Times(p) : "");
      text += DeltaText(p);
      break;
    }
    default: text = "fail (" + FailWhy(p) + ")"; break;
  }
  if (p.makesFolder) {
    char folder[kPathBuffer];
    UpdateEntry entry;
    EntryOfLine(p.line, &entry);
    if (UpdateFolder(entry, context_, folder)) text += "; creates the folder " + Real(folder);
  }
  return text;
}

std::string Planner::FailWhy(const PlannedUpdate& p) const {
  switch (p.fault) {
    case LineFault::MemberMissing: {
      UpdateEntry entry;
      EntryOfLine(p.line, &entry);
      return "member " + Quoted(MemberNameOf(entry)) + " is not in the archive";
    }
    case LineFault::NoRoom:
      return "the staged files need " + std::to_string(p.stagedBytes + p.memberSize) + " bytes, " +
             std::to_string(p.available) + " available";
    case LineFault::FolderInWay: return "the destination is a folder";
    case LineFault::Hidden: return "the destination is " + AttributeWords(p.attributes & (kAttrHidden | kAttrSystem));
    case LineFault::NoParent: return "no folder " + ParentText(p.destination);
    default: return "";
  }
}

std::string Planner::CopyLineText(const PlannedCopy& c) const {
  const CopyEntry& entry = c.entry >= 0 ? copies_->entries[c.entry] : CopyEntry{};
  const std::string path = Local(entry.relativePath);
  if (c.decision == Decision::Copy && !c.drive[0]) {
    char file[kPathBuffer];
    CopyText(file, sizeof file, r_.game.installPath);
    const std::string asFile = JoinPath(file, sizeof file, entry.relativePath) ? Real(file) : "(path too long)";
    const char* check = r_.game.discCheckFiles[c.disc < kDiscCheckFileCount ? c.disc : 0];
    std::string text = entry.discNumber != 0 ? "needs disc " + std::to_string(c.disc) + " (check file " +
                                                   (check[0] ? Quoted(check) : std::string("none: any disc")) + ")"
                                             : "copies from the drive of disc " + std::to_string(c.disc);
    return text + ": " + path + " -> " + asFile + " if a file (flags 0x0210), into " + Real(r_.game.installPath) +
           " if a folder (flags 0x0610)";
  }
  const std::string source = std::string(c.drive) + "\\" + path + " (" + (c.copy.source[0] ? Real(c.copy.source) : "") +
                             ")";
  if (c.decision == Decision::Fail && c.fault == LineFault::NoDrive)
    return std::string("fail (") +
           (c.drive[0] ? "a path is too long" : "no disc was found before this line to copy from") + ")";
  if (c.decision == Decision::Fail) return "fail (" + source + " does not exist)";
  char flags[8];
  std::snprintf(flags, sizeof flags, "0x%04X", unsigned(c.copy.flags));
  if (c.copy.flags & kCopyNoErrorUi)
    return "copy folder " + source + " into " + Real(c.copy.destination) + " (flags " + flags + ")";
  return "copy file " + source + " -> " + Real(c.copy.destination) + " (flags " + flags + ")";
}

// Why the updater refuses a line outright, in the plan's words.
std::string RefusalText(ListFault fault) {
  switch (fault) {
    case ListFault::NoFolder: return "no data folder: the registry has no DataPath (--data)";
    case ListFault::TooLong: return "the destination path is too long";
    case ListFault::Outside:
      return "the path leads outside its folder (rooted, a drive, UNC, a device or \"..\" above it)";
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
std::string RefusalText(LineFault fault, const char* linePath, const UpdateContext& context) {
  const ListFault listFault = ListFault(int(ListFault::NoFolder) + int(fault) - int(LineFault::NoFolder));
  const char* dataFolder = context.description->dataFolder;
  std::string what = "the path ";
  const char* path = linePath;
  if (listFault == ListFault::Outside && !PathStaysInside(dataFolder)) {
    what = "DataFolder ";
    path = dataFolder;
  } else if (listFault != ListFault::Outside && listFault != ListFault::CopyOutside) {
    return RefusalText(listFault);
  }
  return what + fa2::checks::Quote(path) + " " + fa2::checks::OutsideWhy(ConfinePath(path));
}

std::string Joined(const Notices& notices) {
  std::string all;
  for (int i = 0; i < notices.count; ++i) all += (i ? " / " : "") + Quoted(notices.texts[i]);
  return all;
}

// ---- The whole run, in the updater's order ----------------------------------------------------
int Planner::Run() {
  if (!ReadSetup()) return Refuse("the updater stops before its wizard opens");
  const auto owned = std::make_unique<UpdatePlan>();
  UpdatePlan& plan = *owned;
  PlanUpdate(context_, &plan);
  FindPlanDiscs(context_, &plan);
  copies_ = &plan.copies;
  if (!CheckSpace(plan)) return Refuse("not enough free space; the wizard stays open");
  if (plan.overwriteOnly) Print("overwrite-only: on (OverwriteOnly): update lines only replace existing files");

  const std::string player = Joined(plan.notices);
  const bool refused = plan.result == PlanResult::Refused;
  const std::string stoppedAt = plan.stoppedKey < 0 ? ""
                                : plan.stoppedKey < plan.updateKeys
                                    ? KeyOf("UpdateFile", plan.stoppedKey)
                                    : KeyOf("CopyFile", plan.stoppedKey - plan.updateKeys);
  const std::string notApplied = refused ? ": not applied (the update is refused)"
                                         : ": not applied (the update stopped at " + stoppedAt + ")";
  std::string refusedWhy, failedWhy;
  int written = 0, keptNewer = 0, keptData = 0, skipped = 0, copies = 0;
  std::vector<int> discs;
  for (int i = 0; i < plan.updateKeys; ++i) {
    const PlannedUpdate& p = plan.updateLines[i];
    const std::string label = UpdateLabel(p, i);
    switch (p.decision) {
      case Decision::CheckPasses:
      case Decision::CheckFails: Print(CheckText(p, i)); break;
      case Decision::NotSelected:
        Print(label + ": not selected (mode " + std::to_string(p.line.mode) + ", InstMode " +
              std::to_string(r_.game.installMode) + ")");
        break;
      case Decision::NotReached: Print(label + notApplied); break;
      case Decision::Refuse:
        if (p.fault == LineFault::NotBase) {
          refusedWhy = Real(p.destination) + " is not the base of its member's delta (" +
                       fa2::DescribeFile(p.deltaHeader.baseSize, p.deltaHeader.baseDigest, 16) +
                       "...) and the archive has no full member";
          Print(label + " -> " + Real(p.destination) + ": refused (not the base: the delta needs " +
                fa2::DescribeFile(p.deltaHeader.baseSize, p.deltaHeader.baseDigest, 16) +
                "..., and there is no full member): the update is refused with " + player);
          break;
        }
        refusedWhy = RefusalText(p.fault, p.line.path, context_);
        Print(label + ": refused (" + refusedWhy + "): the update is refused with " + player);
        break;
      default:
        Print(label + " -> " + Real(p.destination) + ": " + Outcome(p) +
              (p.decision == Decision::Fail ? ": the update stops with " + player : ""));
        written += p.decision == Decision::Write;
        keptNewer += p.decision == Decision::KeepNewer;
        keptData += p.decision == Decision::KeepData;
        skipped += p.decision == Decision::Skip;
        if (p.decision == Decision::Fail) failedWhy = FailWhy(p);
        break;
    }
  }
  if (refused && plan.stoppedKey >= 0 && plan.stoppedKey < plan.updateKeys &&
      plan.updateLines[plan.stoppedKey].decision == Decision::CheckFails)
    return Refuse("the \"e\" check of " + stoppedAt + " fails");

  for (int i = 0; i < plan.copyKeys; ++i) {
    const PlannedCopy& c = plan.copyLines[i];
    char value[kCopyValueCapacity];
    char key[16];
    FormatText(key, sizeof key, "CopyFile%02i", i);
    ReadDescriptionValue("UPDATE", key, value, sizeof value);
    const std::string label = KeyOf("CopyFile", i) + " " + Local(value);
    switch (c.decision) {
      case Decision::NotSelected:
        Print(label + ": not selected (mode " +
              (c.line.mode < 0 ? std::string("not a digit") : std::to_string(c.line.mode)) + ", InstMode " +
              std::to_string(r_.game.installMode) + ")");
        break;
      case Decision::NotReached: Print(label + notApplied); break;
      case Decision::Refuse:
        refusedWhy = RefusalText(c.fault, c.line.path, context_);
        Print(label + ": refused (" + refusedWhy + "): the update is refused with " + player);
        break;
      case Decision::Fail: {
        const std::string text = CopyLineText(c);
        failedWhy = text.substr(6, text.size() - 7); // inside "fail (...)"
        Print(label + ": " + text + ": the update stops with " + player);
        break;
      }
      default:
        ++copies;
        if (!c.drive[0] && std::find(discs.begin(), discs.end(), c.disc) == discs.end()) discs.push_back(c.disc);
        Print(label + ": " + CopyLineText(c));
        break;
    }
  }
  if (refused && plan.stoppedKey < 0) return Refuse("no line applies: " + Quoted(kNoEntriesText));
  if (refused) return Refuse(stoppedAt + " " + refusedWhy + "; the player sees " + player);
  if (plan.result == PlanResult::Fails) {
    Print("result: fails at " + stoppedAt + ": " + failedWhy + "; the player sees " + player +
          (plan.stoppedKey >= plan.updateKeys
               ? "; the update lines and the copies before it stay written"
               : "; no game file is changed (the update lines are written all or nothing)"));
    return kRefused;
  }
  std::string summary = "result: would run: " + std::to_string(written) + " written, " + std::to_string(keptNewer) +
                        " kept as newer, " + std::to_string(keptData) + " data kept, " + std::to_string(skipped) +
                        " skipped, " + std::to_string(copies) + " disc " + (copies == 1 ? "copy" : "copies");
  if (!discs.empty()) {
    summary += "; the player is asked for disc";
    for (size_t i = 0; i < discs.size(); ++i) summary += (i ? ", " : " ") + std::to_string(discs[i]);
  }
  Print(summary);
  return kWouldRun;
}

} // namespace

namespace {

// The updater's records of one plan, and the archive's directory opened.
struct Session {
  UpdaterRecords records;
  ~Session() {
    FreeBlock(records.descriptionText);
    CloseArchive(records.archive);
  }
};

// The disk seam mapped to the folders and the archive's directory opened.
// False (with a message on stderr) when the updater could not read it.
bool Prepare(const uint8_t* base, size_t size, const Options& options, Session& session) {
  ResetDisk();
  MapFolder(kInstallPath, options.install);
  if (!options.data.empty()) MapFolder(kDataPath, options.data);
  for (size_t i = 0; i < options.discs.size(); ++i) MapDisc(char(kFirstDiscDrive + i), options.discs[i]);
  SetNormalFiles(options.normalFiles);
  UpdaterRecords& r = session.records;
  r.archive.base = base;
  r.archive.size = uint32_t(size);
  uint8_t* directory = OpenArchive(r.archive);
  if (directory == nullptr) {
    std::fprintf(stderr, "fa2: plan: the updater cannot read this archive's directory\n");
    return false;
  }
  AttachDirectory(r.archive, directory);
  return true;
}

// UPDATE.INI's checked bytes given to the profile reader, as the main
// sequence gives them. kWouldRun, or kRefused (said on `out`).
int LoadDescription(Session& session, std::FILE* out) {
  UpdaterRecords& r = session.records;
  MemberRef member;
  MemberProblem problem = MemberProblem::Missing;
  if (LocateMember(r.archive, "UPDATE.INI", &member)) r.descriptionText = ReadMemberBytes(r.archive, member, &problem);
  if (!r.descriptionText) {
    if (out) {
      char text[kTextCapacity];
      MemberProblemText(problem, "UPDATE.INI", text, sizeof text);
      std::fprintf(out, "setup: UPDATE.INI: refused with %s\n", Quoted(text).c_str());
      std::fprintf(out,
                   "result: refused: the archive has no UPDATE.INI that the updater can read; nothing is written\n");
    }
    return kRefused;
  }
  SetDescriptionPath(kDescriptionPath);
  SetDescriptionText(r.descriptionText, member.entry->uncompressedSize);
  return kWouldRun;
}

} // namespace

int DryRun(const uint8_t* base, size_t size, const Options& options, std::FILE* out) {
  const auto session = std::make_unique<Session>();
  if (!Prepare(base, size, options, *session)) return kCannotPlan;
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
  if (const int code = LoadDescription(*session, out); code != kWouldRun) return code;
  return Planner(session->records, options, out).Run();
}

Startup CheckStartup(const uint8_t* base, size_t size, const Options& options) {
  Startup startup;
  const auto session = std::make_unique<Session>();
  if (!Prepare(base, size, options, *session)) return startup;
  if (LoadDescription(*session, nullptr) != kWouldRun) {
    startup.refusal = "the archive has no UPDATE.INI that the updater can read";
    return startup;
  }
  Planner planner(session->records, options, nullptr);
  startup.opens = planner.ReadSetup();
  startup.refusal = planner.Lines().empty() ? "" : planner.Lines().back();
  startup.companyName = planner.Company();
  startup.gameDir = planner.GameDir();
  return startup;
}

} // namespace plan
