// The Win32 platform layer against the real system (run under Wine): every
// operation of the seam with the arguments and results the logic relies on.
// Prints one line per check and exits non-zero when any failed.
//
// Usage: platform-tests.exe <scratch folder>   (a Windows path that exists)
#include <windows.h>
#undef ReplaceFile // the seam's operation, not the system's macro

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "platform/platform.h"

// profile_equivalence.cpp: the updater's profile reader against the system's.
void CheckProfileEquivalence(const std::string& scratch, int* checks, int* failures);

namespace {

int gFailures = 0;
int gChecks = 0;

void Check(bool ok, const char* what, int line) {
  ++gChecks;
  if (!ok) {
    ++gFailures;
    std::printf("FAIL line %d: %s\n", line, what);
  }
}
#define CHECK(x) Check((x), #x, __LINE__)
#define CHECK_EQ(a, b) Check((a) == (b), #a " == " #b, __LINE__)

std::string gScratch;

std::string Scratch(const char* name) { return gScratch + "\\" + name; }

void WriteText(const std::string& path, const std::string& text) {
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

// The texts of this file are Shift-JIS (code page 932) whatever the system's
// ANSI code page: the system is asked in UTF-16 and answered in code page 932.
std::wstring Wide932(const std::string& text) {
  std::wstring out(text.size(), L'\0');
  out.resize(size_t(MultiByteToWideChar(932, 0, text.data(), int(text.size()), out.data(), int(out.size()))));
  return out;
}

std::string Narrow932(const wchar_t* text) {
  std::string out(std::wcslen(text) * 2, '\0');
  out.resize(size_t(WideCharToMultiByte(932, 0, text, int(std::wcslen(text)), out.data(), int(out.size()), nullptr,
                                        nullptr)));
  return out;
}

std::string ReadText(const std::string& path) {
  std::string text;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char chunk[512];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, n);
    std::fclose(f);
  }
  return text;
}

// ---- Binding ------------------------------------------------------------------

void TestBinding() {
  CHECK_EQ(BindSystemOperations(), 1);
  // A second binding finds the same libraries again.
  CHECK_EQ(BindSystemOperations(), 1);
}

// ---- Files -----------------------------------------------------------------------

void TestFiles() {
  std::string path = Scratch("data.bin");
  FileHandle out = CreateFileForWrite(path.c_str());
  CHECK(out != kInvalidFile);
  uint32_t done = 0;
  CHECK_EQ(WriteToFile(out, "0123456789", 10, &done), 1);
  CHECK_EQ(done, 10u);
  // Write access shares nothing: nobody may read meanwhile.
  CHECK_EQ(OpenFileForRead(path.c_str()), kInvalidFile);
  CloseFile(out);

  FileHandle in = OpenFileForRead(path.c_str());
  CHECK(in != kInvalidFile);
  CHECK_EQ(FileSizeLow(in), 10u);
  // Read access lets others read.
  FileHandle second = OpenFileForRead(path.c_str());
  CHECK(second != kInvalidFile);
  CloseFile(second);
  // ...but not write.
  CHECK_EQ(CreateFileForWrite(path.c_str()), kInvalidFile);
  char buffer[16] = {};
  CHECK_EQ(ReadFromFile(in, buffer, sizeof buffer, &done), 1);
  CHECK_EQ(done, 10u);
  CHECK(std::memcmp(buffer, "0123456789", 10) == 0);
  CHECK_EQ(ReadFromFile(in, buffer, sizeof buffer, &done), 1); // at the end
  CHECK_EQ(done, 0u);
  // A read at an offset, after the end, and past it.
  CHECK_EQ(ReadFileAt(in, 3, buffer, 4, &done), 1);
  CHECK(done == 4 && std::memcmp(buffer, "3456", 4) == 0);
  CHECK_EQ(ReadFileAt(in, 8, buffer, 4, &done), 1);
  CHECK(done == 2 && std::memcmp(buffer, "89", 2) == 0);
  CHECK_EQ(ReadFileAt(in, uint64_t(1) << 32, buffer, 4, &done) == 1 && done != 0, false);
  CloseFile(in);

  // Creating again replaces the contents.
  out = CreateFileForWrite(path.c_str());
  CHECK_EQ(WriteToFile(out, "ab", 2, &done), 1);
  CloseFile(out);
  CHECK_EQ(ReadText(path), std::string("ab"));

  CHECK_EQ(OpenFileForRead(Scratch("absent.bin").c_str()), kInvalidFile);
  CHECK_EQ(FileSizeLow(kInvalidFile), 0xFFFFFFFFu);
  CHECK_EQ(CreateFileForWrite(Scratch("no-folder\\x.bin").c_str()), kInvalidFile);
}

