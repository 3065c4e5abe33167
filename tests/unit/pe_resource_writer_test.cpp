// Writing the archive into executables as resource "UPDATE" 102: images made
// here section by section (32- and 64-bit, resources last or not, with and
// without an archive, with overlay, signature or full headers), checked with
// the tool's own independent resource reader and against the headers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "fa2/lib/pe_image.h"
#include "fa2/lib/toolkit.h"
#include "unit/pe_test_image.h"

using fa2::Bytes;
namespace pe = fa2::pe;

namespace {

using pe_test::ImageLayout;
using pe_test::kFileAlign;
using pe_test::kSectionAlign;
using pe_test::MakeImage;
using pe_test::Put32;
using pe_test::TestSection;

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A resource tree laid out by hand at `rva`, entries deliberately out of the
// loader's order and data at odd offsets: type 24 (manifest) name 1 language
// 1033; named type "ZZZ" name 7 language 0; type "UPDATE" name 102 language
// 1041 holding `oldArchive` (when not empty); type 5 name 100 language 1041.
Bytes HandMadeTree(uint32_t rva, const Bytes& oldArchive) {
  struct Leaf {
    std::u16string typeName;
    uint16_t type, name, language;
    Bytes data;
  };
  std::vector<Leaf> leaves = {{u"", 24, 1, 1033, Text("<assembly manifest/>")},
                              {u"ZZZ", 0, 7, 0, Text("zz data")},
                              {u"", 5, 100, 1041, Text("dialog template bytes")}};
  if (!oldArchive.empty()) leaves.insert(leaves.begin() + 2, {u"UPDATE", 0, 102, 1041, oldArchive});
  const size_t n = leaves.size();
  // Root (16 + 8n), n type dirs (24 each), n name dirs (24 each), n data
  // entries (16 each), names, data.
  const uint32_t typeDirs = 16 + 8 * uint32_t(n), nameDirs = typeDirs + 24 * uint32_t(n);
  const uint32_t entries = nameDirs + 24 * uint32_t(n);
  uint32_t at = entries + 16 * uint32_t(n);
  Bytes t(at, 0);
  pe::Put16(t, 12, 0);
  pe::Put16(t, 14, uint32_t(n)); // counts are fixed below
  uint32_t named = 0;
  for (size_t i = 0; i < n; ++i) {
    const Leaf& l = leaves[i];
    uint32_t key = l.type;
    if (!l.typeName.empty()) {
      ++named;
      key = 0x80000000u | uint32_t(t.size());
      t.resize(t.size() + 2 + 2 * l.typeName.size());
      pe::Put16(t, key & 0x7FFFFFFF, uint32_t(l.typeName.size()));
      for (size_t c = 0; c < l.typeName.size(); ++c) pe::Put16(t, (key & 0x7FFFFFFF) + 2 + 2 * c, l.typeName[c]);
    }
    Put32(t, 16 + 8 * i, key);
    Put32(t, 16 + 8 * i + 4, 0x80000000u | (typeDirs + 24 * uint32_t(i)));
    pe::Put16(t, typeDirs + 24 * i + 14, 1);
    Put32(t, typeDirs + 24 * i + 16, l.name);
    Put32(t, typeDirs + 24 * i + 20, 0x80000000u | (nameDirs + 24 * uint32_t(i)));
    pe::Put16(t, nameDirs + 24 * i + 14, 1);
    Put32(t, nameDirs + 24 * i + 16, l.language);
    Put32(t, nameDirs + 24 * i + 20, entries + 16 * uint32_t(i));
  }
  pe::Put16(t, 12, named);
  pe::Put16(t, 14, uint32_t(n) - named);
  for (size_t i = 0; i < n; ++i) {
    t.push_back(0xEE); // odd offsets: the writer must not depend on alignment
    Put32(t, entries + 16 * i, rva + uint32_t(t.size()));
    Put32(t, entries + 16 * i + 4, uint32_t(leaves[i].data.size()));
    Put32(t, entries + 16 * i + 8, 932);
    t.insert(t.end(), leaves[i].data.begin(), leaves[i].data.end());
  }
  return t;
}

// Code, data, resources, relocations: the usual linker order, .rsrc not last.
ImageLayout LinkerLayout(bool is64, const Bytes& oldArchive) {
  ImageLayout layout;
  layout.is64 = is64;
  layout.sections = {{".text", 0x1000, Bytes(0x300, 0xC3)},
                     {".data", 0x2000, Bytes(0x80, 0x11), 0x2000},
                     {".rsrc", 0x4000, HandMadeTree(0x4000, oldArchive)},
                     {".reloc", 0x5000, Bytes(0x20, 0x22)}};
  layout.resources = 2;
  return layout;
}

Bytes Archive(size_t size, uint8_t seed) {
  Bytes a(size);
  for (size_t i = 0; i < size; ++i) a[i] = uint8_t(seed + i * 7);
  return a;
}

Bytes FoundArchive(const Bytes& image) {
  size_t offset = 0, size = 0;
  std::string error;
  if (!fa2::FindUpdateResourceInPe(image, &offset, &size, error)) return Text("<" + error + ">");
  return Bytes(image.begin() + ptrdiff_t(offset), image.begin() + ptrdiff_t(offset + size));
}

std::vector<fa2::PeResource> Resources(const Bytes& image) {
  std::vector<fa2::PeResource> out;
  std::string error;
  EXPECT_TRUE(fa2::ReadPeResources(image, out, error)) << error;
  return out;
}

bool IsUpdate(const fa2::PeResource& r) { return r.type.named && r.type.name == u"UPDATE"; }

// Every resource but UPDATE, as it was: same keys, language, code page, bytes.
void ExpectOthersKept(const Bytes& before, const Bytes& after) {
  std::vector<fa2::PeResource> a = Resources(before), b = Resources(after);
  std::erase_if(a, IsUpdate);
  std::erase_if(b, IsUpdate);
  auto key = [](const fa2::PeResource& r) {
    return std::make_tuple(r.type.named, r.type.id, r.type.name, r.name.id, r.language);
  };
  std::sort(a.begin(), a.end(), [&](auto& x, auto& y) { return key(x) < key(y); });
  std::sort(b.begin(), b.end(), [&](auto& x, auto& y) { return key(x) < key(y); });
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(key(a[i]), key(b[i]));
    EXPECT_EQ(a[i].codePage, b[i].codePage);
    EXPECT_EQ(a[i].data, b[i].data);
  }
}

