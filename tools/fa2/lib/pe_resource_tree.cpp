// Reading a PE resource tree into memory and laying it out again.
//
// The tree has three levels of directories: types, names, languages. A
// directory is a 16-byte header (characteristics, time stamp, major and minor
// version, then the counts of named and of numbered entries at +12 and +14)
// followed by its 8-byte entries, named ones first. An entry's first word is
// an id (high bit clear) or, with the high bit set, the offset of its name: a
// 16-bit count and that many UTF-16 code units. Its second word is the offset
// of a subdirectory (high bit set) or of a 16-byte data entry: the data's
// RVA, its size, its code page and a reserved word. Offsets are relative to
// the start of the resource directory; the data entry alone holds an RVA.
//
// Layout written by SerializeResourceTree, from the start of the section:
//   1. every directory, breadth first: the root, the type directories, the
//      name directories; entries sorted as the loader's binary search needs
//      (named entries first by upper-case name, then ids ascending);
//   2. the data entries, one per leaf, in the same order as the leaves;
//   3. the names, each a 16-bit count and its UTF-16 units, padded to 8;
//   4. the data itself, each leaf's bytes starting on a multiple of 8; the
//      archive ("UPDATE" 102) last, so that it can be written apart after
//      the rest (an external leaf: only its size is in the tree).
#include <algorithm>
#include <cctype>
#include <set>

#include "fa2/lib/pe_image.h"

namespace fa2::pe {

namespace {

constexpr uint32_t kHighBit = 0x80000000u;
constexpr int kMaxDepth = 3;
constexpr size_t kMaxEntries = 1 << 20;
constexpr uint32_t kMaxZeroTail = 1 << 20;

char16_t UpperUnit(char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - 32) : c; }

struct TreeReader {
  const Bytes& file;
  const Image& image;
  uint32_t rootRva;
  std::set<uint32_t> seen; // directories already read: a loop is damage
  size_t entries = 0;
  uint64_t leafBytes = 0;
  std::string error;

  bool Read(uint32_t offset, uint32_t size, Bytes& out) {
    if (uint64_t(rootRva) + offset + size > 0xFFFFFFFFu || !ReadAtRva(file, image, rootRva + offset, size, out)) {
      error = "resource table is damaged (an offset points outside the image)";
      return false;
    }
    return true;
  }

  bool Name(uint32_t offset, std::u16string& out) {
    Bytes b;
    if (!Read(offset, 2, b)) return false;
    const uint32_t count = U16(b, 0);
    if (!Read(offset + 2, 2 * count, b)) return false;
    out.clear();
    for (uint32_t i = 0; i < count; ++i) out.push_back(char16_t(U16(b, 2 * i)));
    return true;
  }

  bool Directory(uint32_t offset, int depth, DirectoryHeader& header, std::vector<ResourceNode>& children) {
    if (!seen.insert(offset).second) {
      error = "resource table is damaged (a directory is reached twice)";
      return false;
    }
    Bytes head;
    if (!Read(offset, 16, head)) return false;
    header = {U32(head, 0), U32(head, 4), uint16_t(U16(head, 8)), uint16_t(U16(head, 10))};
    const uint32_t count = U16(head, 12) + U16(head, 14);
    entries += count;
    if (entries > kMaxEntries) {
      error = "resource table is damaged (too many entries)";
      return false;
    }
    Bytes list;
    if (!Read(offset + 16, 8 * count, list)) return false;
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t key = U32(list, 8 * i), target = U32(list, 8 * i + 4);
      ResourceNode node;
      if (key & kHighBit) {
        node.key.named = true;
        if (!Name(key & ~kHighBit, node.key.name)) return false;
      } else {
        node.key.id = uint16_t(key);
      }
      const bool subdirectory = target & kHighBit;
      if (subdirectory != (depth < kMaxDepth)) {
        error = "resource table has an unexpected shape (not type, name, language)";
        return false;
      }
      if (subdirectory) {
        if (!Directory(target & ~kHighBit, depth + 1, node.header, node.children)) return false;
      } else {
        Bytes leaf;
        if (!Read(target, 16, leaf)) return false;
        node.isLeaf = true;
        node.codePage = U32(leaf, 8);
        // Bytes past a section's raw data read as zeros, and leaves may share
        // bytes; but leaves adding up to far more than the file holds are
        // damage, not a reason to allocate gigabytes.
        leafBytes += U32(leaf, 4);
        if (leafBytes > file.size() + kMaxZeroTail) {
          error = "resource table is damaged (its data adds up to more than the file holds)";
          return false;
        }
        if (!ReadAtRva(file, image, U32(leaf, 0), U32(leaf, 4), node.data)) {
          error = "resource data lies outside the image";
          return false;
        }
      }
      children.push_back(std::move(node));
    }
    return true;
  }
};

