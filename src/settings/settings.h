// Settings: profile access, the syntax of list values, the installed game's
// SETUP.INI and the records that hold the update description and the
// installed game.
//
// Every read is one profile read of the file's bytes through the platform
// seam's file operations; nothing is cached and no file is kept open. A
// missing key and a key with an empty value are the same thing. Missing keys
// are reported in the INSTCMMN box while the quiet flag is 0 and silently
// otherwise.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Capacity of one list item slot (bytes, terminator included).
constexpr uint32_t kItemCapacity = 260;
// Capacity of the text read for a signed 64-bit size ("InstallSize%i").
constexpr uint32_t kSizeTextCapacity = 20;
constexpr int kDiscCheckFileCount = 10;
// Holds either mode word ("インストール" or "アップデート", 12 bytes each).
constexpr uint32_t kModeTextCapacity = 16;

// What UPDATE.INI's section SETUP describes; filled by the main sequence.
// The four identity fields (company name, title, window class, folder) are
// replaced by the installed game's values when SETUP.INI is read.
struct UpdateDescription {
  char companyName[kPathCapacity];
  char gameTitle[kPathCapacity];
  char gameClass[kPathCapacity]; // window class of the running game
  char gameDir[kPathCapacity];
  char gameTitleA[kPathCapacity]; // a second window title of the game
  char updaterVersion[kPathCapacity];
  char updaterTitle[kPathCapacity];
  char dataFolder[kPathCapacity];
  char updateMessage[kTextCapacity];
  char existErrorMessage[kTextCapacity];
  int32_t modeFlag; // 1: install mode, 0: update mode
  char modeText[kModeTextCapacity];
  const char* agreementText; // heap text or none; lives until exit
  const char* introText;     // heap text or none; lives until exit
};

// Where and how the game is installed: the registry values and the disc
// check files of SETUP.INI (entry n identifies disc n; empty when unknown).
struct InstalledGame {
  char installPath[kPathCapacity];
  char dataPath[kPathCapacity];
  int32_t installMode;
  char discCheckFiles[kDiscCheckFileCount][kPathCapacity];
};

// ---- Process-wide state -------------------------------------------------------
// The quiet flag: while 0 a failed read is reported, any other value
// silences the report. 0 at process start.
int QuietFlag();
void SetQuietFlag(int quiet);
// The disc number set by the last disc prefix met in a list. 0 at start.
int CurrentDiscNumber();
void SetCurrentDiscNumber(int disc);

// The files the readers read. Each setter keeps a copy; a path that does not
// fit kPathCapacity is refused (result 0) and leaves the path empty, so that
// every read of that file then finds nothing.
int SetInstalledSettingsPath(const char* path); // <install path>\SETUP.INI
const char* InstalledSettingsPath();
int SetDescriptionPath(const char* path); // the temporary UPDATE.INI
const char* DescriptionPath();
// The description's own bytes, checked, in memory: when set (not null),
// every description read comes from them and the file is never read back,
// so nothing changed on disk during the run is ever carried out. The bytes
// stay the caller's; null goes back to the file.
void SetDescriptionText(const uint8_t* text, uint32_t size);

// ---- Profile files --------------------------------------------------------------
// What the system's profile read gives on a code-page-932 system for `key` of
// `section` of the Shift-JIS profile file `file`, with the default "": the
// value without blanks at both ends and one pair of enclosing quotes, cut to
// the whole characters that fit in capacity - 1 bytes, terminated, the rest
// of the buffer up to the capacity zeroed. Names match without regard to the
// case of ASCII letters, in the first section of the name only. Returns the
// count stored, capacity - 1 when the value was cut, 0 when the file, the
// section, the key or its value is missing. (The rules: profile_reader.cpp.)
uint32_t ReadProfileString(const char* section, const char* key, char* buffer, uint32_t capacity, const char* file);
// The same read from `size` bytes of profile text in memory.
uint32_t ReadProfileText(const char* section, const char* key, char* buffer, uint32_t capacity, const uint8_t* text,
                         uint32_t size);

// One line of profile text as the reads take it apart (a line that is empty
// once its blanks are gone is none).
struct ProfileLine {
  uint32_t offset;     // of the line's first character in the text
  int32_t section;     // 1: a section line, 0: a key line
  const uint8_t* name; // the section's or the key's name: bytes of the text,
  uint32_t nameSize;   //   without blanks at both ends, up to a NUL in it
  int32_t equals;      // a key line with '='
  const char* value;   // a key line's value as a read of this line gives it
  uint32_t valueCount; // what that read returns (0 without '=')
};
// Returns 0 to stop the walk.
using ProfileVisit = int (*)(void* context, const ProfileLine& line);
// Hands every section line and key line of `size` bytes of profile text to
// `visit` in order, lines before the first section too, each value read
// into `buffer` (`capacity` bytes, each line overwriting it) as a read with
// that capacity stores it. Reentrant: nothing is kept between calls.
void WalkProfileText(const uint8_t* text, uint32_t size, char* buffer, uint32_t capacity, ProfileVisit visit,
                     void* context);
