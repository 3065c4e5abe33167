// What the tools see of a profile text and a list value: the reads' own
// lines, names and values (WalkProfileText, ProfileNameIs), where an item
// came from (NextListItemFrom) and where a figure ends (LeadingIntegerEnd).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/settings.h"

namespace {

// "<offset> [name]" or "<offset> name=value" / "<offset> name" per line.
std::vector<std::string> Walk(const std::string& text, uint32_t capacity = 64) {
  std::vector<std::string> lines;
  std::vector<char> buffer(capacity);
  WalkProfileText(
      reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), buffer.data(), capacity,
      [](void* context, const ProfileLine& l) {
        const std::string name(reinterpret_cast<const char*>(l.name), l.nameSize);
        std::string line = std::to_string(l.offset) + " ";
        line += l.section ? "[" + name + "]" : l.equals ? name + "=" + l.value : name;
        static_cast<std::vector<std::string>*>(context)->push_back(line);
        return 1;
      },
      &lines);
  return lines;
}

TEST(ProfileWalk, EveryLineAsTheReadsTakeItApart) {
  const char raw[] =
      "top = 1\r\n"      // 0: before any section
      "  [ Setup ] x\n"  // 9
      "Key = \" v \" \n" // 23
      "; c='q'\r"        // 36: no comments, a key named "; c"
      "Bare\n"           // 44
      "[B\x81\x5D\n"     // 49: no ']' of its own: a key line
      "=e\n"             // 54
      "N\0ul=z\n"        // 57: a NUL ends the name
      "[A]]x]\n";        // 64: up to the last ']'
  const std::string text(raw, sizeof raw - 1);
  EXPECT_EQ((std::vector<std::string>{"0 top=1", "11 [Setup]", "23 Key= v ", "36 ; c=q", "44 Bare", "49 [B\x81\x5D",
                                      "54 =e", "57 N=z", "64 [A]]x]"}),
            Walk(text));
  // Each value is what a read of that line gives, cut by the capacity.
  char read[3];
  EXPECT_EQ(2u, ReadProfileText("Setup", "key", read, sizeof read, reinterpret_cast<const uint8_t*>(text.data()),
                                uint32_t(text.size())));
  EXPECT_EQ("23 Key=" + std::string(read), Walk(text, sizeof read)[2]);
}

TEST(ProfileWalk, NamesMatchAsTheReadsMatchThem) {
  const auto is = [](const std::string& name, const char* wanted) {
    return ProfileNameIs(reinterpret_cast<const uint8_t*>(name.data()), uint32_t(name.size()), wanted);
  };
  EXPECT_EQ(1, is("UpdateFile00", "  updatefile00 "));
  EXPECT_EQ(0, is("\x82\x61", "\x82\x41")); // second bytes 'a'/'A' of two characters
  EXPECT_EQ(0, is("Key", "Ke"));
  EXPECT_EQ(0, is("Ke", "Key"));
}

TEST(ListItemSource, WhereEachItemCameFrom) {
  const std::string value = " 1:a.dat, b ," + std::string(300, 'x') + "\n";
  const char* cursor = value.c_str();
  char item[kItemCapacity];
  ListItemSource source;
  ASSERT_EQ(1, NextListItemFrom(&cursor, item, &source));
  EXPECT_EQ("1:a.dat", std::string(source.written, source.writtenSize));
  EXPECT_EQ(1, source.discPrefix);
  EXPECT_EQ(0, source.cut);
  ASSERT_EQ(1, NextListItemFrom(&cursor, item, &source));
  EXPECT_EQ("b ", std::string(source.written, source.writtenSize));
  EXPECT_EQ(0, source.discPrefix);
  ASSERT_EQ(1, NextListItemFrom(&cursor, item, &source));
  EXPECT_EQ(300u, source.writtenSize);
  EXPECT_EQ(1, source.cut);
  EXPECT_EQ(0, NextListItemFrom(&cursor, item, &source));
  SetCurrentDiscNumber(0);
}

TEST(LeadingIntegerEnd, JustPastTheDigitsTaken) {
  const struct {
    const char* text;
    int taken;
  } cases[] = {{"42MB", 2}, {" -7 ", 3}, {"+0", 2}, {"abc", 0}, {" -", 0}, {"", 0}};
  for (const auto& c : cases) EXPECT_EQ(c.taken, LeadingIntegerEnd(c.text) - c.text) << c.text;
}

} // namespace
