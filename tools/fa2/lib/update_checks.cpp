// The checks of an update folder before it is packed: UPDATE.INI's encoding
// and shape, its section SETUP, the agreement and intro texts, and files
// that nothing names. Section UPDATE is checked in update_list_checks.cpp.
//
// An error is something that makes the updater fail or do other than the
// author meant; a warning is legal but often a mistake.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <set>

#include "fa2/lib/toolkit.h"
#include "fa2/lib/update_check_context.h"
#include "update/update.h"

namespace fa2 {

namespace checks {

std::string Shown(const std::string& cp932) {
  if (LooksLikeUtf8(cp932)) return cp932;
  // Cp932ToLocal hands back what it cannot convert unchanged. Text past the
  // test above is not UTF-8 and what it converts to is, so an unchanged
  // result with a byte above ASCII means the conversion failed.
  const auto converts = [](const std::string& text, const std::string& local) {
    return local != text || std::all_of(text.begin(), text.end(), [](char b) { return uint8_t(b) < 0x80; });
  };
  std::string shown = Cp932ToLocal(cp932);
  if (converts(cp932, shown)) return shown;
  // Character by character: what converts, converted; any other byte as <hex>.
  shown.clear();
  for (size_t i = 0; i < cp932.size();) {
    const std::string one = cp932.substr(i, Cp932IsLeadByte(uint8_t(cp932[i])) ? 2 : 1);
    const std::string local = Cp932ToLocal(one);
    if (IsValidCp932(one) && converts(one, local)) {
      shown += local;
      i += one.size();
      continue;
    }
    char hex[8];
    std::snprintf(hex, sizeof hex, "<%02X>", unsigned(uint8_t(cp932[i++])));
    shown += hex;
  }
  return shown;
}

std::string Quote(const std::string& cp932) { return '"' + Shown(cp932) + '"'; }

std::string OutsideWhy(Confinement why) {
  switch (why) {
    case Confinement::Inside: break;
    case Confinement::Rooted: return "is rooted (starts with \"\\\" or \"/\")";
    case Confinement::Server: return "names a server (\"\\\\server\\share\")";
    case Confinement::DevicePath: return "is a device path (\"\\\\.\\\" or \"\\\\?\\\")";
    case Confinement::Drive: return "names a drive (a character and a colon at its start)";
    case Confinement::Stream: return "names a file's alternate stream (a colon after a name)";
    case Confinement::Climbs: return "climbs above the folder with \"..\"";
    case Confinement::DotsAndBlanks:
      return "has a component of only dots and blanks, which Windows would trim to something else";
    case Confinement::Device:
      return "names a device (CON, PRN, AUX, NUL, COM1-COM9 or LPT1-LPT9, with or without an extension), "
             "so the file must be renamed";
    case Confinement::CutCharacter: return "ends in the first byte of a double-byte character";
    case Confinement::FoldsToStart:
      return "leads back to the folder itself (nothing is left after \".\" and \"..\") and names no file or "
             "folder in it";
  }
  return "stays inside";
}

void Context::AddMember(const std::string& name, int file, bool scramble, int line, const std::string& what) {
  const std::string key = UpperCp932(name);
  auto it = memberIndex.find(key);
  if (it == memberIndex.end()) {
    memberIndex[key] = result.members.size();
    memberLine[key] = line;
    result.members.push_back({name, file, scramble, {}});
    return;
  }
  PlannedMember& m = result.members[it->second];
  if (m.file != file) {
    Error(line, what + " needs member " + Quote(name) + " from " + Quote(folder.files[size_t(file)].relative) +
                    ", but line " + std::to_string(memberLine[key]) + " already takes it from " +
                    Quote(folder.files[size_t(m.file)].relative) +
                    ": members are found by file name alone, so both would get the same file");
    return;
  }
  m.scramble = m.scramble && scramble;
}

namespace {

struct KnownKey {
  const char* name;
  uint32_t capacity;
  bool required;
};
const KnownKey kSetupKeys[] = {{"CompanyName", kNameCapacity, true},
                               {"GameTitle", kNameCapacity, true},
                               {"GameClass", kNameCapacity, true},
                               {"GameDir", kNameCapacity, true},
                               {"GameTitleA", kNameCapacity, false},
                               {"UpdaterVersion", kNameCapacity, false},
                               {"UpdaterTitle", kNameCapacity, false},
                               {"DataFolder", kNameCapacity, false},
                               {"UpdateMessage", kTextCapacity, false},
                               {"ExistErrorMessage", kTextCapacity, false},
                               {"ModeTextUpdateOrInstall", kNameCapacity, false},
                               {"AgreementText", kNameCapacity, false},
                               {"AgreementTitle", kNameCapacity, false}};

bool StartsWithName(const std::string& key, const std::string& prefix) {
  return key.size() >= prefix.size() && SameIniName(key.substr(0, prefix.size()), prefix);
}

void CheckEncoding(Context& c, const std::string& text) {
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
    c.Error(1,
            "the file starts with a UTF-8 byte order mark, which hides its first line from the updater; "
            "save it as Shift-JIS (code page 932) without one");
  int line = 0, firstBad = 0, bad = 0;
  bool utf8 = false;
  size_t pos = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  while (pos <= text.size()) {
    size_t end = std::min(text.find('\n', pos), text.size());
    const std::string l = text.substr(pos, end - pos);
    ++line;
    const bool looksUtf8 = LooksLikeUtf8(l);
    if (!IsValidCp932(l) || looksUtf8) {
      if (!bad++) firstBad = line;
      utf8 |= looksUtf8;
    }
    pos = end + 1;
  }
  if (bad == 0) return;
  const std::string which = bad == 1 ? "this line is" : "this line and " + std::to_string(bad - 1) + " more are";
  c.Error(firstBad, which + " not Shift-JIS text" +
                        (utf8 ? bad == 1 ? " (it looks like UTF-8)" : " (they look like UTF-8)" : "") +
                        "; the updater reads UPDATE.INI as code page 932, so names and texts would not match: "
                        "save the file in that encoding");
}

// Repeated sections and keys, lines without '=', unknown keys.
void CheckShape(Context& c, const std::string& name) {
  const IniSection* first = FindIniSection(c.ini, name);
  for (const IniSection& s : c.ini.sections)
    if (&s != first && SameIniName(s.name, name))
      c.Warn(s.line, "a second [" + name + "] section is never read: only the first one (line " +
                         std::to_string(first->line) + ") counts");
  if (!first) return;
  std::set<std::string> seen;
  for (const IniEntry& e : first->entries) {
    // The updater has no comments, but a key whose name starts with ';' is
    // one no read asks for: as good as a comment, and written as one.
    if (!e.key.empty() && e.key[0] == ';') continue;
    if (!e.hasEquals) {
      c.Warn(e.line, "this line has no '=' and is ignored");
      continue;
    }
    if (!seen.insert(UpperCp932(e.key)).second) {
      c.Warn(e.line, Shown(e.key) + " appears again; only its first line is read");
      continue;
    }
    bool known = false;
    if (name == "SETUP") {
      for (const KnownKey& k : kSetupKeys) known |= SameIniName(e.key, k.name);
    } else {
      known = SameIniName(e.key, "RequiredDiskSpace") || SameIniName(e.key, "OverwriteOnly") ||
              StartsWithName(e.key, "UpdateFile") || StartsWithName(e.key, "CopyFile");
    }
    if (!known) c.Warn(e.line, "unknown key " + Shown(e.key) + " in [" + name + "] is ignored by the updater");
  }
}

void CheckSetup(Context& c) {
  const IniSection* setup = FindIniSection(c.ini, "SETUP");
  if (!setup) {
    c.Error(0, "there is no [SETUP] section; CompanyName, GameTitle, GameClass and GameDir are required");
    return;
  }
  for (const KnownKey& k : kSetupKeys) {
    const IniEntry* e = FindIniEntry(c.ini, "SETUP", k.name);
    if (k.required && (!e || e->value.empty())) {
      c.Error(e ? e->line : setup->line, std::string(k.name) + (e ? " is empty" : " is missing") +
                                             " in [SETUP]; the updater stops at start without it");
      continue;
    }
    if (e && e->value.size() >= k.capacity) {
      const std::string text = std::string(k.name) + " is longer than the " + std::to_string(k.capacity - 1) +
                               " bytes the updater reads and would be cut";
      if (k.capacity == kTextCapacity)
        c.Warn(e->line, text);
      else
        c.Error(e->line, text);
    }
  }
  const std::string dataFolder = ReadIniValue(c.ini, "SETUP", "DataFolder", kNameCapacity);
  c.result.dataFolder = dataFolder;
  if (const IniEntry* e = FindIniEntry(c.ini, "SETUP", "DataFolder")) {
    std::string inner = dataFolder;
    while (!inner.empty() && inner.back() == '\\') inner.pop_back();
    if (const Confinement why = ConfinePath(dataFolder.c_str()); why != Confinement::Inside)
      c.Error(e->line, "DataFolder " + Quote(dataFolder) + " leads outside the game's folders: it " + OutsideWhy(why) +
                           ", so the updater refuses every update line");
    else if (inner.find('/') != std::string::npos)
      c.Warn(e->line, "DataFolder uses '/'; the updater separates folders with '\\' only");
    else if (BaseNameOffset(inner.c_str()) != 0)
      c.Warn(e->line, "DataFolder " + Quote(dataFolder) +
                          " has more than one level, but the updater creates only the last one, so writes fail "
                          "unless the folders above it exist already");
  }
  if (const IniEntry* e = FindIniEntry(c.ini, "SETUP", "ModeTextUpdateOrInstall"))
    if (!e->value.empty() && e->value.find_first_of("0123456789") == std::string::npos)
      c.Warn(e->line, "ModeTextUpdateOrInstall is not a number and reads as 0 (update mode)");
}

// AgreementText and AgreementTitle: members read in memory, never scrambled.
void CheckTexts(Context& c) {
  for (const char* key : {"AgreementText", "AgreementTitle"}) {
    const IniEntry* e = FindIniEntry(c.ini, "SETUP", key);
    const std::string name = ReadIniValue(c.ini, "SETUP", key, kNameCapacity);
    if (!e || name.empty()) continue;
    if (BaseNameOffset(name.c_str()) != 0 || name.find('/') != std::string::npos) {
      c.Error(e->line, std::string(key) + " " + Quote(name) +
                           " must be a bare file name: the updater looks the member up by exactly this name");
      continue;
    }
    const int file = FindFolderFile(c.folder, name);
    if (file < 0) {
      c.Error(e->line, std::string(key) + " names " + Quote(name) + ", which the folder does not have");
      continue;
    }
    c.AddMember(name, file, false, e->line, key);
    Bytes text;
    std::string error;
    if (c.folder.files[size_t(file)].size == 0) {
      c.Warn(e->line, std::string(key) + " names an empty file, so the wizard shows an empty text");
    } else if (ReadWholeFile(c.folder.files[size_t(file)].localPath, text, error)) {
      const std::string s(text.begin(), text.end());
      if (!IsValidCp932(s) || LooksLikeUtf8(s))
        c.Warn(e->line, std::string(key) + " names " + Quote(name) +
                            ", which is not Shift-JIS text and would show garbled: save it in code page 932");
    }
  }
}

void CheckUnusedFiles(Context& c) {
  std::set<int> used = c.mentioned;
  for (const PlannedMember& m : c.result.members) used.insert(m.file);
  for (size_t i = 0; i < c.folder.files.size(); ++i)
    if (!used.count(int(i)))
      c.Warn(0, "the folder's file " + Quote(c.folder.files[i].relative) + " is named by no line and is not packed");
  for (const std::string& path : c.folder.unnamable)
    c.Warn(0,
           "the folder's file \"" + path + "\" has a name that cannot be written in code page 932 and is not packed");
}

// What the format and a 32-bit updater can carry, from the files' sizes
// alone, before anything is read: a member's sizes are 32-bit, and the
// archive is part of the updater's image, which a 32-bit process maps in
// one piece. Packing may bring an archive under that limit, so a total
// over it is a warning; 'fa2 build' stops when the packed archive is over.
void CheckSizes(Context& c) {
  const uint64_t entries = c.result.members.size() + 1;
  uint64_t total = kHeaderSize + RoundUp16(DigestTableSize(uint32_t(entries))) + entries * kEntrySize;
  for (const PlannedMember& m : c.result.members) {
    const FolderFile& f = c.folder.files[size_t(m.file)];
    if (f.size > kMaxMemberSize)
      c.Error(0, "the folder's file " + Quote(f.relative) + " has " + std::to_string(f.size) +
                     " bytes: an archive member must stay under 4 GiB");
    total += RoundUp16(f.size);
  }
  if (total > kMaxUpdaterArchive)
    c.Warn(0, "the files to pack add up to " + std::to_string(total >> 20) + " MiB: the archive must come out under " +
                  std::to_string(kMaxUpdaterArchive >> 20) + " MiB once compressed, or a 32-bit updater cannot map it");
}

} // namespace
} // namespace checks

bool UpdateCheck::HasErrors() const {
  return std::any_of(findings.begin(), findings.end(), [](const Finding& f) { return f.error; });
}

UpdateCheck CheckUpdate(const std::string& iniText, const UpdateFolder& folder) {
  UpdateCheck result;
  const IniFile ini = ParseIni(iniText);
  checks::Context c{ini, folder, result};
  checks::CheckEncoding(c, iniText);
  const int self = FindFolderFile(folder, "UPDATE.INI");
  if (self < 0)
    c.Error(0, "the folder has no UPDATE.INI");
  else
    c.AddMember("UPDATE.INI", self, false, 0, "UPDATE.INI");
  checks::CheckShape(c, "SETUP");
  checks::CheckShape(c, "UPDATE");
  checks::CheckSetup(c);
  checks::CheckTexts(c);
  checks::CheckUpdateSection(c);
  checks::CheckUnusedFiles(c);
  checks::CheckSizes(c);
  // By line; what concerns the file or folder as a whole comes last.
  auto order = [](const Finding& f) { return f.line ? f.line : INT_MAX; };
  std::stable_sort(result.findings.begin(), result.findings.end(),
                   [&](const Finding& a, const Finding& b) { return order(a) < order(b); });
  return result;
}

std::string FormatFinding(const Finding& f) {
  std::string text = "UPDATE.INI";
  if (f.line) {
    text += ':';
    text += std::to_string(f.line);
  }
  text += f.error ? ": error: " : ": warning: ";
  text += f.text;
  return text;
}

} // namespace fa2