void SortNodes(std::vector<const ResourceNode*>& nodes) {
  std::stable_sort(nodes.begin(), nodes.end(),
                   [](const ResourceNode* a, const ResourceNode* b) { return ResourceKeyLess(a->key, b->key); });
}

} // namespace

bool ResourceKeyLess(const ResourceKey& a, const ResourceKey& b) {
  if (a.named != b.named) return a.named;
  if (!a.named) return a.id < b.id;
  const size_t n = std::min(a.name.size(), b.name.size());
  for (size_t i = 0; i < n; ++i) {
    const char16_t x = UpperUnit(a.name[i]), y = UpperUnit(b.name[i]);
    if (x != y) return x < y;
  }
  if (a.name.size() != b.name.size()) return a.name.size() < b.name.size();
  return a.name < b.name; // same name in other letter cases: a fixed order
}

bool SameResourceKey(const ResourceKey& a, const ResourceKey& b) {
  if (a.named != b.named) return false;
  if (!a.named) return a.id == b.id;
  if (a.name.size() != b.name.size()) return false;
  for (size_t i = 0; i < a.name.size(); ++i)
    if (UpperUnit(a.name[i]) != UpperUnit(b.name[i])) return false;
  return true;
}

bool ParseResourceTree(const Bytes& file, const Image& image, ResourceTree& out, std::string& error) {
  out = ResourceTree{};
  if (image.directoryCount <= kDirectoryResources) return true;
  const uint32_t rva = U32(file, image.DirectoryField(kDirectoryResources));
  if (rva == 0) return true;
  TreeReader reader{file, image, rva};
  if (!reader.Directory(0, 1, out.header, out.types)) {
    error = reader.error;
    return false;
  }
  return true;
}