// Headers agree with the sections: raw data aligned and inside the file,
// sections in ascending, non-overlapping address order, SizeOfImage covering
// the last one, the resource directory at the start of a section, the
// checksum right.
void ExpectConsistentHeaders(const Bytes& image) {
  pe::Image parsed;
  std::string error;
  ASSERT_TRUE(pe::ParseImage(image, parsed, error)) << error;
  uint64_t end = parsed.sizeOfHeaders;
  for (const pe::Section& s : parsed.sections) {
    EXPECT_EQ(0u, s.virtualAddress % kSectionAlign) << s.name;
    EXPECT_GE(s.virtualAddress, end) << s.name;
    end = pe::AlignUp(uint64_t(s.virtualAddress) + s.Span(), kSectionAlign);
    EXPECT_EQ(0u, s.rawSize % kFileAlign) << s.name;
    if (s.rawSize) {
      EXPECT_EQ(0u, s.rawOffset % kFileAlign) << s.name;
    }
    EXPECT_GE(s.rawSize == 0 ? UINT32_MAX : s.rawOffset, parsed.sizeOfHeaders) << s.name;
  }
  EXPECT_EQ(end, pe::U32(image, parsed.optional + 56)) << "SizeOfImage";
  const uint32_t rva = pe::U32(image, parsed.DirectoryField(pe::kDirectoryResources));
  EXPECT_TRUE(std::any_of(parsed.sections.begin(), parsed.sections.end(),
                          [&](const pe::Section& s) { return s.virtualAddress == rva; }));
  EXPECT_EQ(pe::ComputeCheckSum(image, parsed.CheckSumField()), pe::U32(image, parsed.CheckSumField()));
}

Bytes Stamp(const Bytes& image, const Bytes& archive, fa2::StampReport* report = nullptr) {
  Bytes out;
  std::string error;
  EXPECT_TRUE(fa2::StampUpdateResource(image, archive, out, error, report)) << error;
  return out;
}

} // namespace

