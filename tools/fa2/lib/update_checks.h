// Reading an update folder the way the updater will read its archive: the
// profile syntax of UPDATE.INI, the syntax of update and copy lines, the
// folder's files, and the checks that `fa2 build` makes before it packs.
//
// All texts from UPDATE.INI are code page 932 bytes, as the updater sees
// them; the messages of the checks are in the local encoding.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fa2 {

// ---- Profile file ---------------------------------------------------------------
// One "key=value" (or a bare "key" without '=') line of a section.
struct IniEntry {
  std::string key;   // trimmed
  std::string value; // trimmed, one pair of enclosing quotes removed
  bool hasEquals = false;
  int line = 0;      // 1-based
};
struct IniSection {
  std::string name;
  int line = 0;
  std::vector<IniEntry> entries;
};
struct IniFile {
  std::vector<IniSection> sections; // in file order, repeated names included
};
// Parses Shift-JIS text as the updater's profile reads see it: lines end in
// LF (CR before it is a blank); blanks around lines, names and values are
// dropped; "[name]" opens a section (closed by the last single-byte ']');
// lines before the first section and lines starting with ';' are ignored.
IniFile ParseIni(const std::string& text);
// The first section of that name (ASCII letters in any case), or null.
const IniSection* FindIniSection(const IniFile& file, const std::string& name);
// The first line of `key` in the first section `section`, or null. A line
// without '=' or with an empty value is found, but reads as missing.
const IniEntry* FindIniEntry(const IniFile& file, const std::string& section, const std::string& key);
// What a read with a buffer of `capacity` bytes gets: the value cut to
// capacity - 1 bytes; empty when the key is missing.
std::string ReadIniValue(const IniFile& file, const std::string& section, const std::string& key,
                         uint32_t capacity);
// Equal names: ASCII letters without regard to case, other bytes as they are.
bool SameIniName(const std::string& a, const std::string& b);

// ---- Shift-JIS texts ---------------------------------------------------------------
bool IsCp932LeadByte(uint8_t b);
// Whether every byte sequence is a character of code page 932.
bool IsValidCp932(const std::string& text);
// Whether the text holds non-ASCII characters and is well-formed UTF-8.
bool LooksLikeUtf8(const std::string& text);
// ASCII letters upper-cased; the second byte of a double-byte character kept.
std::string UpperCp932(const std::string& text);
// The text after the last single-byte backslash, found by whole characters.
std::string Cp932BaseName(const std::string& path);

// ---- Update and copy lines ---------------------------------------------------------
// One item of a list value, as the updater's list reader takes it.
struct ListItem {
  std::string text;    // the item (at most 259 bytes kept)
  std::string written; // the text as written, before a disc prefix was dropped
  bool discPrefix = false;
  bool cut = false;    // longer than 259 bytes
};
// Takes up to `maxItems` items; `more` tells whether another item followed.
std::vector<ListItem> TakeItems(const std::string& value, size_t maxItems, bool* more);

enum class LineOperation { Plain, Update, Data, Overwrite, Check };
struct UpdateLineSyntax {
  std::vector<ListItem> items; // the three items taken
  bool moreItems = false;      // a fourth or later item, ignored
  bool hasMode = false;
  int mode = 0;
  LineOperation operation = LineOperation::Plain;
  size_t operationIndex = 0;   // the item in the operation position
  std::string path;
  std::string member; // the path's base name
};
UpdateLineSyntax ParseUpdateLineSyntax(const std::string& value);

struct CopyLineSyntax {
  bool hasMode = false;
  uint8_t modeByte = 0;
  bool hasDisc = false;
  uint8_t discByte = 0;
  int disc = 0; // the disc byte minus '0', as the updater computes it
  std::string path;
};
CopyLineSyntax ParseCopyLineSyntax(const std::string& value);

// ---- The update folder ----------------------------------------------------------------
struct FolderFile {
  std::string relative;  // code page 932, folders separated by '\'
  std::string localPath; // the file on disk (UTF-8 path)
  uint64_t size = 0;
};
struct UpdateFolder {
  std::vector<FolderFile> files;
  std::vector<std::string> unnamable; // local paths whose names have no code page 932 form
};
// Every regular file below `folder`. False when the folder cannot be read.
bool ScanUpdateFolder(const std::string& folder, UpdateFolder& out, std::string& error);
// The file at `relative` (code page 932, '\' between folders), letter case
// ignored; -1 when absent.
int FindFolderFile(const UpdateFolder& folder, const std::string& relative);

// ---- Checks --------------------------------------------------------------------------------
struct Finding {
  bool error = false;
  int line = 0; // 0: the file as a whole
  std::string text;
};
struct PlannedMember {
  std::string name; // code page 932
  int file = -1;    // index into UpdateFolder::files
  bool scramble = true;
};
struct UpdateCheck {
  std::vector<Finding> findings;
  std::vector<PlannedMember> members; // UPDATE.INI first, then the texts, then the update files
  bool HasErrors() const;
};
// Checks the folder's UPDATE.INI (text `ini`) against the folder and plans
// the archive's members.
UpdateCheck CheckUpdate(const std::string& ini, const UpdateFolder& folder);
// "UPDATE.INI:12: error: ..." (or "UPDATE.INI: warning: ..." without a line).
std::string FormatFinding(const Finding& finding);

}  // namespace fa2