void TestAttributes() {
  std::string path = Scratch("attr.txt");
  WriteText(path, "x");
  CHECK_EQ(ReadAttributes(Scratch("absent.txt").c_str()), kAttrMissing);
  CHECK(ReadAttributes(gScratch.c_str()) & kAttrDirectory);
  CHECK((ReadAttributes(path.c_str()) & kAttrDirectory) == 0);
  WriteAttributes(path.c_str(), kAttrReadOnly | kAttrHidden);
  uint32_t a = ReadAttributes(path.c_str());
  CHECK(a & kAttrReadOnly);
  // (Whether a read-only file refuses writing depends on the account: Wine
  // run as root writes anyway, so that is not checked here.)
  WriteAttributes(path.c_str(), kAttrNormal);
  a = ReadAttributes(path.c_str());
  CHECK((a & (kAttrReadOnly | kAttrHidden)) == 0);
  FileHandle out = CreateFileForWrite(path.c_str());
  CHECK(out != kInvalidFile);
  CloseFile(out);
}

void TestTimes() {
  std::string path = Scratch("time.txt");
  WriteText(path, "t");
  FileHandle out = CreateFileForWrite(path.c_str());
  // 2001-02-03 04:05:06 UTC.
  SYSTEMTIME st{2001, 2, 0, 3, 4, 5, 6, 0};
  FILETIME ft;
  SystemTimeToFileTime(&st, &ft);
  FileTime stamp{ft.dwLowDateTime, ft.dwHighDateTime};
  CHECK_EQ(StampFileTimes(out, &stamp), 1);
  CloseFile(out);

  FileHandle in = OpenFileForRead(path.c_str());
  FileTime read{};
  CHECK_EQ(ReadLastWriteTime(in, &read), 1);
  CHECK_EQ(FileTimeValue(read), FileTimeValue(stamp));
  FILETIME created, accessed, written;
  GetFileTime(reinterpret_cast<HANDLE>(in), &created, &accessed, &written);
  CHECK_EQ(created.dwLowDateTime, ft.dwLowDateTime);
  CHECK_EQ(created.dwHighDateTime, ft.dwHighDateTime);
  CHECK_EQ(accessed.dwLowDateTime, ft.dwLowDateTime);
  CHECK_EQ(accessed.dwHighDateTime, ft.dwHighDateTime);
  CloseFile(in);
  CHECK_EQ(ReadLastWriteTime(kInvalidFile, &read), 0);

  // By path: all three times, while someone else reads the file.
  FileTime later{stamp.low + 10000000u, stamp.high};
  FileHandle reader = OpenFileForRead(path.c_str());
  CHECK_EQ(StampTimesAtPath(path.c_str(), &later), 1);
  CloseFile(reader);
  in = OpenFileForRead(path.c_str());
  GetFileTime(reinterpret_cast<HANDLE>(in), &created, &accessed, &written);
  CHECK_EQ(created.dwLowDateTime, later.low);
  CHECK_EQ(accessed.dwLowDateTime, later.low);
  CHECK_EQ(written.dwLowDateTime, later.low);
  CHECK_EQ(written.dwHighDateTime, later.high);
  CloseFile(in);
  CHECK_EQ(StampTimesAtPath(Scratch("absent.txt").c_str(), &later), 0);
  CHECK_EQ(StampTimesAtPath(gScratch.c_str(), &later), 0); // a folder
}