TEST(PeStamp, AddsTheArchiveBesideTheOtherResourcesIn32And64BitImages) {
  for (bool is64 : {false, true}) {
    SCOPED_TRACE(is64 ? "PE32+" : "PE32");
    const Bytes stub = MakeImage(LinkerLayout(is64, {}));
    EXPECT_EQ(Text("<executable carries no resource \"UPDATE\" 102>"), FoundArchive(stub));
    const Bytes archive = Archive(5000, 3);
    fa2::StampReport report;
    const Bytes out = Stamp(stub, archive, &report);
    EXPECT_EQ(archive, FoundArchive(out));
    EXPECT_FALSE(report.replaced);
    EXPECT_TRUE(report.appendedSection);
    EXPECT_EQ(0, report.language);
    ExpectOthersKept(stub, out);
    ExpectConsistentHeaders(out);
    pe::Image parsed;
    std::string error;
    ASSERT_TRUE(pe::ParseImage(out, parsed, error));
    ASSERT_EQ(5u, parsed.sections.size());
    EXPECT_EQ(".oldrsrc", parsed.sections[2].name); // kept where it was, under another name
    EXPECT_EQ(".rsrc", parsed.sections[4].name);
    EXPECT_EQ(0x6000u, parsed.sections[4].virtualAddress);
    // Everything before the new section is the stub's, but for the headers.
    EXPECT_TRUE(std::equal(stub.begin() + 0x400, stub.end(), out.begin() + 0x400));
  }
}

TEST(PeStamp, ReplacesAnArchiveKeepingItsLanguageAndLeavesOneLanguage) {
  const Bytes stub = MakeImage(LinkerLayout(false, Text("old archive")));
  EXPECT_EQ(Text("old archive"), FoundArchive(stub));
  fa2::StampReport report;
  const Bytes out = Stamp(stub, Archive(777, 9), &report);
  EXPECT_TRUE(report.replaced);
  EXPECT_EQ(1041, report.language);
  EXPECT_EQ(Archive(777, 9), FoundArchive(out));
  ExpectOthersKept(stub, out);
  int updates = 0;
  for (const fa2::PeResource& r : Resources(out))
    if (IsUpdate(r)) {
      ++updates;
      EXPECT_EQ(102, r.name.id);
      EXPECT_EQ(1041, r.language);
      EXPECT_EQ(932u, r.codePage);
    }
  EXPECT_EQ(1, updates);
}

TEST(PeStamp, WritesEntriesInTheLoadersOrderAndDataOnMultiplesOfEight) {
  const Bytes out = Stamp(MakeImage(LinkerLayout(true, Text("x"))), Archive(99, 1));
  pe::Image parsed;
  pe::ResourceTree tree;
  std::string error;
  ASSERT_TRUE(pe::ParseImage(out, parsed, error));
  ASSERT_TRUE(pe::ParseResourceTree(out, parsed, tree, error)) << error;
  std::vector<std::string> order;
  for (const pe::ResourceNode& t : tree.types)
    order.push_back(t.key.named ? std::string(t.key.name.begin(), t.key.name.end()) : std::to_string(t.key.id));
  EXPECT_EQ((std::vector<std::string>{"UPDATE", "ZZZ", "5", "24"}), order);
  // The raw tree: 4 named-first root entries, then 4 type and 4 name
  // directories of one entry each (240 bytes), then the 4 data entries.
  const uint32_t rva = pe::U32(out, parsed.DirectoryField(pe::kDirectoryResources));
  const uint32_t size = pe::U32(out, parsed.DirectoryField(pe::kDirectoryResources) + 4);
  Bytes raw;
  ASSERT_TRUE(pe::ReadAtRva(out, parsed, rva, size, raw));
  EXPECT_EQ(2u, pe::U16(raw, 12)); // named
  EXPECT_EQ(2u, pe::U16(raw, 14)); // numbered
  for (size_t leaf = 0; leaf < 4; ++leaf) EXPECT_EQ(0u, pe::U32(raw, 240 + 16 * leaf) % 8) << leaf;
  EXPECT_EQ(0u, size % 8);
  EXPECT_EQ(raw, pe::SerializeResourceTree(tree, rva)); // read and laid out again: the same bytes
}

