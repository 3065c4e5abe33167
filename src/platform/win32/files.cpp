// Files, attributes and times. Opening, reading, writing, sizing, closing and
// the attribute calls go through the binding table; the rest are imported.
#include "platform/win32/binding.h"

namespace {

FILETIME ToSystem(const FileTime& t) {
  FILETIME f;
  f.dwLowDateTime = t.low;
  f.dwHighDateTime = t.high;
  return f;
}

FileHandle OpenWith(const char* path, DWORD access, DWORD share, DWORD disposition,
                    DWORD flags = FILE_ATTRIBUTE_NORMAL) {
  auto createFile = Bound().createFile;
  const WidePath wide(path);
  if (!createFile || !wide.ok()) return kInvalidFile;
  return AsFileHandle(createFile(wide.get(), access, share, nullptr, disposition, flags, nullptr));
}

} // namespace

FileHandle OpenFileForRead(const char* path) { return OpenWith(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING); }

FileHandle CreateFileForWrite(const char* path) { return OpenWith(path, GENERIC_WRITE, 0, CREATE_ALWAYS); }

// CREATE_NEW fails on any name that exists, a link (even a dangling one)
// included: nothing prepared at the path is ever opened.
FileHandle CreateNewFile(const char* path) { return OpenWith(path, GENERIC_WRITE, 0, CREATE_NEW); }

FileHandle CreateTemporaryFile(const char* path) {
  return OpenWith(path, GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE, CREATE_NEW,
                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE);
}

int FileReachedAs(FileHandle file, const char* path) {
  const WidePath wide(path);
  constexpr DWORD kRoom = kPathCapacity + 8;
  wchar_t final[kRoom];
  const DWORD n = GetFinalPathNameByHandleW(AsHandle(file), final, kRoom, FILE_NAME_NORMALIZED);
  if (!wide.ok() || n == 0 || n >= kRoom) return 0;
  // "\\?\C:\..." for a path on a drive.
  const wchar_t* own = final;
  if (wcsncmp(own, L"\\\\?\\", 4) == 0) own += 4;
  return CompareStringOrdinal(own, -1, wide.get(), -1, TRUE) == CSTR_EQUAL ? 1 : 0;
}

uint32_t FileLinkCount(FileHandle file) {
  BY_HANDLE_FILE_INFORMATION information;
  return GetFileInformationByHandle(AsHandle(file), &information) ? information.nNumberOfLinks : 0;
}

int ReadFromFile(FileHandle file, void* buffer, uint32_t count, uint32_t* done) {
  DWORD read = 0;
  auto readFile = Bound().readFile;
  BOOL ok = readFile ? readFile(AsHandle(file), buffer, count, &read, nullptr) : FALSE;
  if (done) *done = read;
  return ok ? 1 : 0;
}

int ReadFileAt(FileHandle file, uint64_t offset, void* buffer, uint32_t count, uint32_t* done) {
  OVERLAPPED at{};
  at.Offset = DWORD(offset);
  at.OffsetHigh = DWORD(offset >> 32);
  DWORD read = 0;
  auto readFile = Bound().readFile;
  BOOL ok = readFile ? readFile(AsHandle(file), buffer, count, &read, &at) : FALSE;
  if (done) *done = read;
  return ok ? 1 : 0;
}

int WriteToFile(FileHandle file, const void* buffer, uint32_t count, uint32_t* done) {
  DWORD written = 0;
  auto writeFile = Bound().writeFile;
  BOOL ok = writeFile ? writeFile(AsHandle(file), buffer, count, &written, nullptr) : FALSE;
  if (done) *done = written;
  return ok ? 1 : 0;
}

uint32_t FileSizeLow(FileHandle file) {
  auto getFileSize = Bound().getFileSize;
  return getFileSize ? getFileSize(AsHandle(file), nullptr) : INVALID_FILE_SIZE;
}

void CloseFile(FileHandle file) {
  if (auto closeHandle = Bound().closeHandle) closeHandle(AsHandle(file));
}

uint32_t ReadAttributes(const char* path) {
  auto getFileAttributes = Bound().getFileAttributes;
  const WidePath wide(path);
  return getFileAttributes && wide.ok() ? getFileAttributes(wide.get()) : INVALID_FILE_ATTRIBUTES;
}

void WriteAttributes(const char* path, uint32_t attributes) {
  const WidePath wide(path);
  if (auto setFileAttributes = Bound().setFileAttributes; setFileAttributes && wide.ok())
    setFileAttributes(wide.get(), attributes);
}

int ReadLastWriteTime(FileHandle file, FileTime* out) {
  FILETIME written{};
  if (!GetFileTime(AsHandle(file), nullptr, nullptr, &written)) return 0;
  out->low = written.dwLowDateTime;
  out->high = written.dwHighDateTime;
  return 1;
}

int StampFileTimes(FileHandle file, const FileTime* time) {
  FILETIME t = ToSystem(*time);
  return SetFileTime(AsHandle(file), &t, &t, &t) ? 1 : 0;
}

void RemoveFile(const char* path) {
  const WidePath wide(path);
  if (wide.ok()) DeleteFileW(wide.get());
}

void MakeDirectory(const char* path) {
  const WidePath wide(path);
  if (wide.ok()) CreateDirectoryW(wide.get(), nullptr);
}

int CreateNewDirectory(const char* path) {
  const WidePath wide(path);
  return wide.ok() && CreateDirectoryW(wide.get(), nullptr) ? 1 : 0;
}

int StampTimesAtPath(const char* path, const FileTime* time) {
  // Only the attributes are written; others may keep the file open meanwhile.
  FileHandle file = OpenWith(path, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  if (file == kInvalidFile) return 0;
  int ok = StampFileTimes(file, time);
  CloseFile(file);
  return ok;
}

int ReplaceFile(const char* from, const char* to) {
  const WidePath wideFrom(from), wideTo(to);
  return wideFrom.ok() && wideTo.ok() &&
                 MoveFileExW(wideFrom.get(), wideTo.get(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
             ? 1
             : 0;
}

uint32_t LastSystemError() { return GetLastError(); }

int ListFolder(const char* folder, FolderVisit visit, void* context) {
  WidePath pattern(folder);
  const size_t length = pattern.ok() ? wcslen(pattern.get()) : 0;
  if (!pattern.ok() || length + 3 > kPathCapacity + 1) return 0;
  wcscpy(pattern.buffer() + length, L"\\*");
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(pattern.get(), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  int ok = 1;
  do {
    const wchar_t* n = found.cFileName;
    if (n[0] == L'.' && (n[1] == 0 || (n[1] == L'.' && n[2] == 0))) continue;
    char name[kPathBuffer];
    const uint64_t size = (uint64_t(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    ok = NarrowFromWide(n, name, sizeof name) && visit(context, name, found.dwFileAttributes, size);
  } while (ok && FindNextFileW(search, &found));
  if (ok && GetLastError() != ERROR_NO_MORE_FILES) ok = 0;
  FindClose(search);
  return ok;
}