void TestRemoveMakeReplace() {
  std::string folder = Scratch("made");
  MakeDirectory(folder.c_str());
  CHECK(ReadAttributes(folder.c_str()) & kAttrDirectory);
  MakeDirectory(folder.c_str()); // already there: no harm

  std::string from = Scratch("from.txt"), to = Scratch("to.txt");
  WriteText(from, "new");
  WriteText(to, "old");
  CHECK_EQ(ReplaceFile(from.c_str(), to.c_str()), 1);
  CHECK_EQ(ReadText(to), std::string("new"));
  CHECK_EQ(ReadAttributes(from.c_str()), kAttrMissing);
  CHECK_EQ(ReplaceFile(from.c_str(), to.c_str()), 0); // source gone

  RemoveFile(to.c_str());
  CHECK_EQ(ReadAttributes(to.c_str()), kAttrMissing);
  RemoveFile(to.c_str()); // absent: ignored
  RemoveFile("");         // empty: ignored
}

// ---- Registry ------------------------------------------------------------------------

void TestRegistry() {
  const char* path = "Software\\FA2 Platform Test\\Game";
  HKEY key;
  RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
  const char instPath[] = "C:\\Game\\表";
  std::wstring wideInstPath = Wide932(instPath);
  RegSetValueExW(key, L"InstPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(wideInstPath.c_str()),
                 DWORD((wideInstPath.size() + 1) * sizeof(wchar_t)));
  DWORD mode = 7;
  RegSetValueExA(key, "InstMode", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&mode), 4);
  RegCloseKey(key);

  RegistryKey k = 0;
  CHECK_EQ(OpenUserKey("Software\\FA2 Platform Test\\Missing", &k), 0);
  CHECK_EQ(OpenUserKey(path, &k), 1);
  char text[260] = {};
  uint32_t size = sizeof text;
  CHECK_EQ(QueryKeyValue(k, "InstPath", text, &size), 1);
  CHECK_EQ(std::string(text), std::string(instPath));
  CHECK_EQ(size, uint32_t(sizeof instPath));
  uint32_t number = 0;
  size = 4;
  CHECK_EQ(QueryKeyValue(k, "InstMode", &number, &size), 1);
  CHECK_EQ(number, 7u);
  size = sizeof text;
  CHECK_EQ(QueryKeyValue(k, "DataPath", text, &size), 0);
  char small[4];
  size = sizeof small;
  CHECK_EQ(QueryKeyValue(k, "InstPath", small, &size), 0); // larger than the room
  CHECK_EQ(LastSystemError(), kErrorMoreData);
  // A path Shift-JIS cannot hold is refused, never handed on changed.
  HKEY raw;
  RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\FA2 Platform Test\\Game", 0, KEY_WRITE, &raw);
  const wchar_t foreign[] = L"C:\\Users\\Zo\u00EB\\Game";
  RegSetValueExW(raw, L"DataPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(foreign), sizeof foreign);
  RegCloseKey(raw);
  size = sizeof text;
  CHECK_EQ(QueryKeyValue(k, "DataPath", text, &size), 0);
  CHECK_EQ(LastSystemError(), kErrorNoMapping);
  CloseUserKey(k);
  RegDeleteKeyA(HKEY_CURRENT_USER, path);
}

// ---- Resources ---------------------------------------------------------------------------