// Whether the `size` bytes of a name of profile text are the name `wanted`
// as the reads match names (`wanted` without blanks at both ends, ASCII
// letters in any case).
int ProfileNameIs(const uint8_t* name, uint32_t size, const char* wanted);

// ---- Value reads ------------------------------------------------------------------
// Reads `key` of section SETUP of the installed settings file. Zero-fills the
// whole buffer first; a longer value is cut to capacity - 1 bytes. 1 when a
// non-empty value was stored; else 0 with an empty buffer, reported as
// "SETUP.INI : <key> キーが存在しません" unless quiet.
int ReadSetupValue(const char* key, char* buffer, uint32_t capacity);
// The same for any section of the temporary description file; reported as
// "<section> : <key> キーが存在しません" unless quiet.
int ReadDescriptionValue(const char* section, const char* key, char* buffer, uint32_t capacity);
// ReadSetupValue into a 260-byte text, then the leading-integer conversion.
// 1 when the key gave a value (also one without digits, which reads as 0);
// 0 when missing, and *value is then left as it was.
int ReadSetupInteger(const char* key, int32_t* value);

// ---- Value syntax ---------------------------------------------------------------
// Leading-integer conversion: skips leading white space, takes an optional
// sign and the decimal digits up to the first other byte. No digits gives 0;
// a value beyond the range gives the nearest limit.
int32_t LeadingInteger(const char* text);
int64_t LeadingInteger64(const char* text);
// Where the conversion stops: just past the digits it takes, or `text`
// itself when it takes none.
const char* LeadingIntegerEnd(const char* text);
// Tab and space.
bool IsBlank(char c);
// What ends a list item: NUL, line feed, carriage return and comma.
bool IsTerminator(char c);

// Takes the next item of a list value. `*cursor` starts on the value's first
// byte and is advanced past the item and its terminator (it never moves past
// the value's NUL). Blanks before an item are dropped; a byte followed by a
// colon is a disc prefix that sets the current disc number (a digit gives its
// value, any other byte 0) and is not part of the item. Returns 1 when an item
// was stored in `item` (possibly empty, after a bare prefix), 0 at the end of
// the list (the end of the value or an empty item), `item` then untouched.
// An item longer than the slot is cut to the whole characters that fit in
// kItemCapacity - 1 bytes, and the rest of it is skipped.
int NextListItem(const char** cursor, char item[kItemCapacity]);
// Where NextListItem took an item from, for the tools that explain a list:
// the item's text as written (from its first byte that is not a blank up to
// its terminator, a disc prefix included), whether it had a disc prefix and
// whether it was cut to fit the slot.
struct ListItemSource {
  const char* written;
  uint32_t writtenSize;
  int32_t discPrefix;
  int32_t cut;
};
// NextListItem, telling where the item came from (`source` may be null; it
// is left alone when no item is taken).
int NextListItemFrom(const char** cursor, char item[kItemCapacity], ListItemSource* source);

// Takes the items of `value` into up to `slotCount` slots in order, as the
// list readers do: the first call that finds no item ends the list and its
// slot is made empty; items beyond the last slot are ignored. When `discs` is
// given, the current disc number after each item is noted as that item's disc.
// Returns the number of items taken.
int TakeListItems(const char* value, char (*slots)[kItemCapacity], int32_t* discs, int slotCount);

// A Shortcut%i record of SETUP.INI taken apart into its four fields. An item
// found goes into the next field. An empty third or fourth field (a comma)
// stays empty, and the next field is taken after every following comma, tab
// and space; at the end of the value the remaining fields stay empty. Text
// after the fourth field is ignored. 0 when the first or second field is
// missing.
int TakeShortcutFields(const char* value, char (*fields)[kItemCapacity]);

// ---- Update description -------------------------------------------------------------
// Mode flag and mode text from the value of ModeTextUpdateOrInstall:
// non-zero selects install mode ("インストール"), 0 update mode ("アップデート").
void SetDescriptionMode(UpdateDescription& description, int32_t modeValue);

// ---- Installed game settings ------------------------------------------------------------
// Reads and validates section SETUP of SETUP.INI at the installed settings
// path, row by row, stopping at the first failure. Replaces the company name,
// title, folder and window class of `description` and fills the disc check
// files of `game`. Structural errors are shown in the INSTCMMN box; missing
// required keys are silent because the caller has set the quiet flag, except
// InstallAddFiles, which is read with the flag 0. Leaves the quiet flag 1 on
// success. 1 when the file is valid, else 0.
int ReadInstalledSettings(UpdateDescription& description, InstalledGame& game);
