// Reading an update folder the way the updater will read its archive:
// UPDATE.INI's lines and its update and copy lines, each taken apart by the
// updater's own readers (src/settings, src/update) with what the messages
// need besides (line numbers, text as written); the folder's files; and the
// checks that `fa2 build` makes before it packs.
//
// All texts from UPDATE.INI are code page 932 bytes, as the updater sees
// them; the messages of the checks are in the local encoding.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fa2 {

// ---- Profile file (update_ini.cpp) -----------------------------------------------
// One key line of a section: "key=value", or a bare "key" without '='.
struct IniEntry {
  std::string key;   // as the text has it, without blanks at both ends
  std::string value; // as a read of this line gives it (cut to 4095 bytes)
  bool hasEquals = false;
  int line = 0; // 1-based, counted in line feeds
};
struct IniSection {
  std::string name;
  int line = 0;
  std::vector<IniEntry> entries;
};
struct IniFile {
  std::vector<IniSection> sections; // in file order, repeated names included
  std::string text;                 // the file, for the reads
};
// The lines of Shift-JIS profile text as the updater's profile reader takes
// them apart (WalkProfileText), grouped by section; lines before the first
// section, which no read of UPDATE.INI asks for, are left out.
IniFile ParseIni(const std::string& text);
// The first section of that name, as the reader finds it, or null.
const IniSection* FindIniSection(const IniFile& file, const std::string& name);
// The first line of `key` in the first section `section`: the line the
// reader answers from, or null. A line without '=' or with an empty value
// is found, but reads as missing.
const IniEntry* FindIniEntry(const IniFile& file, const std::string& section, const std::string& key);
// What the updater's read with a buffer of `capacity` bytes gets (whole
// characters in capacity - 1 bytes); empty when the key is missing.
std::string ReadIniValue(const IniFile& file, const std::string& section, const std::string& key, uint32_t capacity);
// Whether the name `a` of the file is the name `b` asked for, as the reader
// matches names (ASCII letters in any case, other characters as they are).
bool SameIniName(const std::string& a, const std::string& b);

// ---- Shift-JIS texts (cp932_text.cpp) --------------------------------------------
// Whether every byte sequence is a character of code page 932.
bool IsValidCp932(const std::string& text);
// Whether the text holds non-ASCII characters and is well-formed UTF-8.
bool LooksLikeUtf8(const std::string& text);
// ASCII letters upper-cased; the second byte of a double-byte character kept.
std::string UpperCp932(const std::string& text);

// ---- Update and copy lines (update_line_items.cpp) -------------------------------
// One item of a list value, as the updater's list reader takes it
// (NextListItemFrom).
struct ListItem {
  std::string text;    // the item (at most 259 bytes kept)
  std::string written; // the text as written, before a disc prefix was dropped
  bool discPrefix = false;
  bool cut = false; // longer than 259 bytes
};
// Takes up to `maxItems` items; `more` tells whether another item followed.
// The updater's current disc number is left as it was.
std::vector<ListItem> TakeItems(const std::string& value, size_t maxItems, bool* more);

// The updater's operation codes (kOperationPlain .. kOperationCheck).
enum class LineOperation : int32_t { Plain, Update, Data, Overwrite, Check };
// An update line as ParseUpdateLine takes it apart, with its items.
struct UpdateLineSyntax {
  std::vector<ListItem> items; // the three items taken
  bool moreItems = false;      // a fourth or later item, ignored
  bool hasMode = false;
  int mode = 0;
  LineOperation operation = LineOperation::Plain;
  size_t operationIndex = 0; // the item in the operation position
  std::string path;
  std::string member; // the path's base name
};
UpdateLineSyntax ParseUpdateLineSyntax(const std::string& value);

// A copy line as ParseCopyLine takes it apart, with the bytes of its prefixes.
struct CopyLineSyntax {
  bool hasMode = false;
  uint8_t modeByte = 0;
  bool hasDisc = false;
  uint8_t discByte = 0;
  int disc = 0;     // the updater's disc number: the digit's value, -1 for another byte
  std::string path; // the rest, whole
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
// An update line that writes a member (any kind but "e", of any mode).
struct MemberWrite {
  LineOperation operation = LineOperation::Plain;
  std::string path; // as the line has it
  std::string key;  // "UpdateFile03"
  int line = 0;
};
struct PlannedMember {
  std::string name; // code page 932
  int file = -1;    // index into UpdateFolder::files
  bool scramble = true;
  std::vector<MemberWrite> writes; // the update lines that write it, in order
};
struct UpdateCheck {
  std::vector<Finding> findings;
  std::vector<PlannedMember> members; // UPDATE.INI first, then the texts, then the update files
  std::string dataFolder;             // DataFolder of section SETUP, as the updater reads it
  bool HasErrors() const;
};
// Checks the folder's UPDATE.INI (text `ini`) against the folder and plans
// the archive's members.
UpdateCheck CheckUpdate(const std::string& ini, const UpdateFolder& folder);
// "UPDATE.INI:12: error: ..." (or "UPDATE.INI: warning: ..." without a line).
std::string FormatFinding(const Finding& finding);

// ---- The files of an earlier version (old_files.cpp) ------------------------------------
// An installed earlier version of the game, for deltas against its files:
// its install folder and, when given, its data folder (empty: none).
struct OldVersion {
  UpdateFolder install, data;
  bool hasInstall = false, hasData = false;
};
bool ScanOldVersion(const std::string& install, const std::string& data, OldVersion& out, std::string& error);
// The file of the old version that update line `write` would replace, found as the updater resolves the line: below the
// install folder, or the data folder for a kind written there, joined with DataFolder, the path resolved as Windows
// resolves it and its letter case ignored. Null when the old version has no such file.
const FolderFile* OldFileOf(const OldVersion& old, const std::string& dataFolder, const MemberWrite& write);

} // namespace fa2