void TestResources() {
  ModuleHandle self = GetModuleHandleA(nullptr);
  ResourceHandle r = FindUpdateResource(self);
  CHECK(r != nullptr);
  uint32_t size = ResourceSize(self, r);
  const char expected[] = "FA2 resource probe 0123456789\n";
  CHECK_EQ(size, uint32_t(sizeof expected - 1));
  void* loaded = LoadResourceData(self, r);
  CHECK(loaded != nullptr);
  const uint8_t* bytes = LockResourceData(loaded);
  CHECK(bytes != nullptr);
  CHECK(bytes && std::memcmp(bytes, expected, sizeof expected - 1) == 0);

  // The resource lies inside the image; a size or start beyond the image
  // does not, nor anything outside it.
  CHECK_EQ(ModuleHoldsRange(self, bytes, size), 1);
  CHECK_EQ(ModuleHoldsRange(self, bytes, size + (1u << 20)), 0);
  CHECK_EQ(ModuleHoldsRange(self, bytes, 0xFFFFFFFFu), 0);
  CHECK_EQ(ModuleHoldsRange(self, bytes + (256u << 20), 1), 0);
  CHECK_EQ(ModuleHoldsRange(self, reinterpret_cast<const uint8_t*>(self) - 16, 4), 0);
  CHECK_EQ(ModuleHoldsRange(self, nullptr, 0), 0);

  // A module without the resource.
  ModuleHandle other = GetModuleHandleA("kernel32.dll");
  CHECK_EQ(FindUpdateResource(other), nullptr);
  CHECK_EQ(ResourceSize(other, nullptr), 0u);
  CHECK_EQ(LoadResourceData(other, nullptr), nullptr);
  CHECK_EQ(LockResourceData(nullptr), nullptr);
}

// ---- Shell copy, drives, temporary folder, memory ------------------------------------

void TestShellCopy() {
  std::string source = Scratch("copy-source");
  CreateDirectoryA(source.c_str(), nullptr);
  CreateDirectoryA((source + "\\sub").c_str(), nullptr);
  WriteText(source + "\\a.txt", "A");
  WriteText(source + "\\sub\\b.txt", "B");

  char from[kPathBuffer] = {}, to[kPathBuffer] = {};
  std::strcpy(from, gScratch.c_str());
  JoinPath(from, sizeof from, "copy-source");
  std::strcpy(to, gScratch.c_str());
  JoinPath(to, sizeof to, "copied\\deeper");
  int aborted = -1;
  CHECK_EQ(ShellCopy(nullptr, from, to, kCopyNoConfirm | kCopyMakeFolders, &aborted), 0);
  CHECK_EQ(aborted, 0);
  CHECK_EQ(ReadText(Scratch("copied\\deeper\\a.txt")), std::string("A"));
  CHECK_EQ(ReadText(Scratch("copied\\deeper\\sub\\b.txt")), std::string("B"));

  // Again over the existing copy: no questions asked.
  CHECK_EQ(ShellCopy(nullptr, from, to, kCopyNoConfirm | kCopyMakeFolders, &aborted), 0);

  std::strcpy(from, gScratch.c_str());
  JoinPath(from, sizeof from, "no-such-source");
  aborted = -1;
  CHECK(ShellCopy(nullptr, from, to, kCopyNoConfirm | kCopyMakeFolders | kCopyNoErrorUi, &aborted) != 0);
  CHECK_EQ(aborted, 0);

  // A folder moved into a folder that holds one of its name merges with it,
  // then goes whole. (Wine's shell reports a move of a missing folder as
  // done: callers check that it is there.)
  WriteText(Scratch("copied\\deeper\\kept.txt"), "K");
  WriteText(source + "\\a.txt", "A2");
  std::strcpy(from, Scratch("copy-source").c_str());
  std::strcpy(to, Scratch("copied").c_str());
  CHECK(MoveFileA(from, Scratch("deeper").c_str()));
  std::strcpy(from, Scratch("deeper").c_str());
  CHECK_EQ(ShellMove(from, to), 0);
  CHECK_EQ(ReadText(Scratch("copied\\deeper\\a.txt")), std::string("A2"));
  CHECK_EQ(ReadText(Scratch("copied\\deeper\\kept.txt")), std::string("K"));
  CHECK_EQ(ReadAttributes(from), kAttrMissing);

  // Its entries, "." and ".." left out, with Shift-JIS names and sizes.
  // ソフト, with a 0x5C trail byte
  FileHandle sjis = CreateFileForWrite(Scratch("copied\\deeper\\\x83\x5c\x83\x74\x83\x67.txt").c_str());
  uint32_t done = 0;
  CHECK_EQ(WriteToFile(sjis, "SJIS", 4, &done), 1);
  CloseFile(sjis);
  std::string listed;
  auto visit = [](void* context, const char* name, uint32_t attributes, uint64_t size) {
    *static_cast<std::string*>(context) += std::string(name) + (attributes & kAttrDirectory ? "/" : "") + "=" +
                                           std::to_string(size) + " ";
    return 1;
  };
  CHECK_EQ(ListFolder(Scratch("copied\\deeper").c_str(), visit, &listed), 1);
  CHECK(listed.find("a.txt=2 ") != std::string::npos && listed.find("kept.txt=1 ") != std::string::npos);
  CHECK(listed.find("\x83\x5c\x83\x74\x83\x67.txt=4 ") != std::string::npos);
  CHECK(listed.find("sub/") != std::string::npos);
  CHECK(listed.find(". ") == std::string::npos && listed.find("./") == std::string::npos);
  CHECK_EQ(ListFolder(Scratch("no-such-folder").c_str(), visit, &listed), 0);
  CHECK_EQ(ShellDelete(to), 0);
  CHECK_EQ(ReadAttributes(to), kAttrMissing);
}

