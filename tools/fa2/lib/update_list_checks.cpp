// Checks of section UPDATE: the space figure, the update lines
// (UpdateFile00..15) and the disc copy lines (CopyFile00..15).
//
// Both lists are read from index 00 up to the first missing or empty key; a
// key after that, a key beyond 15 and a key not written with two digits are
// never read. Update lines go through the list reader, so a character
// followed by a colon is dropped as a disc prefix, blanks before a comma
// stay in an item, and a first item that is not one digit is not a mode.
#include <cstdio>

#include "fa2/lib/toolkit.h"
#include "fa2/lib/update_check_context.h"
#include "update/update.h"

namespace fa2::checks {

namespace {

static_assert(kUpdateListCapacity == kCopyListCapacity);
constexpr int kListLength = kUpdateListCapacity;

// A figure as the updater's leading-integer conversion reads it.
struct LeadingNumber {
  bool digits = false, trailing = false;
  int64_t value = 0;
};

LeadingNumber ReadLeadingNumber(const std::string& text) {
  LeadingNumber n;
  const char* end = LeadingIntegerEnd(text.c_str());
  n.digits = end != text.c_str();
  n.trailing = n.digits && *end != 0;
  n.value = LeadingInteger64(text.c_str());
  return n;
}

std::string KeyName(const char* prefix, int index) {
  char name[32];
  std::snprintf(name, sizeof name, "%s%02d", prefix, index);
  return name;
}

bool AllDigits(const std::string& s) { return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos; }

bool IsDigit(uint8_t b) { return b >= '0' && b <= '9'; }

struct ListTally {
  int lines = 0;      // lines read
  int checks = 0;     // "e" lines among them, which write nothing
  uint64_t bytes = 0; // what the update lines write
  bool discSearched = false;
};

// Checks which keys of the list are read; calls `line` for each read one.
template <typename CheckLine>
void CheckList(Context& c, const char* prefix, CheckLine line) {
  int end = kListLength;
  const IniEntry* ending = nullptr;
  for (int i = 0; i < kListLength; ++i) {
    const IniEntry* e = FindIniEntry(c.ini, "UPDATE", KeyName(prefix, i));
    if (!e || e->value.empty()) {
      end = i;
      ending = e;
      break;
    }
    line(*e, i);
  }
  const IniSection* section = FindIniSection(c.ini, "UPDATE");
  if (!section) return;
  const std::string why = end < kListLength ? "the list ends at " + KeyName(prefix, end) + ", which is " +
                                                  (ending ? "empty" : "missing")
                                            : "";
  std::set<std::string> seen;
  for (const IniEntry& e : section->entries) {
    const std::string p = prefix;
    if (!e.hasEquals || e.key.size() < p.size() || !SameIniName(e.key.substr(0, p.size()), p)) continue;
    if (!seen.insert(UpperCp932(e.key)).second) continue;
    const std::string suffix = e.key.substr(p.size()), key = Shown(e.key);
    if (suffix.size() == 2 && AllDigits(suffix) && std::stoi(suffix) < kListLength) {
      if (std::stoi(suffix) > end) c.Error(e.line, key + " is never read: " + why);
    } else if (AllDigits(suffix) && std::stoi(suffix.substr(0, 6)) >= kListLength) {
      c.Error(e.line, key + " is never read: only " + p + "00 to " + p + "15 are");
    } else if (AllDigits(suffix)) {
      c.Error(e.line, key + " is never read: the updater asks for two-digit names such as " + KeyName(prefix, 5));
    } else {
      c.Error(e.line, key + " is never read: the updater reads " + p + "00 to " + p + "15 only");
    }
  }
}

void CheckUpdateLine(Context& c, const IniEntry& e, int index, ListTally& tally) {
  const std::string key = KeyName("UpdateFile", index);
  if (e.value.size() >= kUpdateValueCapacity) {
    c.Error(e.line, key + " is longer than the 1023 bytes the updater reads and would be cut");
    return;
  }
  const UpdateLineSyntax s = ParseUpdateLineSyntax(e.value);
  if (s.items[0].written.empty()) {
    c.Error(e.line, key + " starts with a comma, so the updater finds nothing in it");
    return;
  }
  for (const ListItem& item : s.items) {
    if (item.cut) {
      c.Error(e.line, "an item of " + key + " is longer than 259 bytes and would be cut");
      return;
    }
    if (item.discPrefix)
      c.Warn(e.line, Quote(item.written) + " in " + key + " loses its first two bytes and becomes " + Quote(item.text) +
                         ", because a character followed by a colon is read as a disc number");
  }
  const std::string& first = s.items[0].text;
  if (AllDigits(first) && first.size() > 1) {
    c.Error(e.line, key + " starts with " + Quote(first) +
                        ", which is not a mode (a mode is one digit), so the line is a plain entry for a file "
                        "named " +
                        Quote(first) + " and the rest is ignored");
    return;
  }
  const ListItem& op = s.items[s.operationIndex];
  if (s.operation == LineOperation::Plain) {
    std::string bare = op.text;
    while (!bare.empty() && (bare.back() == ' ' || bare.back() == '\t')) bare.pop_back();
    const bool letter = bare.size() == 1 && std::string("udoeUDOE").find(bare[0]) != std::string::npos;
    const bool rest = s.operationIndex + 1 < s.items.size() && !s.items[s.operationIndex + 1].written.empty();
    if (letter) {
      c.Error(e.line, Quote(op.text) + " in " + key +
                          " ends with a blank, which stays part of it, so it is not "
                          "the operation " +
                          Shown(bare) + ": remove the blank");
      return;
    }
    if (rest) {
      c.Error(e.line, Quote(op.text) + " in " + key +
                          " is not an operation (u, d, o or e), so the line is a "
                          "plain entry for a file named " +
                          Quote(op.text) + " and the rest is ignored");
      return;
    }
    c.Warn(e.line, key +
                       " has no operation letter, so its file is always written, like \"u\" without the "
                       "newer-file check; write \"u,\" or \"o,\" to say which is meant");
  } else if (op.text[0] >= 'A' && op.text[0] <= 'Z') {
    c.Warn(e.line, key + " writes its operation in upper case (" + op.text +
                       "); that works, but the usual "
                       "form is \"" +
                       char(op.text[0] + 32) + "\"");
  }
  const bool afterPath = s.moreItems || (s.operationIndex == 0 && !s.items[2].written.empty());
  if (afterPath) c.Warn(e.line, key + " has more items after its path, which the updater ignores");
  if (s.path.empty()) {
    c.Error(e.line, key + " names no file after its operation");
    return;
  }
  if (s.path.find('/') != std::string::npos) {
    c.Error(e.line, key + " writes its folders with '/', but the updater separates folders with '\\' only");
    return;
  }
  if (s.member.empty()) {
    c.Error(e.line, key + " ends with '\\' and names no file");
    return;
  }
  const int byPath = FindFolderFile(c.folder, s.path);
  const int file = byPath >= 0 ? byPath : FindFolderFile(c.folder, s.member);
  if (s.operation == LineOperation::Check) {
    ++tally.checks;
    if (file >= 0) c.mentioned.insert(file);
    c.Warn(e.line, key + " is an \"e\" check: the update stops unless the game folder has " + Quote(s.path) +
                       " with the normal attribute alone (a read-only, hidden or archive bit fails it), and "
                       "nothing is packed for it" +
                       (s.hasMode ? "; its mode is ignored, it is checked in every mode" : ""));
    return;
  }
  // The updater's own rule: a destination outside its folder refuses the
  // whole update.
  if (const Confinement why = ConfinePath(s.path.c_str()); why != Confinement::Inside) {
    // A file meant for the data folder, reached from the install folder.
    const bool forData = why == Confinement::Climbs && s.operation != LineOperation::Data;
    const char* what = why == Confinement::FoldsToStart ? " names no file: " : " writes outside its folder: ";
    c.Error(e.line, key + what + Quote(s.path) + " " + OutsideWhy(why) + "; the updater refuses the whole update" +
                        (forData ? ". A file for the data folder is a \"d\" line (\"d," + Shown(s.member) +
                                       "\", its path relative to the data folder; an existing file there is kept), "
                                       "not a path out of the install folder"
                                 : ""));
    return;
  }
  if (file < 0) {
    c.Error(e.line, key + " names " + Quote(s.path) + ", but the folder has " +
                        (s.member == s.path ? "no such file" : "neither " + Quote(s.path) + " nor " + Quote(s.member)));
    return;
  }
  c.AddMember(s.member, file, true, e.line, key + " (" + Shown(s.path) + ")");
  c.result.members[c.memberIndex[UpperCp932(s.member)]].writes.push_back({s.operation, s.path, key, e.line});
  tally.bytes += c.folder.files[size_t(file)].size;
}

void CheckCopyLine(Context& c, const IniEntry& e, int index, ListTally& tally) {
  const std::string key = KeyName("CopyFile", index);
  if (e.value.size() >= kCopyValueCapacity) {
    c.Error(e.line, key + " is longer than the 259 bytes the updater reads and would be cut");
    return;
  }
  const CopyLineSyntax s = ParseCopyLineSyntax(e.value);
  const size_t comma = e.value.find(',');
  if (!s.hasMode && comma != std::string::npos && comma > 1 && AllDigits(e.value.substr(0, comma))) {
    c.Error(e.line, key + " starts with " + Quote(e.value.substr(0, comma)) +
                        ", which is not a mode (a mode is one digit), so the whole value is taken as the path");
    return;
  }
  if (s.hasMode && !IsDigit(s.modeByte))
    c.Warn(e.line, key + " has the mode " + Quote(std::string(1, char(s.modeByte))) +
                       ", which is not a digit and matches no install mode");
  if (s.hasDisc && !IsDigit(s.discByte)) {
    c.Error(e.line, key + " has the disc " + Quote(std::string(1, char(s.discByte))) +
                        ", which is not a digit, so the updater refuses the update (a disc is one digit; the path "
                        "is relative to the disc's root: no drive letter)");
    return;
  }
  if (s.path.empty()) {
    c.Error(e.line, key + " names nothing to copy");
    return;
  }
  if (const Confinement why = ConfinePath(s.path.c_str()); why != Confinement::Inside) {
    const char* what = why == Confinement::FoldsToStart ? " names nothing to copy: "
                                                        : " copies from or to outside its folder: ";
    c.Error(e.line, key + what + Quote(s.path) + " " + OutsideWhy(why) + "; the updater refuses the whole update");
    return;
  }
  if (s.path[0] == ' ' || s.path[0] == '\t')
    c.Warn(e.line, key + "'s path begins with a blank, which is part of the path");
  if (s.path.find('/') != std::string::npos)
    c.Warn(e.line, key + " writes its folders with '/'; the updater's paths use '\\'");
  if (s.hasDisc && s.disc != 0) {
    tally.discSearched = true;
  } else if (!tally.discSearched) {
    c.Warn(e.line, key +
                       " has no disc number and no line before it looks for a disc, so no drive is known "
                       "to copy it from: write it as \"1:" +
                       Shown(s.path) + "\"");
  }
}

void CheckNumbers(Context& c, uint64_t written) {
  if (const IniEntry* e = FindIniEntry(c.ini, "UPDATE", "RequiredDiskSpace"); e && !e->value.empty()) {
    const LeadingNumber n = ReadLeadingNumber(e->value);
    if (!n.digits)
      c.Warn(e->line, "RequiredDiskSpace is not a number, so no free-space check is made");
    else if (n.value > 0x7FFFFFFF)
      c.Warn(e->line, "RequiredDiskSpace is above 2 GiB, which the updater reads as 2147483647 bytes");
    else if (n.value < 0)
      c.Warn(e->line, "RequiredDiskSpace is negative, which the updater compares as a number of 2 GiB or more");
    else if (n.trailing)
      c.Warn(e->line, "RequiredDiskSpace is followed by text; only the leading number, " + std::to_string(n.value) +
                          ", is read");
    else if (n.value > 0 && uint64_t(n.value) < written)
      c.Warn(e->line, "RequiredDiskSpace (" + std::to_string(n.value) + " bytes) is less than the " +
                          std::to_string(written) + " bytes the update lines write");
  }
  if (const IniEntry* e = FindIniEntry(c.ini, "UPDATE", "OverwriteOnly"); e && !e->value.empty())
    if (!ReadLeadingNumber(e->value).digits) c.Warn(e->line, "OverwriteOnly is not a number and reads as 0 (off)");
}

} // namespace

void CheckUpdateSection(Context& c) {
  ListTally tally;
  auto count = [&](auto check) {
    return [&, check](const IniEntry& e, int i) {
      ++tally.lines;
      check(c, e, i, tally);
    };
  };
  CheckList(c, "UpdateFile", count(CheckUpdateLine));
  CheckList(c, "CopyFile", count(CheckCopyLine));
  CheckNumbers(c, tally.bytes);
  if (tally.lines == tally.checks) {
    const IniSection* section = FindIniSection(c.ini, "UPDATE");
    c.Error(section ? section->line : 0,
            std::string(section ? "" : "there is no [UPDATE] section, so ") +
                "no line writes or copies anything: the updater would stop with \"No 'UpdateFileXX' and "
                "'CopyFileXX'\"");
  }
}

} // namespace fa2::checks
