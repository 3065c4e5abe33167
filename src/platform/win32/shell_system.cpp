// The shell copy, drives and free space, the temporary folder, fixed memory
// blocks, COM and the process identity.
#include "platform/win32/binding.h"

#ifndef _WIN64
// The 32-bit copy record is packed to 30 bytes, as the callers expect.
static_assert(sizeof(SHFILEOPSTRUCTW) == 30, "packed 32-bit shell copy record");
#endif

namespace {

// A one-path list (the path, then two NULs) as UTF-16.
struct WideList : WideOf<kPathCapacity + 2> {
  explicit WideList(const char* path) : WideOf(path, true) {
    if (ok()) buffer()[lstrlenW(buffer()) + 1] = 0;
  }
};

int RunShellOperation(WindowHandle owner, UINT function, const char* from, const char* to, uint16_t flags,
                      int* aborted) {
  const WideList wideFrom(from), wideTo(to ? to : "");
  if (aborted) *aborted = 0;
  if (!wideFrom.ok() || !wideTo.ok()) return ERROR_NO_UNICODE_TRANSLATION;
  SHFILEOPSTRUCTW record{};
  record.hwnd = AsWindow(owner);
  record.wFunc = function;
  record.pFrom = wideFrom.get();
  record.pTo = to ? wideTo.get() : nullptr;
  record.fFlags = flags;
  record.fAnyOperationsAborted = FALSE;
  auto shellFileOperation = Bound().shellFileOperation;
  int result = shellFileOperation ? shellFileOperation(&record) : ERROR_INVALID_FUNCTION;
  if (aborted) *aborted = record.fAnyOperationsAborted ? 1 : 0;
  return result;
}

// No question, progress or error box; a cancel counts as a failure.
int RunQuietly(UINT function, const char* from, const char* to) {
  constexpr uint16_t kQuietFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI;
  int aborted = 0;
  const int result = RunShellOperation(nullptr, function, from, to, kQuietFlags, &aborted);
  return result != 0 ? result : aborted;
}

} // namespace

int ShellCopy(WindowHandle owner, const char* from, const char* to, uint16_t flags, int* aborted) {
  return RunShellOperation(owner, FO_COPY, from, to, flags, aborted);
}

int ShellMove(const char* from, const char* to) { return RunQuietly(FO_MOVE, from, to); }

int ShellDelete(const char* path) { return RunQuietly(FO_DELETE, path, nullptr); }

uint32_t DriveType(const char* driveText) {
  const WidePath wide(driveText);
  return wide.ok() ? GetDriveTypeW(wide.get()) : DRIVE_UNKNOWN;
}

int FreeBytesAvailable(const char* driveText, uint64_t* bytes) {
  // Only the drive letter and its colon count, whatever follows them.
  wchar_t drive[3] = {0, 0, 0};
  for (int i = 0; i < 2 && driveText[i] && uint8_t(driveText[i]) < 0x80; ++i) drive[i] = wchar_t(driveText[i]);
  ULARGE_INTEGER available{}, total{}, totalFree{};
  if (!GetDiskFreeSpaceExW(drive, &available, &total, &totalFree)) {
    *bytes = 0;
    return 0;
  }
  *bytes = available.QuadPart;
  return 1;
}

// The user's temporary folder. A folder whose name Shift-JIS cannot hold
// (a user name such as "Zoë") is taken by its short name, which is the same
// folder; when there is none either, the result is empty, as for any failure.
void TemporaryFolder(char* buffer, uint32_t capacity) {
  if (capacity == 0) return;
  buffer[0] = 0;
  wchar_t wide[MAX_PATH + 1];
  DWORD length = GetTempPathW(MAX_PATH + 1, wide);
  if (length == 0 || length > MAX_PATH) return;
  const int room = int(capacity < kPathCapacity ? capacity : kPathCapacity);
  if (NarrowFromWide(wide, buffer, room)) return;
  wchar_t shortName[MAX_PATH + 1];
  length = GetShortPathNameW(wide, shortName, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH || !NarrowFromWide(shortName, buffer, room)) buffer[0] = 0;
}

uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

void WindowsFolder(char* buffer, uint32_t capacity) {
  if (capacity == 0) return;
  buffer[0] = 0;
  wchar_t wide[MAX_PATH + 1];
  const UINT length = GetWindowsDirectoryW(wide, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) return;
  if (length > 3 && wide[length - 1] == L'\\') wide[length - 1] = 0;
  if (!NarrowFromWide(wide, buffer, int(capacity < kPathCapacity ? capacity : kPathCapacity))) buffer[0] = 0;
}

void* AllocateBlock(size_t bytes, bool zeroFill) { return GlobalAlloc(zeroFill ? GPTR : GMEM_FIXED, bytes); }

void FreeBlock(void* block) {
  if (block) GlobalFree(block);
}

void InitialiseCom() { CoInitialize(nullptr); }