void TestDrives() {
  CHECK_EQ(DriveType("C:"), uint32_t(DRIVE_FIXED));
  uint64_t bytes = 0;
  CHECK_EQ(FreeBytesAvailable("C:", &bytes), 1);
  CHECK(bytes > 0);
  // Only the first two characters count.
  uint64_t again = 0;
  CHECK_EQ(FreeBytesAvailable("C:\\Windows\\no\\such\\folder", &again), 1);
  CHECK(again > 0);
  bytes = 123;
  CHECK_EQ(FreeBytesAvailable("Q:", &bytes), 0); // no such drive: figure unknown
  CHECK_EQ(DriveType("Q:"), uint32_t(DRIVE_NO_ROOT_DIR));
  // The runner maps X: as a CD-ROM holding DISC.CHK.
  CHECK_EQ(DriveType("X:"), kDriveCdrom);
  CHECK(ReadAttributes("X:\\DISC.CHK") != kAttrMissing);
}

void TestTemporaryFolder() {
  char folder[kPathBuffer] = {};
  TemporaryFolder(folder, kPathCapacity);
  size_t n = std::strlen(folder);
  CHECK(n > 0);
  CHECK(n > 0 && folder[n - 1] == '\\');
  CHECK(ReadAttributes(folder) & kAttrDirectory);
  // Joining adds no second backslash.
  JoinPath(folder, sizeof folder, "UPDATE.INI");
  CHECK_EQ(std::strlen(folder), n + 10);
  CHECK_EQ(folder[n + 11], 0);

  // A temporary folder whose name Shift-JIS cannot hold is given by its
  // short name: the same folder, in characters the updater can carry.
  wchar_t saved[MAX_PATH] = {};
  GetEnvironmentVariableW(L"TMP", saved, MAX_PATH);
  CreateDirectoryW(L"C:\\Zo\u00EB temp", nullptr);
  SetEnvironmentVariableW(L"TMP", L"C:\\Zo\u00EB temp");
  char foreign[kPathBuffer] = {};
  TemporaryFolder(foreign, kPathCapacity);
  CHECK(foreign[0] != 0 && (ReadAttributes(foreign) & kAttrDirectory));
  CHECK(std::string(foreign) != "C:\\Zo?temp\\");
  SetEnvironmentVariableW(L"TMP", saved[0] ? saved : nullptr);

  char tiny[3] = {'x', 'x', 'x'};
  TemporaryFolder(tiny, sizeof tiny);
  CHECK_EQ(tiny[0], 0);
  CHECK_EQ(CurrentProcessId(), uint32_t(GetCurrentProcessId()));
}

void TestMemory() {
  auto* zeroed = static_cast<uint8_t*>(AllocateBlock(4096, true));
  CHECK(zeroed != nullptr);
  bool allZero = true;
  for (int i = 0; i < 4096; ++i) allZero &= zeroed[i] == 0;
  CHECK(allZero);
  CHECK_EQ(GlobalFlags(zeroed) & GMEM_DISCARDABLE, 0u);
  FreeBlock(zeroed);
  void* plain = AllocateBlock(16, false);
  CHECK(plain != nullptr);
  std::memset(plain, 0xAB, 16);
  FreeBlock(plain);
  // More than any process can have: the whole address space, in a 32-bit
  // as in a 64-bit build.
  CHECK_EQ(AllocateBlock(~size_t(0) - 0xFFFF, false), nullptr);
  FreeBlock(nullptr);
}

