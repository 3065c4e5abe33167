// The operating-system seam.
//
// This header is the whole list of what the updater may ask of the system.
// Everything above it is plain C++ over these free functions; the Win32
// build implements them in platform/win32, the native test build links a fake
// (tests/fake) that keeps an in-memory machine.
//
// Conventions: strings are NUL-terminated ANSI (Shift-JIS) bytes; paths hold
// at most kPathCapacity bytes including the terminator; functions that can
// fail return 1 for success and 0 for failure unless stated otherwise.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

constexpr uint32_t kPathCapacity = 260;  // bytes, terminator included
constexpr uint32_t kTextCapacity = 1024; // one formatted text

// Attribute bits.
constexpr uint32_t kAttrReadOnly = 0x01;
constexpr uint32_t kAttrHidden = 0x02;
constexpr uint32_t kAttrSystem = 0x04;
constexpr uint32_t kAttrDirectory = 0x10;
constexpr uint32_t kAttrArchive = 0x20;
constexpr uint32_t kAttrNormal = 0x80;
constexpr uint32_t kAttrReparsePoint = 0x400;  // a junction, symbolic link or mount point
constexpr uint32_t kAttrMissing = 0xFFFFFFFFu; // path absent or not examinable

constexpr uint32_t kDriveCdrom = 5;

// Message box styles and answers.
constexpr uint32_t kBoxError = 0x10;    // error icon, OK
constexpr uint32_t kBoxOkCancel = 0x01; // OK and Cancel, no icon
constexpr int kAnswerOk = 1;
constexpr int kAnswerCancel = 2;

// Shell copy flags.
constexpr uint16_t kCopyNoConfirm = 0x0010;
constexpr uint16_t kCopyMakeFolders = 0x0200;
constexpr uint16_t kCopyNoErrorUi = 0x0400;

// System cursors.
constexpr int kCursorArrow = 0x7F00;
constexpr int kCursorWait = 0x7F02;

// A file time: 100 ns ticks since 1601-01-01 UTC, low half first.
struct FileTime {
  uint32_t low;
  uint32_t high;
};
inline uint64_t FileTimeValue(const FileTime& t) { return (uint64_t(t.high) << 32) | t.low; }

using FileHandle = intptr_t;
constexpr FileHandle kInvalidFile = -1;
using WindowHandle = void*; // none is nullptr
using ModuleHandle = void*;
using RegistryKey = uintptr_t;
using ResourceHandle = void*;

// ---- Start-up binding ------------------------------------------------------
// Binds the file, attribute, shell-copy and registry operations by name from
// the three system libraries. 1 when all three libraries and all twelve
// operations were found, else 0 (nothing partial is usable).
int BindSystemOperations();

// ---- Files, attributes and times ------------------------------------------
// Read access, others may read, existing files only.
FileHandle OpenFileForRead(const char* path);
// Write access, no sharing, always create (truncates an existing file).
FileHandle CreateFileForWrite(const char* path);
// Write access, no sharing, a new file only: fails when anything (a file, a
// folder, a link, even a dangling one) is at the path already.
FileHandle CreateNewFile(const char* path);
// A new file as CreateNewFile makes it, that others may only read, and that
// the system deletes when the handle is closed or the process ends however
// it ends: it is never deleted by its path, which others could change.
FileHandle CreateTemporaryFile(const char* path);
// The number of names (hard links) of an open file; 0 when unknown.
uint32_t FileLinkCount(FileHandle file);
// 1 when the open file is the one `path` names itself, reached without a
// link on the way (its final path, letter case aside, is `path`); else 0.
int FileReachedAs(FileHandle file, const char* path);
int ReadFromFile(FileHandle file, void* buffer, uint32_t count, uint32_t* done);
// Reads from `offset` (the file position is then undefined); as ReadFromFile.
int ReadFileAt(FileHandle file, uint64_t offset, void* buffer, uint32_t count, uint32_t* done);
// 1 when the request succeeded; *done is what was really written.
int WriteToFile(FileHandle file, const void* buffer, uint32_t count, uint32_t* done);
// Low 32 bits of the size; 0xFFFFFFFF on failure.
uint32_t FileSizeLow(FileHandle file);
void CloseFile(FileHandle file);
// A link's own attributes (kAttrReparsePoint set), never its target's.
uint32_t ReadAttributes(const char* path);
void WriteAttributes(const char* path, uint32_t attributes);
int ReadLastWriteTime(FileHandle file, FileTime* out);
int StampFileTimes(FileHandle file, const FileTime* time); // creation, access, write
void RemoveFile(const char* path);
void MakeDirectory(const char* path);
// 1 only when this call made the folder (0 when anything was there).
int CreateNewDirectory(const char* path);
// Calls `visit` with the bare name, attributes and size of each entry of
// `folder` ("." and ".." left out) until it returns 0. 1 when the folder was
// listed to its end and every visit returned 1; 0 also when a name has no
// Shift-JIS form.
using FolderVisit = int (*)(void* context, const char* name, uint32_t attributes, uint64_t size);
int ListFolder(const char* folder, FolderVisit visit, void* context);
// Replaces `to` with `from` in one step (rename over an existing file).
int ReplaceFile(const char* from, const char* to);
// Sets creation, access and write time of an existing file by its path.
int StampTimesAtPath(const char* path, const FileTime* time);
// The system's error code of the last operation that failed on this thread
// (0 when it gave none).
uint32_t LastSystemError();
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorSharingViolation = 32;
constexpr uint32_t kErrorDiskFull = 112;
constexpr uint32_t kErrorMoreData = 234;   // a value larger than the room given
constexpr uint32_t kErrorNoMapping = 1113; // a system text Shift-JIS cannot hold