TEST(PeStamp, RewritesALastResourceSectionInPlaceAndMovesTheOverlay) {
  ImageLayout layout = LinkerLayout(false, Text("old"));
  layout.sections.pop_back(); // no .reloc: .rsrc is last
  layout.overlay = Text("appended game data");
  const Bytes stub = MakeImage(layout);
  fa2::StampReport report;
  const Bytes out = Stamp(stub, Archive(3000, 5), &report);
  EXPECT_FALSE(report.appendedSection);
  EXPECT_EQ(Archive(3000, 5), FoundArchive(out));
  ExpectOthersKept(stub, out);
  ExpectConsistentHeaders(out);
  pe::Image parsed;
  std::string error;
  ASSERT_TRUE(pe::ParseImage(out, parsed, error));
  EXPECT_EQ(3u, parsed.sections.size());
  EXPECT_EQ(0x4000u, parsed.sections[2].virtualAddress);
  EXPECT_GT(parsed.sections[2].rawSize, 3000u);
  const Bytes tail(out.end() - ptrdiff_t(layout.overlay.size()), out.end());
  EXPECT_EQ(layout.overlay, tail);
  EXPECT_EQ(parsed.RawEnd() + layout.overlay.size(), out.size());
  // SizeOfInitializedData grew by the raw bytes added.
  const int64_t grown = int64_t(pe::U32(out, parsed.optional + 8)) - int64_t(pe::U32(stub, parsed.optional + 8));
  EXPECT_EQ(int64_t(parsed.sections[2].rawSize) - int64_t(0x200), grown);

  // A smaller archive shrinks the section again; the overlay follows.
  const Bytes smaller = Stamp(out, Text("tiny"));
  EXPECT_EQ(Text("tiny"), FoundArchive(smaller));
  EXPECT_LT(smaller.size(), out.size());
  EXPECT_TRUE(std::equal(layout.overlay.rbegin(), layout.overlay.rend(), smaller.rbegin()));
  ExpectConsistentHeaders(smaller);
}

TEST(PeStamp, SameInputGivesTheSameBytesAndRestampingIsStable) {
  const Bytes stub = MakeImage(LinkerLayout(true, {}));
  const Bytes once = Stamp(stub, Archive(4096, 2));
  EXPECT_EQ(once, Stamp(stub, Archive(4096, 2)));
  const Bytes twice = Stamp(once, Archive(4096, 2));
  EXPECT_EQ(once, twice); // the second stamp rewrites its own last section
}

TEST(PeStamp, MovesTheSymbolTablePointerWithTheBytesBehindTheSections) {
  ImageLayout layout = LinkerLayout(false, {});
  layout.overlay = Text("SYMBOLS.........");
  Bytes stub = MakeImage(layout);
  const uint32_t symbols = uint32_t(stub.size() - layout.overlay.size());
  Put32(stub, 0x44 + 8, symbols);
  const Bytes out = Stamp(stub, Archive(2000, 4));
  pe::Image parsed;
  std::string error;
  ASSERT_TRUE(pe::ParseImage(out, parsed, error));
  const uint32_t moved = pe::U32(out, parsed.fileHeader + 8);
  EXPECT_GT(moved, symbols);
  EXPECT_EQ(0, std::memcmp(&out[moved], "SYMBOLS", 7));
}

// A signing tool pads the file with zeros to 8 bytes, appends the certificate
// table and points directory 4 at it. Stamping the signed stub gives exactly
// what the unsigned one gives, with the resources rewritten in place (the
// .rsrc section last) or in a new section, with or without appended data.
TEST(PeStamp, DropsASignatureThatCouldNoLongerMatch) {
  for (bool inPlace : {false, true}) {
    for (const Bytes& overlay : {Bytes{}, Text("ABC")}) {
      SCOPED_TRACE(std::string(inPlace ? "in place" : "new section") + ", overlay of " +
                   std::to_string(overlay.size()));
      ImageLayout layout = LinkerLayout(false, Text("old"));
      if (inPlace) layout.sections.pop_back();
      layout.overlay = overlay;
      const Bytes plain = MakeImage(layout);
      Bytes signedStub = plain;
      signedStub.resize(size_t(pe::AlignUp(signedStub.size(), 8)), 0);
      pe::Image parsed;
      std::string error;
      ASSERT_TRUE(pe::ParseImage(signedStub, parsed, error)) << error;
      Put32(signedStub, parsed.DirectoryField(pe::kDirectoryCertificates), uint32_t(signedStub.size()));
      Put32(signedStub, parsed.DirectoryField(pe::kDirectoryCertificates) + 4, 64);
      signedStub.insert(signedStub.end(), 64, 0x5A);
      fa2::StampReport report;
      EXPECT_EQ(Stamp(plain, Archive(100, 1)), Stamp(signedStub, Archive(100, 1), &report));
      EXPECT_TRUE(report.droppedSignature);
    }
  }
}