// ---- Strings -----------------------------------------------------------------------------

// Code page 932 whatever the system's ANSI code page.
void TestStrings() {
  const char* text = "表A"; // 0x95 0x5C 0x41
  CHECK_EQ(uint8_t(text[0]), 0x95);
  CHECK_EQ(NextCharacter(text), text + 2);
  CHECK_EQ(NextCharacter(text + 2), text + 3);
  CHECK_EQ(NextCharacter(text + 3), text + 3); // stays on the terminator
  CHECK_EQ(IsLeadByte(0x95), 1);
  CHECK_EQ(IsLeadByte(0xE0), 1);
  CHECK_EQ(IsLeadByte(0x41), 0);
  CHECK_EQ(IsLeadByte(0xA0), 0); // half-width katakana range: single bytes
  CHECK_EQ(CompareNoCase("update.ini", "UPDATE.INI"), 0);
  CHECK(CompareNoCase("UPDATE.INI", "SETUP.INI") != 0);

  // The join walks whole characters: the 0x5C of 表 is no backslash.
  char path[kPathBuffer] = {};
  std::strcpy(path, "C:\\表");
  JoinPath(path, sizeof path, "SETUP.INI");
  CHECK_EQ(std::string(path), std::string("C:\\表\\SETUP.INI"));
  std::strcpy(path, "C:\\Game\\");
  JoinPath(path, sizeof path, "SETUP.INI");
  CHECK_EQ(std::string(path), std::string("C:\\Game\\SETUP.INI"));
}

// ---- Windows and the modal dialog -------------------------------------------------------

struct DialogRecord {
  HWND dialog = nullptr;
  int initialised = 0;
  int commandControl = -1;
  int commandNotification = -1;
  bool foundByCaption = false;
  bool hasAgreement = false;
  std::string nextText;
  std::string font;
  bool radioChecked = false;
  bool editHidden = false;
  bool nextDisabled = false;
  bool nextEnabledAtFirst = false;
  bool noControlDisabled = false;
  int commands = 0;
  int cursorAnswer = 0;
  int setCursorCalls = 0;
  int cursorCalls = 0;
  bool cursorTaken = false;
  bool cursorLeft = false;
};
DialogRecord gRecord;

// Ends the dialogs of this thread when the handlers failed to, so a fault
// shows as a failed check instead of a test that never returns.
BOOL CALLBACK EndOneDialog(HWND window, LPARAM) {
  char name[16] = {};
  GetClassNameA(window, name, sizeof name);
  if (std::strcmp(name, "#32770") == 0) EndDialog(window, -2);
  return TRUE;
}
void CALLBACK GiveUp(HWND, UINT, UINT_PTR, DWORD) { EnumThreadWindows(GetCurrentThreadId(), EndOneDialog, 0); }

