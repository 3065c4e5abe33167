// The shell copy, drives and free space, the temporary folder, fixed memory
// blocks, COM and the process identity.
#include "platform/win32/binding.h"

#ifndef _WIN64
// The 32-bit copy record is packed to 30 bytes; the callers rely on that.
static_assert(sizeof(SHFILEOPSTRUCTA) == 30, "packed 32-bit shell copy record");
#endif

int ShellCopy(WindowHandle owner, const char* from, const char* to, uint16_t flags,
              int* aborted) {
  SHFILEOPSTRUCTA record{};
  record.hwnd = AsWindow(owner);
  record.wFunc = FO_COPY;
  record.pFrom = from;
  record.pTo = to;
  record.fFlags = flags;
  record.fAnyOperationsAborted = FALSE;
  auto shellFileOperation = Bound().shellFileOperation;
  int result = shellFileOperation ? shellFileOperation(&record) : ERROR_INVALID_FUNCTION;
  if (aborted) *aborted = record.fAnyOperationsAborted ? 1 : 0;
  return result;
}

uint32_t DriveType(const char* driveText) { return GetDriveTypeA(driveText); }

int FreeBytesAvailable(const char* driveText, uint64_t* bytes) {
  // Only the drive letter and its colon count, whatever follows them.
  char drive[3] = {0, 0, 0};
  for (int i = 0; i < 2 && driveText[i]; ++i) drive[i] = driveText[i];
  ULARGE_INTEGER available{}, total{}, totalFree{};
  if (!GetDiskFreeSpaceExA(drive, &available, &total, &totalFree)) {
    *bytes = 0;
    return 0;
  }
  *bytes = available.QuadPart;
  return 1;
}

void TemporaryFolder(char* buffer, uint32_t capacity) {
  if (capacity == 0) return;
  DWORD room = capacity < kPathCapacity ? capacity : kPathCapacity;
  DWORD length = GetTempPathA(room, buffer);
  if (length == 0 || length >= room) buffer[0] = 0;
}

uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

void* AllocateBlock(size_t bytes, bool zeroFill) {
  return GlobalAlloc(zeroFill ? GPTR : GMEM_FIXED, bytes);
}

void FreeBlock(void* block) {
  if (block) GlobalFree(block);
}

void InitialiseCom() { CoInitialize(nullptr); }