// ---- Registry (current user's hive, read access) ---------------------------
int OpenUserKey(const char* path, RegistryKey* key);
// *size: capacity in, bytes stored out. 1 on success. A string value is
// stored as Shift-JIS; one larger than the capacity fails with
// kErrorMoreData, one holding a character Shift-JIS cannot represent fails
// with kErrorNoMapping (LastSystemError), so a path never arrives changed.
int QueryKeyValue(RegistryKey key, const char* name, void* data, uint32_t* size);
void CloseUserKey(RegistryKey key);

// ---- Resources of the own module ------------------------------------------
ResourceHandle FindUpdateResource(ModuleHandle module); // id 102, type "UPDATE"
uint32_t ResourceSize(ModuleHandle module, ResourceHandle resource);
void* LoadResourceData(ModuleHandle module, ResourceHandle resource);
const uint8_t* LockResourceData(void* loaded);
// 1 when the `size` bytes at `start` lie wholly inside one section of the
// module's image as its mapped headers describe it (so they can be read
// without a fault); 0 otherwise. A resource's stated size is checked with
// this before any of its bytes is read.
int ModuleHoldsRange(ModuleHandle module, const void* start, uint32_t size);

// ---- Shell copy -------------------------------------------------------------
// `from` and `to` are lists of one path followed by two NULs. Returns 0 on
// success, anything else is failure; *aborted is set when the user cancelled.
int ShellCopy(WindowHandle owner, const char* from, const char* to, uint16_t flags, int* aborted);
// The shell's move and delete, with no question, progress or error box:
// ShellMove moves `from` into the folder `to` (a folder merges with one of
// its name there, files of the same names replaced); ShellDelete deletes a
// file, or a folder with everything in it. 0 on success. (Some shells
// report the move of a missing `from` as done: check that it is there.)
int ShellMove(const char* from, const char* to);
int ShellDelete(const char* path);

// ---- Drives, free space, temporary folder ----------------------------------
uint32_t DriveType(const char* driveText); // "X:"
// Bytes available to the caller on the drive named by the first two bytes of
// a path ("X:"). 1 when the system answered, 0 when the figure is unknown.
int FreeBytesAvailable(const char* driveText, uint64_t* bytes);
// The user's temporary folder with its trailing backslash; empty on failure,
// with kErrorNoMapping when the folder's name cannot be given in Shift-JIS.
void TemporaryFolder(char* buffer, uint32_t capacity);
uint32_t CurrentProcessId();
// The system's Windows folder without a trailing backslash; empty on failure.
void WindowsFolder(char* buffer, uint32_t capacity);

// ---- Digests ------------------------------------------------------------------
// SHA-256 in steps, by the system's own implementation: BeginDigest gives a
// handle (none: 0), UpdateDigest adds bytes, FinishDigest stores the digest
// and releases the handle whatever it returns. 1 on success. UpdateDigest
// may go on reading the bytes after it returns (on a thread of its own, so
// the caller can make the next bytes meanwhile): the caller leaves them
// unchanged until its next UpdateDigest or FinishDigest on the same handle.
// A failure may be reported by the call after the one that failed.
using DigestHandle = void*;
DigestHandle BeginDigest();
int UpdateDigest(DigestHandle digest, const void* data, size_t size);
int FinishDigest(DigestHandle digest, uint8_t out[32]);

// ---- Randomness ----------------------------------------------------------------
// `count` bytes from the system's cryptographic random generator (names no
// other program can guess). 1 on success.
int RandomBytes(void* out, uint32_t count);

