// Writing the archive into an executable as resource "UPDATE" 102, without
// a resource compiler or Windows.
//
// The whole resource tree is read (pe_resource_tree.cpp), the archive is put
// in as type "UPDATE", name 102, one language, and the tree is laid out anew
// as the contents of a resource section:
//
// - When the resource section is the image's last section, in the address
//   space and in the file, starts with the resource directory and holds
//   nothing any other data directory points at, it is rewritten where it is
//   and grows or shrinks; what follows it in the file (symbol table, appended
//   data) moves with its end.
// - Otherwise (a linker usually puts .reloc and debug sections after .rsrc) a
//   new section ".rsrc" is added after the last one, in the address space
//   and in the file. The old section stays in the image untouched, renamed
//   ".oldrsrc" when it was called ".rsrc" so that tools looking for the
//   resources by section name find the new one. The new section header needs
//   40 free bytes after the section table; when the headers have no room,
//   they grow by whole file-alignment units (as long as they stay below the
//   first section's address) and every section's raw data moves back.
//
// Then: data directory 2 points at the new tree; the section's VirtualSize
// is the tree's size and SizeOfRawData that size rounded up to
// FileAlignment; SizeOfImage covers the last section rounded up to
// SectionAlignment; SizeOfInitializedData changes by the raw size added; the
// symbol table and debug data pointers follow the bytes they point at; the
// checksum is computed afresh. A certificate table (an Authenticode
// signature) would no longer match the file: its directory entry is cleared
// and, when it sits at the end of the file as usual, its bytes are dropped.
#include <algorithm>

#include "fa2/lib/pe_image.h"

