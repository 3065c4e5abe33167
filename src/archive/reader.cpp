// Mapping the embedded archive, loading its directory and finding members.
// The container layout is described in layout.cpp.
#include <cstring>

#include "archive/archive.h"

const char kMemberMissingText[] = "Can't Find File in Resource !!";

const uint8_t* LoadArchiveResource(ModuleHandle module, uint32_t* size) {
  ResourceHandle resource = FindUpdateResource(module);
  if (resource == nullptr) return nullptr;
  uint32_t bytes = ResourceSize(module, resource);
  if (bytes == 0) return nullptr;
  void* loaded = LoadResourceData(module, resource);
  if (loaded == nullptr) return nullptr;
  const uint8_t* base = LockResourceData(loaded);
  if (base != nullptr) *size = bytes;
  return base;
}

uint8_t* OpenArchive(const ArchiveImage& image) {
  ArchiveHeader header;
  if (!CheckArchiveHeader(image.base, image.size, &header)) return nullptr;
  uint8_t* block = static_cast<uint8_t*>(AllocateBlock(size_t(header.entryCount) * kEntrySize + kHeaderSize, false));
  if (block == nullptr) return nullptr;
  uint8_t* working = nullptr;
  const uint32_t workingSize = DirectoryWorkingSize(header, image.size);
  if (workingSize) {
    working = static_cast<uint8_t*>(AllocateBlock(workingSize, false));
    if (working == nullptr) {
      FreeBlock(block);
      return nullptr;
    }
  }
  const int decoded = DecodeDirectory(image.base, image.size, header, block + kHeaderSize, working);
  if (working) FreeBlock(working);
  if (!decoded) {
    FreeBlock(block);
    return nullptr;
  }
  std::memcpy(block, &header, kHeaderSize);
  return block;
}

void AttachDirectory(ArchiveImage& image, uint8_t* directory) {
  image.directory = directory;
  image.entries = directory ? reinterpret_cast<ArchiveEntry*>(directory + kHeaderSize) : nullptr;
}

void CloseArchive(ArchiveImage& image) {
  if (image.directory) FreeBlock(image.directory);
  AttachDirectory(image, nullptr);
}

uint32_t MemberDataOffset(const ArchiveImage& image, uint32_t index) {
  uint64_t offset = kHeaderSize;
  for (uint32_t i = 0; i < index && i < DirectoryEntryCount(image); ++i)
    offset += RoundUp16(image.entries[i].storedSize);
  return offset > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(offset);
}

int EntryHasName(const ArchiveEntry& entry, const char* name) {
  // A name without its terminator inside the field matches nothing.
  return std::memchr(entry.name, 0, kNameCapacity) && CompareNoCase(entry.name, name) == 0;
}

int LocateMember(const ArchiveImage& image, const char* name, MemberRef* out) {
  if (image.directory == nullptr) return 0;
  const ArchiveHeader* header = reinterpret_cast<const ArchiveHeader*>(image.directory);
  uint64_t offset = kHeaderSize; // 64 bits: damaged sizes must not wrap around
  for (uint32_t i = 0; i < header->entryCount; ++i) {
    const ArchiveEntry& entry = image.entries[i];
    if (EntryHasName(entry, name)) {
      if (!MemberReadable(entry, offset, header->directoryOffset)) return 0;
      out->entry = &entry;
      out->stored = image.base + offset;
      return 1;
    }
    offset += RoundUp16(entry.storedSize);
  }
  return 0;
}

const uint8_t* FindMember(const ArchiveImage& image, const char* name, uint32_t* size, MemberProblem* problem) {
  MemberRef member;
  if (!LocateMember(image, name, &member)) {
    *problem = MemberProblem::Missing;
    return nullptr;
  }
  const ArchiveEntry& entry = *member.entry;
  const uint8_t* bytes = member.stored;
  if (entry.storageFlags & kMemberCompressed) {
    uint8_t* block = static_cast<uint8_t*>(AllocateBlock(entry.uncompressedSize ? entry.uncompressedSize : 1, false));
    if (block == nullptr) {
      *problem = MemberProblem::NoMemory;
      return nullptr;
    }
    if (!DecompressStreamBounded(block, entry.uncompressedSize, bytes, entry.storedSize)) {
      // A stream that does not decode to its stated size is a member that
      // cannot be read.
      FreeBlock(block);
      *problem = MemberProblem::Missing;
      return nullptr;
    }
    bytes = block;
  }
  if (size) *size = entry.uncompressedSize;
  return bytes;
}

void MemberProblemText(MemberProblem problem, const char* name, char* text, size_t capacity) {
  switch (problem) {
    case MemberProblem::NoMemory: CopyText(text, capacity, "Can't Allocate Memory !!"); break;
    case MemberProblem::Damaged: FormatText(text, capacity, kMemberDamagedFormat, name); break;
    default: CopyText(text, capacity, kMemberMissingText); break;
  }
}
