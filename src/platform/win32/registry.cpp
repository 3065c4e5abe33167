// The registry of the current user, through the binding table.
#include "platform/win32/binding.h"

int OpenUserKey(const char* path, RegistryKey* key) {
  auto openKey = Bound().openKey;
  const WideOf<kTextCapacity> wide(path, true);
  if (!openKey || !wide.ok()) return 0;
  HKEY opened = nullptr;
  if (openKey(HKEY_CURRENT_USER, wide.get(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return 0;
  *key = reinterpret_cast<RegistryKey>(opened);
  return 1;
}

// A string value arrives as UTF-16 and is handed on as Shift-JIS; any other
// value as its bytes. Either way a value larger than the caller's capacity
// fails (last error ERROR_MORE_DATA), and so does a string Shift-JIS cannot
// hold (kErrorNoMapping): a path is never handed on changed.
int QueryKeyValue(RegistryKey key, const char* name, void* data, uint32_t* size) {
  auto queryValue = Bound().queryValue;
  const WideOf<kPathCapacity + 1> wideName(name, true);
  if (!queryValue || !wideName.ok()) return 0;
  wchar_t raw[kTextCapacity + 1];
  DWORD type = 0;
  DWORD bytes = sizeof raw - sizeof raw[0];
  LONG result = queryValue(AsKey(key), wideName.get(), nullptr, &type, reinterpret_cast<BYTE*>(raw), &bytes);
  if (result != ERROR_SUCCESS) {
    SetLastError(DWORD(result));
    return 0;
  }
  if (type == REG_SZ || type == REG_EXPAND_SZ) {
    raw[bytes / sizeof raw[0]] = 0; // the system does not promise a terminator
    if (!NarrowFromWide(raw, static_cast<char*>(data), int(*size))) {
      if (GetLastError() != kErrorNoMapping) SetLastError(ERROR_MORE_DATA);
      return 0;
    }
    *size = uint32_t(lstrlenA(static_cast<char*>(data)) + 1);
    return 1;
  }
  if (bytes > *size) {
    SetLastError(ERROR_MORE_DATA);
    return 0;
  }
  CopyMemory(data, raw, bytes);
  *size = bytes;
  return 1;
}

void CloseUserKey(RegistryKey key) {
  if (auto closeKey = Bound().closeKey) closeKey(AsKey(key));
}
