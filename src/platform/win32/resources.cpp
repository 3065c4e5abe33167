// The module's own resources. The four operations are looked up when the
// archive resource is first located; one that is missing behaves like a
// missing resource.
#include "platform/win32/binding.h"

namespace {
constexpr WORD kUpdateResourceId = 102;
}

ResourceHandle FindUpdateResource(ModuleHandle module) {
  BindResourceOperations();
  auto findResource = Bound().findResource;
  if (!findResource) return nullptr;
  return findResource(AsModule(module), MAKEINTRESOURCEA(kUpdateResourceId), "UPDATE");
}

uint32_t ResourceSize(ModuleHandle module, ResourceHandle resource) {
  auto sizeofResource = Bound().sizeofResource;
  if (!sizeofResource || !resource) return 0;
  return sizeofResource(AsModule(module), static_cast<HRSRC>(resource));
}

void* LoadResourceData(ModuleHandle module, ResourceHandle resource) {
  auto loadResource = Bound().loadResource;
  if (!loadResource || !resource) return nullptr;
  return loadResource(AsModule(module), static_cast<HRSRC>(resource));
}

const uint8_t* LockResourceData(void* loaded) {
  auto lockResource = Bound().lockResource;
  if (!lockResource || !loaded) return nullptr;
  return static_cast<const uint8_t*>(lockResource(static_cast<HGLOBAL>(loaded)));
}
