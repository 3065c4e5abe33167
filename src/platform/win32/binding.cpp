// Start-up binding. The names of the libraries and operations are never
// stored whole: each is put together from short fragments when it is needed.
//
// The program's folder is no place to load code from: it is often a
// downloads folder that others write to, and the program runs as
// administrator. So the first act of the process keeps every later load to
// the system folder, and the libraries bound here are loaded by their full
// path there, which also covers systems that cannot keep loads there.
#include "platform/win32/binding.h"

#include <cstring>

namespace {

BoundOperations gBound{};

// A name in up to four pieces; unused pieces are null.
struct NameParts {
  const char* piece[4];
};

constexpr NameParts kFileLibrary{{"ker", "nel", "32", ".dll"}};
constexpr NameParts kShellLibrary{{"sh", "ell", "32", ".dll"}};
constexpr NameParts kRegistryLibrary{{"adv", "api", "32", ".dll"}};
constexpr NameParts kCryptoLibrary{{"bcr", "ypt", ".dll"}};

constexpr NameParts kRestrictSearch{{"SetDefault", "Dll", "Directories"}};

constexpr NameParts kCreateFile{{"Create", "File", "W"}};
constexpr NameParts kWriteFile{{"Write", "File"}};
constexpr NameParts kReadFile{{"Read", "File"}};
constexpr NameParts kGetFileSize{{"Get", "File", "Size"}};
constexpr NameParts kSetFilePointer{{"Set", "File", "Pointer"}};
constexpr NameParts kCloseHandle{{"Close", "Handle"}};
constexpr NameParts kSetFileAttributes{{"Set", "File", "Attributes", "W"}};
constexpr NameParts kGetFileAttributes{{"Get", "File", "Attributes", "W"}};
constexpr NameParts kShellFileOperation{{"SH", "File", "Operation", "W"}};
constexpr NameParts kOpenKey{{"Reg", "Open", "Key", "ExW"}};
constexpr NameParts kQueryValue{{"Reg", "Query", "Value", "ExW"}};
constexpr NameParts kCloseKey{{"Reg", "Close", "Key"}};
constexpr NameParts kFindResource{{"Find", "Resource", "W"}};
constexpr NameParts kSizeofResource{{"Sizeof", "Resource"}};
constexpr NameParts kLoadResource{{"Load", "Resource"}};
constexpr NameParts kLockResource{{"Lock", "Resource"}};
constexpr NameParts kOpenAlgorithm{{"BCrypt", "Open", "Algorithm", "Provider"}};
constexpr NameParts kCreateHash{{"BCrypt", "Create", "Hash"}};
constexpr NameParts kHashData{{"BCrypt", "Hash", "Data"}};
constexpr NameParts kFinishHash{{"BCrypt", "Finish", "Hash"}};
constexpr NameParts kDestroyHash{{"BCrypt", "Destroy", "Hash"}};
constexpr NameParts kCloseAlgorithm{{"BCrypt", "Close", "Algorithm", "Provider"}};
constexpr NameParts kGenerateRandom{{"BCrypt", "Gen", "Random"}};

constexpr DWORD kSearchSystemFolder = 0x800; // LOAD_LIBRARY_SEARCH_SYSTEM32

constexpr size_t kNameCapacity = 64;

// Joins the pieces into `out`. The pieces are ours and always fit.
void Compose(char (&out)[kNameCapacity], const NameParts& name) {
  size_t length = 0;
  for (const char* piece : name.piece) {
    if (!piece) break;
    size_t n = std::strlen(piece);
    std::memcpy(out + length, piece, n);
    length += n;
  }
  out[length] = 0;
}

// Loads the library of that name from the system folder by its full path;
// the libraries it needs in turn are looked for there first too.
HMODULE LoadSystemLibrary(const NameParts& name) {
  char text[kNameCapacity];
  Compose(text, name);
  wchar_t path[MAX_PATH + kNameCapacity];
  UINT length = GetSystemDirectoryW(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  path[length++] = L'\\';
  const char* c = text; // the name is plain ASCII; its terminator too
  do path[length++] = wchar_t(*c);
  while (*c++);
  return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// Looks up one operation; a library that failed to load yields nothing
// rather than a search of the executable itself.
FARPROC Find(HMODULE library, const NameParts& name) {
  if (!library) return nullptr;
  char text[kNameCapacity];
  Compose(text, name);
  return GetProcAddress(library, text);
}

// The same, stored in an entry of the operation's own type (one Find for all).
template <typename Entry>
inline __attribute__((always_inline)) void LookUp(Entry& entry, HMODULE library, const NameParts& name) {
  entry = reinterpret_cast<Entry>(reinterpret_cast<void (*)()>(Find(library, name)));
}

} // namespace

BoundOperations& Bound() { return gBound; }

// Every later load of a library by name, ours or the system's own (themes,
// the shell, COM), searches the system folder alone. Systems before the
// call existed (Vista, 7 without its update) keep their search order.
void RestrictLibrarySearch() {
  BOOL(WINAPI * restrictSearch)(DWORD);
  LookUp(restrictSearch, LoadSystemLibrary(kFileLibrary), kRestrictSearch);
  if (restrictSearch) restrictSearch(kSearchSystemFolder);
}

int BindSystemOperations() {
  BoundOperations& b = gBound;
  // Every load and every lookup runs, whatever happened before it.
  b.fileLibrary = LoadSystemLibrary(kFileLibrary);
  b.shellLibrary = LoadSystemLibrary(kShellLibrary);
  b.registryLibrary = LoadSystemLibrary(kRegistryLibrary);

  LookUp(b.createFile, b.fileLibrary, kCreateFile);
  LookUp(b.writeFile, b.fileLibrary, kWriteFile);
  LookUp(b.readFile, b.fileLibrary, kReadFile);
  LookUp(b.getFileSize, b.fileLibrary, kGetFileSize);
  LookUp(b.setFilePointer, b.fileLibrary, kSetFilePointer);
  LookUp(b.closeHandle, b.fileLibrary, kCloseHandle);
  LookUp(b.setFileAttributes, b.fileLibrary, kSetFileAttributes);
  LookUp(b.getFileAttributes, b.fileLibrary, kGetFileAttributes);
  LookUp(b.shellFileOperation, b.shellLibrary, kShellFileOperation);
  LookUp(b.openKey, b.registryLibrary, kOpenKey);
  LookUp(b.queryValue, b.registryLibrary, kQueryValue);
  LookUp(b.closeKey, b.registryLibrary, kCloseKey);

  // Only now are the fifteen results tested, all together.
  const bool present[] = {
      b.fileLibrary != nullptr,       b.shellLibrary != nullptr,      b.registryLibrary != nullptr,
      b.createFile != nullptr,        b.writeFile != nullptr,         b.readFile != nullptr,
      b.getFileSize != nullptr,       b.setFilePointer != nullptr,    b.closeHandle != nullptr,
      b.setFileAttributes != nullptr, b.getFileAttributes != nullptr, b.shellFileOperation != nullptr,
      b.openKey != nullptr,           b.queryValue != nullptr,        b.closeKey != nullptr,
  };
  int all = 1;
  for (bool p : present) all &= p ? 1 : 0;
  return all;
}

void BindResourceOperations() {
  BoundOperations& b = gBound;
  LookUp(b.findResource, b.fileLibrary, kFindResource);
  LookUp(b.sizeofResource, b.fileLibrary, kSizeofResource);
  LookUp(b.loadResource, b.fileLibrary, kLoadResource);
  LookUp(b.lockResource, b.fileLibrary, kLockResource);
}

int BindCryptography() {
  static int bound = -1; // not tried yet
  if (bound >= 0) return bound;
  BoundOperations& b = gBound;
  b.cryptoLibrary = LoadSystemLibrary(kCryptoLibrary);
  LookUp(b.openAlgorithm, b.cryptoLibrary, kOpenAlgorithm);
  LookUp(b.createHash, b.cryptoLibrary, kCreateHash);
  LookUp(b.hashData, b.cryptoLibrary, kHashData);
  LookUp(b.finishHash, b.cryptoLibrary, kFinishHash);
  LookUp(b.destroyHash, b.cryptoLibrary, kDestroyHash);
  LookUp(b.closeAlgorithm, b.cryptoLibrary, kCloseAlgorithm);
  LookUp(b.generateRandom, b.cryptoLibrary, kGenerateRandom);
  bound = b.openAlgorithm && b.createHash && b.hashData && b.finishHash && b.destroyHash && b.closeAlgorithm &&
          b.generateRandom;
  return bound;
}
