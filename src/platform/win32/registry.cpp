// The registry of the current user, through the binding table.
#include "platform/win32/binding.h"

int OpenUserKey(const char* path, RegistryKey* key) {
  auto openKey = Bound().openKey;
  if (!openKey) return 0;
  HKEY opened = nullptr;
  if (openKey(HKEY_CURRENT_USER, path, 0, KEY_READ, &opened) != ERROR_SUCCESS) return 0;
  *key = reinterpret_cast<RegistryKey>(opened);
  return 1;
}

int QueryKeyValue(RegistryKey key, const char* name, void* data, uint32_t* size) {
  auto queryValue = Bound().queryValue;
  if (!queryValue) return 0;
  DWORD bytes = *size;
  LONG result = queryValue(AsKey(key), name, nullptr, nullptr, static_cast<BYTE*>(data), &bytes);
  if (result != ERROR_SUCCESS) return 0;
  *size = bytes;
  return 1;
}

void CloseUserKey(RegistryKey key) {
  if (auto closeKey = Bound().closeKey) closeKey(AsKey(key));
}
