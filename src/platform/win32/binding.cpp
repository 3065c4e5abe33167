// Start-up binding. The names of the libraries and operations are never
// stored whole: each is put together from short fragments when it is needed.
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

HMODULE LoadSystemLibrary(const NameParts& name) {
  char text[kNameCapacity];
  Compose(text, name);
  return LoadLibraryA(text);
}

// Looks up one operation; a library that failed to load yields nothing
// rather than a search of the executable itself.
template <typename Entry>
void LookUp(Entry& entry, HMODULE library, const NameParts& name) {
  entry = nullptr;
  if (!library) return;
  char text[kNameCapacity];
  Compose(text, name);
  FARPROC found = GetProcAddress(library, text);
  entry = reinterpret_cast<Entry>(reinterpret_cast<void (*)()>(found));
}

}  // namespace

BoundOperations& Bound() { return gBound; }

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
      b.fileLibrary != nullptr,      b.shellLibrary != nullptr,       b.registryLibrary != nullptr,
      b.createFile != nullptr,       b.writeFile != nullptr,          b.readFile != nullptr,
      b.getFileSize != nullptr,      b.setFilePointer != nullptr,     b.closeHandle != nullptr,
      b.setFileAttributes != nullptr, b.getFileAttributes != nullptr, b.shellFileOperation != nullptr,
      b.openKey != nullptr,          b.queryValue != nullptr,         b.closeKey != nullptr,
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