void OnInitialise(WindowHandle dialog) {
  DialogRecord& r = gRecord;
  r.dialog = static_cast<HWND>(dialog);
  ++r.initialised;
  SetWindowCaption(dialog, "プラットフォーム試験");
  r.foundByCaption = FindTopWindow(nullptr, "プラットフォーム試験") == dialog;
  wchar_t text[64] = {};
  GetDlgItemTextW(r.dialog, 1, text, 64);
  r.nextText = Narrow932(text);
  r.hasAgreement = DialogControl(dialog, 1000) != nullptr;
  HFONT font = reinterpret_cast<HFONT>(SendMessageA(r.dialog, WM_GETFONT, 0, 0));
  LOGFONTW lf{};
  if (font && GetObjectW(font, sizeof lf, &lf)) r.font = Narrow932(lf.lfFaceName);
  SetControlText(dialog, 1001, "情報");
  r.nextEnabledAtFirst = ControlEnabled(DialogControl(dialog, 1)) == 1;
  EnableControl(DialogControl(dialog, 1), 0);
  r.nextDisabled = !IsWindowEnabled(GetDlgItem(r.dialog, 1)) && ControlEnabled(DialogControl(dialog, 1)) == 0;
  r.noControlDisabled = ControlEnabled(nullptr) == 0;
  EnableControl(nullptr, 1); // no control: ignored
  ShowControl(nullptr, 0);
  if (r.hasAgreement) {
    CheckRadio(dialog, 1002, 1003, 1002);
    CheckRadio(dialog, 1002, 1003, 1003);
    r.radioChecked = IsDlgButtonChecked(r.dialog, 1003) == BST_CHECKED &&
                     IsDlgButtonChecked(r.dialog, 1002) == BST_UNCHECKED;
    ShowControl(DialogControl(dialog, 1000), 0);
    r.editHidden = !IsWindowVisible(GetDlgItem(r.dialog, 1000));
  }
  // The cursor message: a handler that sets the cursor keeps the default
  // handling from replacing it; one that declines leaves it to the system.
  const LPARAM overClient = MAKELPARAM(HTCLIENT, WM_MOUSEMOVE);
  r.cursorAnswer = 1;
  r.cursorTaken = SendMessageA(r.dialog, WM_SETCURSOR, WPARAM(r.dialog), overClient) == TRUE &&
                  GetCursor() == LoadCursorA(nullptr, MAKEINTRESOURCEA(kCursorWait));
  r.cursorAnswer = 0;
  SendMessageA(r.dialog, WM_SETCURSOR, WPARAM(r.dialog), overClient);
  r.cursorLeft = GetCursor() == LoadCursorA(nullptr, MAKEINTRESOURCEA(kCursorArrow));
  r.cursorCalls = r.setCursorCalls;
  // What the close box sends: the dialog manager turns it into command 2.
  PostMessageA(r.dialog, WM_COMMAND, MAKEWPARAM(7, 1), 0);
  PostMessageA(r.dialog, WM_CLOSE, 0, 0);
}

void OnCommand(WindowHandle dialog, int control, int notification) {
  DialogRecord& r = gRecord;
  ++r.commands;
  r.commandControl = control;
  r.commandNotification = notification;
  if (control == 2) EndModalDialog(dialog, 42);
}

int OnSetCursor(WindowHandle) {
  ++gRecord.setCursorCalls;
  if (gRecord.cursorAnswer) SetSystemCursor(kCursorWait);
  return gRecord.cursorAnswer;
}

void TestDialog(int templateId) {
  gRecord = DialogRecord{};
  DialogHandlers handlers{OnInitialise, OnCommand, OnSetCursor};
  UINT_PTR timer = SetTimer(nullptr, 0, 5000, GiveUp);
  intptr_t result = RunModalDialog(GetModuleHandleA(nullptr), templateId, &handlers);
  KillTimer(nullptr, timer);
  CHECK_EQ(result, intptr_t(42));
  CHECK_EQ(gRecord.initialised, 1);
  CHECK(gRecord.foundByCaption);
  CHECK_EQ(gRecord.nextText, std::string("次へ"));
  CHECK_EQ(gRecord.font, std::string("ＭＳ Ｐゴシック"));
  CHECK(gRecord.nextEnabledAtFirst);
  CHECK(gRecord.nextDisabled);
  CHECK(gRecord.noControlDisabled);
  CHECK_EQ(gRecord.commands, 2); // command 7 (notification 1), then 2
  CHECK_EQ(gRecord.commandControl, 2);
  CHECK_EQ(gRecord.commandNotification, 0);
  CHECK_EQ(gRecord.hasAgreement, templateId == 101);
  CHECK_EQ(gRecord.cursorCalls, 2);
  CHECK(gRecord.cursorTaken);
  CHECK(gRecord.cursorLeft);
  if (templateId == 101) {
    CHECK(gRecord.radioChecked);
    CHECK(gRecord.editHidden);
  }
  CHECK(!IsWindow(gRecord.dialog));
  CHECK_EQ(FindTopWindow(nullptr, "プラットフォーム試験"), nullptr);
  // A template that does not exist.
  CHECK_EQ(RunModalDialog(GetModuleHandleA(nullptr), 999, &handlers), intptr_t(-1));
}