namespace fa2 {

using namespace pe;

namespace {

constexpr uint16_t kUpdateId = 102;
constexpr uint32_t kNewSectionFlags = kSectionInitializedData | kSectionRead;

ResourceKey UpdateType() {
  ResourceKey key;
  key.named = true;
  key.name = u"UPDATE";
  return key;
}

// Puts the archive into the tree as UPDATE/102 with a single language: the
// first language of the resource it replaces, or neutral.
void PutArchive(ResourceTree& tree, uint64_t archiveSize, StampReport& report) {
  const ResourceKey type = UpdateType();
  auto t = std::find_if(tree.types.begin(), tree.types.end(),
                        [&](const ResourceNode& n) { return SameResourceKey(n.key, type); });
  if (t == tree.types.end()) {
    tree.types.push_back(ResourceNode{type});
    t = tree.types.end() - 1;
  }
  t->key = type; // the loader looks the name up in upper case
  ResourceKey id;
  id.id = kUpdateId;
  auto n = std::find_if(t->children.begin(), t->children.end(),
                        [&](const ResourceNode& c) { return SameResourceKey(c.key, id); });
  if (n == t->children.end()) {
    t->children.push_back(ResourceNode{id});
    n = t->children.end() - 1;
  }
  ResourceNode leaf;
  leaf.isLeaf = true;
  if (!n->children.empty()) {
    report.replaced = true;
    leaf.key = n->children.front().key;
    leaf.codePage = n->children.front().codePage;
  }
  leaf.external = true;
  leaf.externalSize = archiveSize;
  report.language = leaf.key.id;
  n->children.clear(); // every language of the old one goes: only the new archive may be found
  n->children.push_back(std::move(leaf));
}

uint32_t Directory(const Bytes& file, const Image& image, uint32_t index) {
  return index < image.directoryCount ? U32(file, image.DirectoryField(index)) : 0;
}

// The index of the resource section when it can be rewritten in place, or -1.
int InPlaceSection(const Bytes& file, const Image& image) {
  const uint32_t rva = Directory(file, image, kDirectoryResources);
  if (rva == 0) return -1;
  for (size_t i = 0; i < image.sections.size(); ++i) {
    const Section& s = image.sections[i];
    if (s.virtualAddress != rva || s.rawSize == 0) continue;
    for (size_t j = 0; j < image.sections.size(); ++j) {
      const Section& o = image.sections[j];
      if (j == i) continue;
      if (o.virtualAddress >= s.virtualAddress) return -1;
      if (o.rawSize && o.rawOffset >= s.rawOffset) return -1;
    }
    for (uint32_t d = 0; d < image.directoryCount; ++d) {
      if (d == kDirectoryResources || d == kDirectoryCertificates) continue; // the latter holds a file offset
      const uint32_t at = Directory(file, image, d);
      if (at >= s.virtualAddress && uint64_t(at) < uint64_t(s.virtualAddress) + s.Span()) return -1;
    }
    return int(i);
  }
  return -1;
}

void DropSignature(Bytes& file, const Image& image, StampReport& report) {
  if (image.directoryCount <= kDirectoryCertificates) return;
  const size_t field = image.DirectoryField(kDirectoryCertificates);
  const uint32_t offset = U32(file, field), size = U32(file, field + 4);
  if (offset == 0 && size == 0) return;
  if (offset >= image.RawEnd() && uint64_t(offset) + size == file.size()) {
    // The table starts on an 8-byte boundary; the signing tool padded the
    // file with zeros up to it.
    uint64_t end = offset;
    while (end > image.RawEnd() && offset - end < 8 && file[size_t(end - 1)] == 0) --end;
    file.resize(size_t(end));
  }
  Put32(file, field, 0);
  Put32(file, field + 4, 0);
  report.droppedSignature = true;
}

// What the loader insists on, and the edits rely on: sections in ascending
// address order without overlap, no raw data inside the headers.
bool CheckLayout(const Image& image, std::string& error) {
  const uint64_t tableEnd = image.sectionTable + kSectionHeaderSize * image.sections.size();
  uint64_t end = 0;
  for (const Section& s : image.sections) {
    if (s.rawSize && s.rawOffset < tableEnd) {
      error = "damaged executable: section " + s.name + " overlaps the headers";
      return false;
    }
    if (s.virtualAddress < end) {
      error = "damaged executable: section " + s.name + " overlaps the one before it in memory";
      return false;
    }
    end = uint64_t(s.virtualAddress) + AlignUp(s.Span(), image.sectionAlignment);
  }
  return true;
}

// Makes the 40 bytes after the section table free for one more header.
bool MakeRoomForSectionHeader(Bytes& file, Image& image, std::string& error) {
  const uint64_t need = image.sectionTable + kSectionHeaderSize * (image.sections.size() + 1);
  uint64_t firstAddress = UINT64_MAX;
  for (const Section& s : image.sections) firstAddress = std::min<uint64_t>(firstAddress, s.virtualAddress);
  const uint64_t firstRaw = std::min<uint64_t>(image.FirstRaw(), file.size());
  if (need > image.sizeOfHeaders || need > firstRaw) {
    const uint64_t headers = AlignUp(need, image.fileAlignment);
    if (headers > firstAddress) {
      error = "no room for another section header before the first section";
      return false;
    }
    if (headers > firstRaw) {
      const uint64_t grow = AlignUp(headers - firstRaw, image.fileAlignment);
      ShiftFileOffsets(file, image, firstRaw, int64_t(grow));
      file.insert(file.begin() + ptrdiff_t(firstRaw), size_t(grow), 0);
    }
    Put32(file, image.optional + 60, uint32_t(std::max<uint64_t>(headers, image.sizeOfHeaders)));
    if (!ParseImage(file, image, error)) return false;
  }
  const size_t slot = image.sectionTable + kSectionHeaderSize * image.sections.size();
  if (std::any_of(file.begin() + ptrdiff_t(slot), file.begin() + ptrdiff_t(slot + kSectionHeaderSize),
                  [](uint8_t b) { return b != 0; })) {
    // Bound imports may live there; the loader does without them.
    const uint32_t bound = Directory(file, image, kDirectoryBoundImports);
    if (bound < slot || bound >= slot + kSectionHeaderSize) {
      error = "no free room after the section table for another section header";
      return false;
    }
    Put32(file, image.DirectoryField(kDirectoryBoundImports), 0);
    Put32(file, image.DirectoryField(kDirectoryBoundImports) + 4, 0);
    std::fill_n(file.begin() + ptrdiff_t(bound), size_t(slot + kSectionHeaderSize - bound), 0);
  }
  return true;
}

// Replaces `oldSize` bytes at `at` with `content` padded with zeros to
// `newSize`, moving what follows.
void Splice(Bytes& file, uint64_t at, uint64_t oldSize, const Bytes& content, uint64_t newSize) {
  Bytes block(content);
  block.resize(size_t(newSize), 0);
  file.erase(file.begin() + ptrdiff_t(at), file.begin() + ptrdiff_t(at + oldSize));
  file.insert(file.begin() + ptrdiff_t(at), block.begin(), block.end());
}

void AddInitializedData(Bytes& file, const Image& image, int64_t delta) {
  const int64_t now = U32(file, image.optional + 8);
  Put32(file, image.optional + 8, uint32_t(std::clamp<int64_t>(now + delta, 0, 0xFFFFFFFF)));
}

} // namespace

bool StampUpdateResourceAround(const Bytes& exe, uint64_t archiveSize, StampedImage& out, std::string& error,
                               StampReport* reportOut) {
  StampReport report;
  Image image;
  ResourceTree tree;
  if (!ParseImage(exe, image, error)) return false;
  if (image.directoryCount <= kDirectoryResources) {
    error = "executable has no slot for a resource table in its headers";
    return false;
  }
  if (!CheckLayout(image, error)) return false;
  if (!ParseResourceTree(exe, image, tree, error)) return false;
  if (archiveSize > 0x7FFFFFFFu) {
    error = "archive too large for an executable (2 GiB at most)";
    return false;
  }
  PutArchive(tree, archiveSize, report);

  // The file is built without the archive's bytes and the padding after
  // them: they go in at `insertAt`, `hole` bytes in all.
  Bytes file = exe;
  DropSignature(file, image, report);
  uint32_t rva = 0;
  uint64_t treeSize = 0, insertAt = 0, hole = 0;
  const int index = InPlaceSection(file, image);
  if (index >= 0) {
    const Section s = image.sections[size_t(index)];
    rva = s.virtualAddress;
    const Bytes content = SerializeResourceTree(tree, rva);
    treeSize = content.size() + AlignUp(archiveSize, 8);
    const uint64_t rawSize = AlignUp(treeSize, image.fileAlignment);
    if (uint64_t(rva) + AlignUp(treeSize, image.sectionAlignment) > 0xFFFFFFFFu) {
      error = "archive too large for this executable's address space";
      return false;
    }
    const uint64_t oldEnd = uint64_t(s.rawOffset) + s.rawSize;
    ShiftFileOffsets(file, image, oldEnd, int64_t(rawSize) - int64_t(s.rawSize));
    Splice(file, s.rawOffset, s.rawSize, content, content.size());
    insertAt = s.rawOffset + content.size();
    hole = rawSize - content.size();
    Put32(file, s.header + 8, uint32_t(treeSize));
    Put32(file, s.header + 16, uint32_t(rawSize));
    if (s.characteristics & kSectionInitializedData)
      AddInitializedData(file, image, int64_t(rawSize) - int64_t(s.rawSize));
  } else {
    if (!MakeRoomForSectionHeader(file, image, error)) return false;
    const uint32_t oldRva = Directory(file, image, kDirectoryResources);
    for (const Section& s : image.sections)
      if (oldRva && s.virtualAddress == oldRva && s.name == ".rsrc") std::copy_n(".oldrsrc", 8, &file[s.header]);
    const uint64_t address = std::max(image.NextVirtualAddress(),
                                      AlignUp(U32(file, image.optional + 56), image.sectionAlignment));
    const Bytes content = SerializeResourceTree(tree, uint32_t(address));
    treeSize = content.size() + AlignUp(archiveSize, 8);
    if (address + AlignUp(treeSize, image.sectionAlignment) > 0xFFFFFFFFu) {
      error = "archive too large for this executable's address space";
      return false;
    }
    rva = uint32_t(address);
    const uint64_t rawEnd = std::min<uint64_t>(image.RawEnd() ? image.RawEnd() : image.sizeOfHeaders, file.size());
    const uint64_t rawOffset = AlignUp(rawEnd, image.fileAlignment);
    const uint64_t rawSize = AlignUp(treeSize, image.fileAlignment);
    ShiftFileOffsets(file, image, rawEnd, int64_t(rawOffset - rawEnd + rawSize));
    Bytes block(size_t(rawOffset - rawEnd), 0);
    block.insert(block.end(), content.begin(), content.end());
    Splice(file, rawEnd, 0, block, block.size());
    insertAt = rawEnd + block.size();
    hole = rawSize - content.size();
    const size_t header = image.sectionTable + kSectionHeaderSize * image.sections.size();
    std::copy_n(".rsrc\0\0\0", 8, &file[header]);
    Put32(file, header + 8, uint32_t(treeSize));
    Put32(file, header + 12, rva);
    Put32(file, header + 16, uint32_t(rawSize));
    Put32(file, header + 20, uint32_t(rawOffset));
    Put32(file, header + 36, kNewSectionFlags);
    Put16(file, image.fileHeader + 2, uint32_t(image.sections.size() + 1));
    AddInitializedData(file, image, int64_t(rawSize));
    report.appendedSection = true;
  }

  if (!ParseImage(file, image, error, file.size() + hole)) return false;
  Put32(file, image.DirectoryField(kDirectoryResources), rva);
  Put32(file, image.DirectoryField(kDirectoryResources) + 4, uint32_t(treeSize));
  Put32(file, image.optional + 56, uint32_t(image.NextVirtualAddress()));
  out.checkSumField = image.CheckSumField();
  out.archiveSize = archiveSize;
  out.head.assign(file.begin(), file.begin() + ptrdiff_t(insertAt));
  out.tail.assign(size_t(hole - archiveSize), 0);
  out.tail.insert(out.tail.end(), file.begin() + ptrdiff_t(insertAt), file.end());
  if (reportOut) *reportOut = report;
  return true;
}

bool StampUpdateResource(const Bytes& exe, const Bytes& archive, Bytes& out, std::string& error, StampReport* report) {
  StampedImage image;
  if (!StampUpdateResourceAround(exe, archive.size(), image, error, report)) return false;
  out = std::move(image.head);
  out.insert(out.end(), archive.begin(), archive.end());
  out.insert(out.end(), image.tail.begin(), image.tail.end());
  Put32(out, image.checkSumField, ComputeCheckSum(out, image.checkSumField));
  return true;
}

bool WriteStampedUpdater(const Bytes& exe, const ByteSource& archive, const std::string& output, std::string& error,
                         StampReport* report) {
  StampedImage image;
  if (!StampUpdateResourceAround(exe, archive.Size(), image, error, report)) return false;
  FileOutput out;
  if (!out.Create(output, error)) return false;
  if (!out.Append(image.head.data(), image.head.size()) || !CopyBytes(archive, 0, archive.Size(), out) ||
      !out.Append(image.tail.data(), image.tail.size())) {
    error = out.Error();
    return false;
  }
  // The checksum over what was written, read back a piece at a time.
  CheckSum sum(image.checkSumField);
  Bytes piece(size_t(1) << 20);
  for (uint64_t at = 0; at < out.Size();) {
    const size_t n = size_t(std::min<uint64_t>(piece.size(), out.Size() - at));
    if (!out.ReadBack(at, piece.data(), n)) {
      error = out.Error();
      return false;
    }
    sum.Add(piece.data(), n);
    at += n;
  }
  uint8_t field[4];
  for (int i = 0; i < 4; ++i) field[i] = uint8_t(sum.Finish() >> (8 * i));
  if (!out.Overwrite(image.checkSumField, field, 4)) {
    error = out.Error();
    return false;
  }
  return out.Commit(error);
}

} // namespace fa2
