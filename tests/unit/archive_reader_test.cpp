// The scramble transform, the container reader and its checks on damaged input.
#include <gtest/gtest.h>

#include <cstring>

#include "unit/archive_helpers.h"

using namespace testing_archive;

namespace {

TEST(Scramble, ShortBuffersAndTrailingBytesAreUntouched) {
  for (uint32_t length = 0; length < 4; ++length) {
    uint8_t b[3] = {1, 2, 3};
    ScrambleBuffer(b, length);
    EXPECT_EQ(0, std::memcmp(b, "\1\2\3", 3));
  }
  uint8_t seven[7] = {0, 0, 0, 0, 9, 9, 9};
  ScrambleBuffer(seven, 7);
  EXPECT_FALSE(seven[0] == 0 && seven[1] == 0 && seven[2] == 0 && seven[3] == 0);
  EXPECT_EQ(0, std::memcmp(seven + 4, "\x09\x09\x09", 3));
}

TEST(Scramble, KnownKeysAndRotation) {
  // length 4: key = (4 ^ seed) rotated right by 4 = 0x55D3A9C4, little-endian.
  uint8_t four[4] = {0, 0, 0, 0};
  ScrambleBuffer(four, 4);
  EXPECT_EQ(0, std::memcmp(four, "\xC4\xA9\xD3\x55", 4));
  // One plain directory entry: 280 bytes, key (280 ^ seed) ror 24, then
  // rotated left by 14 (280 has three 1 bits) for the second word.
  std::vector<uint8_t> entry(280, 0);
  ScrambleBuffer(entry.data(), 280);
  EXPECT_EQ(0, std::memcmp(entry.data(), "\x5D\x59\x9D\x3A", 4));
  EXPECT_EQ(0, std::memcmp(entry.data() + 4, "\xA7\x4E\x57\x56", 4));
}

TEST(Scramble, IsItsOwnInverseForEveryLength) {
  for (uint32_t length = 0; length < 300; length += 7) {
    std::vector<uint8_t> data(length);
    for (uint32_t i = 0; i < length; ++i) data[i] = uint8_t(i * 31 + 7);
    std::vector<uint8_t> copy = data;
    ScrambleBuffer(copy.data(), length);
    ScrambleBuffer(copy.data(), length);
    EXPECT_EQ(data, copy) << length;
  }
}

class Reader : public ::testing::Test {
protected:
  void SetUp() override { fake::Reset(); }
  void TearDown() override {
    CloseArchive(image);
    EXPECT_EQ(0, fake::LiveBlockCount());
    EXPECT_TRUE(fake::Boxes().empty()); // the archive code tells, never shows
  }
  // FindMember, keeping the text a failure would show.
  const uint8_t* FindMember(const ArchiveImage& in, const char* name, uint32_t* size) {
    MemberProblem problem = MemberProblem::None;
    const uint8_t* bytes = ::FindMember(in, name, size, &problem);
    char text[kTextCapacity] = "";
    if (!bytes) MemberProblemText(problem, name, text, sizeof text);
    shown = text;
    return bytes;
  }
  ArchiveImage image;
  std::string shown;
};

TEST_F(Reader, EveryDirectoryFormOpensWithTheHeaderCopyFirst) {
  for (int form = 0; form < 4; ++form) {
    fa2::Bytes bytes = Build({Member("A.TXT", "alpha", true, true), Member("B.TXT", "beta")}, form & 1, form & 2);
    ASSERT_TRUE(Mount(bytes, image)) << form;
    EXPECT_EQ(0, std::memcmp(image.directory, bytes.data(), 16));
    EXPECT_EQ(2u, DirectoryEntryCount(image));
    EXPECT_STREQ("B.TXT", image.entries[1].name);
    CloseArchive(image);
  }
}

TEST_F(Reader, MembersArePlacedBySixteenByteRoundedSizes) {
  ASSERT_TRUE(Mount(Build({Member("A", "x"), Member("B", std::string(16, 'y')), Member("C", std::string(17, 'z')),
                           Member("D", "w")}),
                    image));
  EXPECT_EQ(16u, MemberDataOffset(image, 0));
  EXPECT_EQ(32u, MemberDataOffset(image, 1));
  EXPECT_EQ(48u, MemberDataOffset(image, 2));
  EXPECT_EQ(80u, MemberDataOffset(image, 3));
  MemberRef ref;
  ASSERT_TRUE(LocateMember(image, "D", &ref));
  EXPECT_EQ(image.base + 80, ref.stored);
}

TEST_F(Reader, LookupIgnoresCaseAndTakesTheFirstOfEqualNames) {
  ASSERT_TRUE(Mount(Build({Member("UPDATE.INI", "first"), Member("update.ini", "second")}), image));
  uint32_t size = 0;
  const uint8_t* bytes = FindMember(image, "update.ini", &size);
  ASSERT_NE(nullptr, bytes);
  EXPECT_EQ(std::string("first"), std::string(reinterpret_cast<const char*>(bytes), size));
  EXPECT_EQ(image.base + 16, bytes); // a plain member is used in place
}

TEST_F(Reader, CompressedMemberComesBackAsANewDecodedBlock) {
  std::string text(5000, 'q');
  ASSERT_TRUE(Mount(Build({Member("Q.TXT", text, true)}), image));
  uint32_t size = 0;
  const uint8_t* bytes = FindMember(image, "Q.TXT", &size);
  ASSERT_NE(nullptr, bytes);
  EXPECT_EQ(text, std::string(reinterpret_cast<const char*>(bytes), size));
  EXPECT_EQ(2, fake::LiveBlockCount()); // the directory and this block
  FreeBlock(const_cast<uint8_t*>(bytes));
}

TEST_F(Reader, EmptyArchiveOpensAndFindsNothing) {
  ASSERT_TRUE(Mount(Build({}), image));
  EXPECT_EQ(nullptr, FindMember(image, "UPDATE.INI", nullptr));
  EXPECT_EQ("Can't Find File in Resource !!", shown);
}

TEST_F(Reader, AllocationFailuresLeaveNothingBehind) {
  fa2::Bytes bytes = Build({Member("A", std::string(3000, 'a'), true)});
  fake::FailAllocationAfter(0); // the directory block
  EXPECT_FALSE(Mount(bytes, image));
  fake::FailAllocationAfter(1); // the compressed directory's working copy
  EXPECT_FALSE(Mount(bytes, image));
  EXPECT_EQ(0, fake::LiveBlockCount());
  ASSERT_TRUE(Mount(bytes, image));
  fake::FailAllocationAfter(0); // the decoded member
  EXPECT_EQ(nullptr, FindMember(image, "A", nullptr));
  EXPECT_EQ("Can't Allocate Memory !!", shown);
}

TEST_F(Reader, MissingResourceMapsNothing) {
  uint32_t size = 0;
  EXPECT_EQ(nullptr, LoadArchiveResource(nullptr, &size));
}

void PutU32(fa2::Bytes& b, size_t at, uint32_t v) { std::memcpy(b.data() + at, &v, 4); }

TEST_F(Reader, DamagedHeadersAreRefusedAtOpening) {
  fa2::Bytes good = Build({Member("A", "alpha", true, true), Member("B", "beta")});
  fa2::Bytes b = good;
  PutU32(b, 8, uint32_t(b.size() + 1)); // directory beyond the end
  EXPECT_FALSE(Mount(b, image));
  b = good;
  PutU32(b, 8, 3); // directory inside the header
  EXPECT_FALSE(Mount(b, image));
  b = good;
  PutU32(b, 12, 0xFFFFFFF0u); // an absurd entry count
  EXPECT_FALSE(Mount(b, image));
  b = good;
  PutU32(b, 12, 3); // one entry more than the stream decodes to
  EXPECT_FALSE(Mount(b, image));
  b = good;
  b.resize(b.size() - 3); // compressed directory cut short
  EXPECT_FALSE(Mount(b, image));
  b = Build({Member("A", "alpha")}, false, false);
  PutU32(b, 12, 2); // a plain directory of two entries in room for one
  EXPECT_FALSE(Mount(b, image));
  EXPECT_FALSE(Mount(fa2::Bytes(good.begin(), good.begin() + 10), image));
  EXPECT_EQ(0, fake::LiveBlockCount());
}

TEST_F(Reader, DamagedEntriesReadAsMissingMembers) {
  fa2::Bytes b = Build({Member("A", "alpha"), Member("B", "beta")}, false, false);
  const uint32_t directory = uint32_t(b.size()) - 2 * kEntrySize;
  fa2::Bytes damaged = b;
  PutU32(damaged, directory + 276, 1000000); // A's stored size runs past the directory
  ASSERT_TRUE(Mount(damaged, image));
  EXPECT_EQ(nullptr, FindMember(image, "A", nullptr));
  EXPECT_EQ(nullptr, FindMember(image, "B", nullptr)); // B's place follows from A's size
  EXPECT_EQ("Can't Find File in Resource !!", shown);
  CloseArchive(image);

  damaged = b;
  PutU32(damaged, directory + 272, 6); // a plain member claiming more than is stored
  ASSERT_TRUE(Mount(damaged, image));
  EXPECT_EQ(nullptr, FindMember(image, "A", nullptr));
  EXPECT_NE(nullptr, FindMember(image, "B", nullptr));
  CloseArchive(image);

  damaged = b;
  std::memset(damaged.data() + directory, 'A', kNameCapacity); // name without its terminator
  ASSERT_TRUE(Mount(damaged, image));
  EXPECT_EQ(nullptr, FindMember(image, std::string(kNameCapacity, 'A').c_str(), nullptr));
}

TEST_F(Reader, CompressedMemberThatDoesNotDecodeToItsSizeIsNotReturned) {
  fa2::Bytes b = Build({Member("A", std::string(4000, 'a') + "tail", true)}, false, false);
  const uint32_t directory = uint32_t(b.size()) - kEntrySize;
  PutU32(b, directory + 272, 5000); // stated size larger than the stream gives
  ASSERT_TRUE(Mount(b, image));
  EXPECT_EQ(nullptr, FindMember(image, "A", nullptr));
  EXPECT_EQ("Can't Find File in Resource !!", shown);
}

} // namespace
