// The module's own resources. The four operations are looked up when the
// archive resource is first located; one that is missing behaves like a
// missing resource.
#include "platform/win32/binding.h"

#include <cstddef>

namespace {
constexpr WORD kUpdateResourceId = 102;
}

ResourceHandle FindUpdateResource(ModuleHandle module) {
  BindResourceOperations();
  auto findResource = Bound().findResource;
  if (!findResource) return nullptr;
  return findResource(AsModule(module), MAKEINTRESOURCEW(kUpdateResourceId), L"UPDATE");
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

// The module's headers are mapped with it; the loader placed every section
// at its virtual address with (at least) its virtual size, so a range inside
// one section is readable. Every header field is checked against the image
// size before it is used: the headers may be damaged too.
int ModuleHoldsRange(ModuleHandle module, const void* start, uint32_t size) {
  const auto* base = static_cast<const BYTE*>(module);
  if (!base || !start) return 0;
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew <= 0 || dos->e_lfanew > 0x10000000) return 0;
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  if (nt->Signature != IMAGE_NT_SIGNATURE) return 0;
  const uint64_t imageSize = nt->OptionalHeader.SizeOfImage;
  const uint64_t headerSize = nt->OptionalHeader.SizeOfHeaders;
  const uint64_t table = uint64_t(dos->e_lfanew) + offsetof(IMAGE_NT_HEADERS, OptionalHeader) +
                         nt->FileHeader.SizeOfOptionalHeader;
  const uint64_t tableEnd = table + uint64_t(nt->FileHeader.NumberOfSections) * sizeof(IMAGE_SECTION_HEADER);
  if (tableEnd > headerSize || headerSize > imageSize) return 0;

  const auto at = static_cast<const BYTE*>(start);
  if (at < base || uint64_t(at - base) >= imageSize) return 0;
  const uint64_t first = uint64_t(at - base);
  const uint64_t end = first + size;
  const auto* section = reinterpret_cast<const IMAGE_SECTION_HEADER*>(base + table);
  for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
    const uint64_t from = section[i].VirtualAddress;
    const uint64_t length = section[i].Misc.VirtualSize ? section[i].Misc.VirtualSize : section[i].SizeOfRawData;
    const uint64_t to = from + length < imageSize ? from + length : imageSize;
    if (first >= from && end <= to) return 1;
  }
  return 0;
}