Bytes SerializeResourceTree(const ResourceTree& tree, uint32_t sectionRva) {
  // A directory to write: its header and its entries in sorted order.
  // `depth` of its entries: 0 types, 1 names, 2 languages; `archive`: the
  // directory is under type "UPDATE" (and, for languages, name 102).
  struct Dir {
    const DirectoryHeader* header;
    std::vector<const ResourceNode*> entries;
    int depth = 0;
    bool archive = false;
    uint32_t offset = 0;
  };
  ResourceKey update;
  update.named = true;
  update.name = u"UPDATE";
  std::vector<Dir> dirs;
  std::vector<const ResourceNode*> rootEntries;
  for (const ResourceNode& n : tree.types) rootEntries.push_back(&n);
  SortNodes(rootEntries);
  dirs.push_back({&tree.header, rootEntries});
  std::vector<const ResourceNode*> leaves, named;
  std::vector<bool> last; // per leaf: the archive's bytes, laid out after all others
  uint32_t size = 0;
  for (size_t i = 0; i < dirs.size(); ++i) { // breadth first: dirs grows as we go
    dirs[i].offset = size;
    const std::vector<const ResourceNode*> entries = dirs[i].entries; // dirs may reallocate below
    const int depth = dirs[i].depth;
    const bool archive = dirs[i].archive;
    size += 16 + 8 * uint32_t(entries.size());
    for (const ResourceNode* n : entries) {
      if (n->key.named) named.push_back(n);
      if (n->isLeaf) {
        leaves.push_back(n);
        last.push_back(n->external || (archive && depth == 2));
        continue;
      }
      std::vector<const ResourceNode*> children;
      for (const ResourceNode& c : n->children) children.push_back(&c);
      SortNodes(children);
      const bool under = depth == 0 ? SameResourceKey(n->key, update) : archive && !n->key.named && n->key.id == 102;
      dirs.push_back({&n->header, children, depth + 1, under});
    }
  }
  const uint32_t dataEntries = size;
  size += 16 * uint32_t(leaves.size());
  std::vector<uint32_t> nameOffsets;
  for (const ResourceNode* n : named) {
    nameOffsets.push_back(size);
    size += 2 + 2 * uint32_t(n->key.name.size());
  }
  size = uint32_t(AlignUp(size, 8));
  std::vector<uint32_t> dataOffsets(leaves.size());
  for (int archive = 0; archive < 2; ++archive)
    for (size_t i = 0; i < leaves.size(); ++i) {
      if (last[i] != bool(archive)) continue;
      dataOffsets[i] = size;
      if (!leaves[i]->external) size = uint32_t(AlignUp(size + leaves[i]->data.size(), 8));
    }

  Bytes out(size, 0);
  size_t nextDir = 1, nextLeaf = 0, nextName = 0;
  for (const Dir& d : dirs) {
    Put32(out, d.offset, d.header->characteristics);
    Put32(out, d.offset + 4, d.header->timeDateStamp);
    Put16(out, d.offset + 8, d.header->majorVersion);
    Put16(out, d.offset + 10, d.header->minorVersion);
    const auto namedCount = std::count_if(d.entries.begin(), d.entries.end(),
                                          [](const ResourceNode* n) { return n->key.named; });
    Put16(out, d.offset + 12, uint32_t(namedCount));
    Put16(out, d.offset + 14, uint32_t(d.entries.size() - namedCount));
    size_t at = d.offset + 16;
    for (const ResourceNode* n : d.entries) {
      Put32(out, at, n->key.named ? kHighBit | nameOffsets[nextName++] : n->key.id);
      if (n->isLeaf)
        Put32(out, at + 4, dataEntries + 16 * uint32_t(nextLeaf++));
      else
        Put32(out, at + 4, kHighBit | dirs[nextDir++].offset);
      at += 8;
    }
  }
  for (size_t i = 0; i < leaves.size(); ++i) {
    const size_t entry = dataEntries + 16 * i;
    Put32(out, entry, sectionRva + dataOffsets[i]);
    Put32(out, entry + 4, uint32_t(leaves[i]->external ? leaves[i]->externalSize : leaves[i]->data.size()));
    Put32(out, entry + 8, leaves[i]->codePage);
    if (!leaves[i]->external) std::copy(leaves[i]->data.begin(), leaves[i]->data.end(), out.begin() + dataOffsets[i]);
  }
  for (size_t i = 0; i < named.size(); ++i) {
    const std::u16string& name = named[i]->key.name;
    Put16(out, nameOffsets[i], uint32_t(name.size()));
    for (size_t c = 0; c < name.size(); ++c) Put16(out, nameOffsets[i] + 2 + 2 * c, name[c]);
  }
  return out;
}

} // namespace fa2::pe

namespace fa2 {

bool ReadPeResources(const Bytes& image, std::vector<PeResource>& out, std::string& error) {
  pe::Image parsed;
  pe::ResourceTree tree;
  if (!pe::ParseImage(image, parsed, error) || !pe::ParseResourceTree(image, parsed, tree, error)) return false;
  out.clear();
  for (const pe::ResourceNode& type : tree.types)
    for (const pe::ResourceNode& name : type.children)
      for (const pe::ResourceNode& language : name.children)
        out.push_back({type.key, name.key, language.key.id, language.codePage, language.data});
  return true;
}

bool StubHasFeature(const Bytes& image, const std::string& feature) {
  constexpr uint16_t kRcData = 10;
  std::vector<PeResource> resources;
  std::string error;
  if (!ReadPeResources(image, resources, error)) return false;
  const auto upper = [](char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - 32) : c; };
  const auto word = [](uint8_t b) { return std::isalnum(b) || b == '_' || b == '-'; };
  for (const PeResource& r : resources) {
    if (r.type.named || r.type.id != kRcData || !r.name.named) continue;
    const std::u16string wanted = kFeaturesResource;
    if (r.name.name.size() != wanted.size() ||
        !std::equal(wanted.begin(), wanted.end(), r.name.name.begin(),
                    [&](char16_t a, char16_t b) { return upper(a) == upper(b); }))
      continue;
    // The words of the text, one of which must be `feature` whole.
    for (size_t at = 0; at < r.data.size();) {
      while (at < r.data.size() && !word(r.data[at])) ++at;
      size_t end = at;
      while (end < r.data.size() && word(r.data[end])) ++end;
      if (end > at && std::string(r.data.begin() + ptrdiff_t(at), r.data.begin() + ptrdiff_t(end)) == feature)
        return true;
      at = end;
    }
  }
  return false;
}

} // namespace fa2