// ---- Memory (fixed blocks) ----------------------------------------------------
void* AllocateBlock(size_t bytes, bool zeroFill);
void FreeBlock(void* block);

// ---- Windows, dialogs, boxes, cursors -------------------------------------------
// What the dialog procedure translates window messages into.
struct DialogHandlers {
  void (*initialise)(WindowHandle dialog);
  void (*command)(WindowHandle dialog, int control, int notification);
  int (*setCursor)(WindowHandle dialog); // 1: the handler set the cursor
};
// className null means the standard dialog class.
WindowHandle FindTopWindow(const char* className, const char* title);
void ShowTopWindow(WindowHandle window, int show); // 5 show, 0 hide
void BringToFront(WindowHandle window);
intptr_t RunModalDialog(ModuleHandle module, int templateId, const DialogHandlers* handlers);
void EndModalDialog(WindowHandle dialog, intptr_t result);
WindowHandle DialogControl(WindowHandle dialog, int control); // none when absent
void EnableControl(WindowHandle control, int enable);         // ignores none
int ControlEnabled(WindowHandle control);                     // 0 for none
void SetControlText(WindowHandle dialog, int control, const char* text);
void SetWindowCaption(WindowHandle window, const char* text);
void CheckRadio(WindowHandle dialog, int first, int last, int checked);
void FocusControl(WindowHandle control);
void ShowControl(WindowHandle control, int show); // 5 show, 0 hide; ignores none
void SetSystemCursor(int cursor);
int MessageBoxText(WindowHandle owner, const char* text, const char* caption, uint32_t style);

void InitialiseCom();

// ---- Double-byte aware strings ----------------------------------------------
const char* NextCharacter(const char* p); // stays on the terminator
int IsLeadByte(uint8_t byte);
int CompareNoCase(const char* a, const char* b); // 0 when equal ignoring case

// ---- Shared routines (portable, built on the operations above) ----------------
// A path buffer: the path capacity plus the second NUL a join leaves behind.
constexpr uint32_t kPathBuffer = kPathCapacity + 1;

// Appends a backslash unless `dest` already ends in one (by whole characters;
// an empty `dest` gets one too), then `name`, then a second NUL so the result
// is also a one-path list. Refuses (returns 0, `dest` unchanged) when the
// result would not fit the path capacity or `capacity` bytes with both NULs.
int JoinPath(char* dest, size_t capacity, const char* name);

// Bounded copy: at most capacity - 1 bytes, always terminated. 1 if it all fit.
int CopyText(char* dest, size_t capacity, const char* src);

// The formatter: %s, %i, %u, %02i, %llu and %% only; any other directive is
// copied as it stands. Output is cut to capacity - 1 bytes and terminated.
// Returns the length stored.
size_t FormatText(char* out, size_t capacity, const char* format, ...);
size_t FormatTextV(char* out, size_t capacity, const char* format, va_list args);
// A text used as a format with no arguments: "%%" shows as "%", every other
// directive literally; nothing is ever read from an argument list.
size_t FormatWithoutArguments(char* out, size_t capacity, const char* text);

// Error boxes: modal, error icon, OK, owned by the current owner window.
void SetErrorBoxOwner(WindowHandle owner);
WindowHandle ErrorBoxOwner();
// The caption of the window-caption box is read from here at each showing.
void SetErrorBoxCaption(const char* caption);
const char* ErrorBoxCaption();
void ShowSetupError(const char* text);   // caption "INSTCMMN"
void ShowCaptionError(const char* text); // caption: the current window caption

// ---- Code page 932 and Windows paths (portable: the same on every system) -------
// The rules of code page 932 itself (cp932.cpp), for what must not depend on
// the system: a reader that gives a Japanese system's answer anywhere, and
// the seams of the test machine and the tools, whose string operations are
// these. The Win32 seam's operations above ask the system.
int Cp932IsLeadByte(uint8_t byte);                    // 0x81-0x9F and 0xE0-0xFC
int Cp932IsTrailByte(uint8_t byte);                   // 0x40-0x7E and 0x80-0xFC: can follow a lead byte
const char* Cp932NextCharacter(const char* p);        // stays on the terminator
int Cp932CompareNoCase(const char* a, const char* b); // ASCII letters in any case; <0, 0, >0

// `path` as Windows resolves it before opening anything (resolve_path.cpp):
// '/' separates too, empty and "." components go, ".." takes the one before
// it away (never the first), names lose trailing dots and blanks. 0, `out`
// empty, when the work needs more than `capacity` bytes; the path's length
// plus one always suffices (the result is never longer than the path).
int ResolveWindowsPath(const char* path, char* out, size_t capacity);