void TestCursor() {
  SetSystemCursor(kCursorWait);
  CHECK_EQ(GetCursor(), LoadCursorA(nullptr, MAKEINTRESOURCEA(kCursorWait)));
  SetSystemCursor(kCursorArrow);
  CHECK_EQ(GetCursor(), LoadCursorA(nullptr, MAKEINTRESOURCEA(kCursorArrow)));
  InitialiseCom(); // once per process; nothing to observe
}

// SHA-256 of pieces small (hashed at once) and large (hashed on the digest's
// thread), mixed: the known digest of a million 'a', and the same bytes in
// one call and in uneven pieces, each piece from a buffer of its own that
// the next piece's buffer follows in turn.
void TestDigest() {
  static const uint8_t kMillionA[32] = {0xcd, 0xc7, 0x6e, 0x5c, 0x99, 0x14, 0xfb, 0x92, 0x81, 0xa1, 0xc7,
                                        0xe2, 0x84, 0xd7, 0x3e, 0x67, 0xf1, 0x80, 0x9a, 0x48, 0xa4, 0x97,
                                        0x20, 0x0e, 0x04, 0x6d, 0x39, 0xcc, 0xc7, 0x11, 0x2c, 0xd0};
  std::string as(1000000, 'a'), bytes(3u << 20, 0);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = char(i * 7 % 251);
  const size_t pieces[] = {1, 299999, 100000, 600000};
  uint8_t digest[32], whole[32];
  DigestHandle d = BeginDigest();
  for (size_t at = 0, i = 0; i < 4; at += pieces[i++]) CHECK_EQ(UpdateDigest(d, as.data() + at, pieces[i]), 1);
  CHECK_EQ(FinishDigest(d, digest), 1);
  CHECK(std::memcmp(digest, kMillionA, 32) == 0);

  d = BeginDigest();
  CHECK_EQ(UpdateDigest(d, bytes.data(), bytes.size()), 1);
  CHECK_EQ(FinishDigest(d, whole), 1);
  d = BeginDigest();
  std::string buffers[2];
  for (size_t at = 0, n = 1, turn = 0; at < bytes.size(); at += n, n = n * 5 % 700001 + 1, turn ^= 1) {
    n = std::min(n, bytes.size() - at);
    buffers[turn].assign(bytes, at, n);
    CHECK_EQ(UpdateDigest(d, buffers[turn].data(), n), 1);
  }
  CHECK_EQ(FinishDigest(d, digest), 1);
  CHECK(std::memcmp(digest, whole, 32) == 0);
}

// Two requests of random bytes differ, and neither is all zero.
void TestRandom() {
  static const uint8_t kZero[16] = {};
  uint8_t first[16], second[16];
  CHECK(RandomBytes(first, 16) == 1 && RandomBytes(second, 16) == 1 && std::memcmp(first, second, 16) != 0 &&
        std::memcmp(first, kZero, 16) != 0 && std::memcmp(second, kZero, 16) != 0);
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::printf("usage: platform-tests.exe <scratch folder>\n");
    return 2;
  }
  std::setvbuf(stdout, nullptr, _IONBF, 0);     // what was printed survives a hang
  std::printf("ANSI code page %u\n", GetACP()); // the runner checks it
  gScratch = argv[1];
  TestBinding();
  TestFiles();
  TestAttributes();
  TestTimes();
  TestRemoveMakeReplace();
  CheckProfileEquivalence(gScratch, &gChecks, &gFailures);
  TestRegistry();
  TestResources();
  TestShellCopy();
  TestDrives();
  TestTemporaryFolder();
  TestMemory();
  TestStrings();
  TestDialog(100);
  TestDialog(101);
  TestCursor();
  TestDigest();
  TestRandom();
  std::printf("%s: %d checks, %d failed\n", gFailures ? "FAIL" : "PASS", gChecks, gFailures);
  return gFailures ? 1 : 0;
}