TEST(PeStamp, GrowsFullHeadersToMakeRoomForTheNewSection) {
  ImageLayout layout = LinkerLayout(true, {});
  // 0x40 + 4 + 20 + 240 + 4 * 40 = 0x1E8: one more header needs 0x210 > 0x200.
  layout.headers = 0x200;
  const Bytes stub = MakeImage(layout);
  const Bytes out = Stamp(stub, Archive(300, 8));
  EXPECT_EQ(Archive(300, 8), FoundArchive(out));
  ExpectOthersKept(stub, out);
  ExpectConsistentHeaders(out);
  pe::Image parsed;
  std::string error;
  ASSERT_TRUE(pe::ParseImage(out, parsed, error));
  EXPECT_EQ(0x400u, parsed.sizeOfHeaders);
  EXPECT_EQ(0x400u, parsed.sections[0].rawOffset);
  EXPECT_TRUE(std::equal(stub.begin() + 0x200, stub.begin() + 0x500, out.begin() + 0x400)); // .text moved intact
}

TEST(PeStamp, AddsAResourceTableToAnImageWithoutOne) {
  ImageLayout layout;
  layout.sections = {{".text", 0x1000, Bytes(0x10, 0xC3)}};
  const Bytes out = Stamp(MakeImage(layout), Archive(50, 6));
  EXPECT_EQ(Archive(50, 6), FoundArchive(out));
  ASSERT_EQ(1u, Resources(out).size());
  ExpectConsistentHeaders(out);
}

TEST(PeStamp, RefusesWhatItCannotEditSafely) {
  Bytes out;
  std::string error;
  EXPECT_FALSE(fa2::StampUpdateResource(Text("MZ but nothing else, not a PE image at all....................."),
                                        Archive(10, 1), out, error));
  EXPECT_NE(std::string::npos, error.find("not a Windows executable"));

  // A directory entry that points back at the root: a loop.
  ImageLayout layout = LinkerLayout(false, {});
  Bytes& tree = layout.sections[2].raw;
  Put32(tree, 16 + 4, 0x80000000u); // the first type's subdirectory is the root itself
  EXPECT_FALSE(fa2::StampUpdateResource(MakeImage(layout), Archive(10, 1), out, error));
  EXPECT_NE(std::string::npos, error.find("resource table")) << error;

  // Sections that overlap in memory, or raw data inside the headers.
  ImageLayout overlapping = LinkerLayout(false, {});
  overlapping.sections[1].virtualSize = 0x2800; // .data runs into .rsrc
  EXPECT_FALSE(fa2::StampUpdateResource(MakeImage(overlapping), Archive(10, 1), out, error));
  EXPECT_NE(std::string::npos, error.find("overlaps the one before it")) << error;
  Bytes intoHeaders = MakeImage(LinkerLayout(false, {}));
  Put32(intoHeaders, 0x40 + 4 + 20 + 224 + 20, 0x100); // .text's raw data at 0x100
  EXPECT_FALSE(fa2::StampUpdateResource(intoHeaders, Archive(10, 1), out, error));
  EXPECT_NE(std::string::npos, error.find("overlaps the headers")) << error;

  // Headers without room that cannot grow: the first section starts right after them.
  ImageLayout tight = LinkerLayout(true, {});
  tight.headers = 0x200;
  for (TestSection& s : tight.sections) s.virtualAddress -= 0xE00; // first section at 0x200
  tight.sections[2].raw = HandMadeTree(tight.sections[2].virtualAddress, {});
  EXPECT_FALSE(fa2::StampUpdateResource(MakeImage(tight), Archive(10, 1), out, error));
  EXPECT_NE(std::string::npos, error.find("no room")) << error;
}

TEST(PeCheckSum, SumsWordsWithEndAroundCarryAndAddsTheLength) {
  Bytes b = {0x01, 0x00, 0x02, 0x00, 0xAA, 0xBB, 0xCC, 0xDD, 0x05};
  // Field at 4 skipped: 1 + 2 + 5 = 8, plus 9 bytes.
  EXPECT_EQ(17u, pe::ComputeCheckSum(b, 4));
  Bytes carry = {0xFF, 0xFF, 0x03, 0x00};
  // 0xFFFF + 3 = 0x10002 -> 0x0003, plus 4 bytes.
  EXPECT_EQ(7u, pe::ComputeCheckSum(carry, 100));
}
