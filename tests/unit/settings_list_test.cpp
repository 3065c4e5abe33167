// List syntax and the leading-integer conversion.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "settings/settings.h"

namespace {

struct Item {
  std::string text;
  int disc;
  bool operator==(const Item&) const = default;
};

// Every item of a list value with the disc number after it, until 0.
std::vector<Item> Items(const char* value) {
  std::vector<Item> items;
  const char* cursor = value;
  char item[kItemCapacity];
  while (NextListItem(&cursor, item)) items.push_back({item, CurrentDiscNumber()});
  return items;
}

class ListTest : public ::testing::Test {
protected:
  void SetUp() override { SetCurrentDiscNumber(0); }
};

TEST_F(ListTest, BlanksBeforeAnItemAreDroppedAndBlanksAfterItKept) {
  EXPECT_EQ(Items("a, b ,c"), (std::vector<Item>{{"a", 0}, {"b ", 0}, {"c", 0}}));
  EXPECT_EQ(Items("\t x,\ty"), (std::vector<Item>{{"x", 0}, {"y", 0}}));
}

TEST_F(ListTest, DiscPrefixHoldsUntilTheNextPrefix) {
  EXPECT_EQ(Items("1:x,y,2:z"), (std::vector<Item>{{"x", 1}, {"y", 1}, {"z", 2}}));
}

TEST_F(ListTest, PrefixIsAnyOneByteBeforeAColon) {
  SetCurrentDiscNumber(5);
  EXPECT_EQ(Items("x:abc"), (std::vector<Item>{{"abc", 0}}));
  SetCurrentDiscNumber(5);
  EXPECT_EQ(Items("12:abc"), (std::vector<Item>{{"12:abc", 5}}));
  EXPECT_EQ(Items("a::b"), (std::vector<Item>{{":b", 0}}));
  EXPECT_EQ(Items("3: x"), (std::vector<Item>{{" x", 3}})); // blanks after the colon stay
}

TEST_F(ListTest, BarePrefixGivesOneEmptyItem) {
  EXPECT_EQ(Items("2:"), (std::vector<Item>{{"", 2}}));
  EXPECT_EQ(Items("2:,a"), (std::vector<Item>{{"", 2}, {"a", 2}}));
}

TEST_F(ListTest, AnEmptyItemEndsTheList) {
  EXPECT_TRUE(Items(",a").empty());
  EXPECT_EQ(Items("a,,b"), (std::vector<Item>{{"a", 0}}));
  EXPECT_EQ(Items("a, ,b"), (std::vector<Item>{{"a", 0}}));
  EXPECT_EQ(Items("a,"), (std::vector<Item>{{"a", 0}}));
  EXPECT_TRUE(Items("").empty());
  EXPECT_TRUE(Items("   ").empty());
}

TEST_F(ListTest, LineBreaksActAsCommas) {
  EXPECT_EQ(Items("a\nb\rc"), (std::vector<Item>{{"a", 0}, {"b", 0}, {"c", 0}}));
}

TEST_F(ListTest, CursorStopsOnTheTerminatorAndNeverPassesTheEnd) {
  const char value[] = "ab,  ,c";
  const char* cursor = value;
  char item[kItemCapacity];
  ASSERT_EQ(NextListItem(&cursor, item), 1);
  EXPECT_EQ(cursor, value + 3); // just past the comma
  std::strcpy(item, "untouched");
  EXPECT_EQ(NextListItem(&cursor, item), 0);
  EXPECT_EQ(cursor, value + 5); // on the second comma, past the blanks
  EXPECT_STREQ(item, "untouched");

  const char last[] = "z";
  cursor = last;
  ASSERT_EQ(NextListItem(&cursor, item), 1);
  EXPECT_EQ(cursor, last + 1); // on the NUL
  EXPECT_EQ(NextListItem(&cursor, item), 0);
  EXPECT_EQ(cursor, last + 1);
}

// An over-long item is cut to the slot and the list goes on after it; the
// byte after the 260-byte slot is never written.
TEST_F(ListTest, OverLongItemIsCutToTheSlot) {
  std::string value = "7:" + std::string(400, 'a') + ",b";
  struct {
    char item[kItemCapacity];
    char guard[16];
  } slot;
  std::memset(&slot, 0x7F, sizeof slot);
  const char* cursor = value.c_str();
  ASSERT_EQ(NextListItem(&cursor, slot.item), 1);
  EXPECT_EQ(std::string(slot.item), std::string(kItemCapacity - 1, 'a'));
  for (char g : slot.guard) EXPECT_EQ(g, 0x7F);
  EXPECT_EQ(CurrentDiscNumber(), 7);
  ASSERT_EQ(NextListItem(&cursor, slot.item), 1);
  EXPECT_STREQ(slot.item, "b");
}

TEST_F(ListTest, CutNeverSplitsADoubleByteCharacter) {
  // 258 single bytes and then 表 (0x95 0x5C): the character does not fit in
  // the 259th byte, so the item ends before it.
  std::string value = std::string(258, 'a') + "\x95\x5C" + "tail,b";
  char item[kItemCapacity];
  const char* cursor = value.c_str();
  ASSERT_EQ(NextListItem(&cursor, item), 1);
  EXPECT_EQ(std::string(item), std::string(258, 'a'));
  ASSERT_EQ(NextListItem(&cursor, item), 1);
  EXPECT_STREQ(item, "b");

  std::string fits = std::string(257, 'a') + "\x95\x5C";
  cursor = fits.c_str();
  ASSERT_EQ(NextListItem(&cursor, item), 1);
  EXPECT_EQ(std::string(item), fits);
}

TEST_F(ListTest, TakeListItemsFillsSlotsAndNotesDiscs) {
  char slots[5][kItemCapacity];
  int32_t discs[5] = {};
  std::strcpy(slots[2], "stale");
  EXPECT_EQ(TakeListItems("1:a.dat,b.dat", slots, discs, 5), 2);
  EXPECT_STREQ(slots[0], "a.dat");
  EXPECT_STREQ(slots[1], "b.dat");
  EXPECT_STREQ(slots[2], ""); // the slot that found no item is made empty
  EXPECT_EQ(discs[0], 1);
  EXPECT_EQ(discs[1], 1);

  EXPECT_EQ(TakeListItems("1:a.dat,b.dat,2:c.dat", slots, discs, 5), 3);
  EXPECT_EQ(discs[2], 2);
  EXPECT_EQ(TakeListItems(",a", slots, nullptr, 5), 0);
  EXPECT_STREQ(slots[0], "");
}

TEST_F(ListTest, TakeListItemsStopsAtTheLastSlot) {
  char slots[3][kItemCapacity];
  EXPECT_EQ(TakeListItems("a,b,c,d,e", slots, nullptr, 3), 3);
  EXPECT_STREQ(slots[2], "c");
}

TEST(ShortcutFields, FirstTwoFieldsAreRequired) {
  char f[4][kItemCapacity];
  EXPECT_EQ(TakeShortcutFields("x", f), 0);
  EXPECT_EQ(TakeShortcutFields("x,", f), 0);
  EXPECT_EQ(TakeShortcutFields(",y", f), 0);
  EXPECT_EQ(TakeShortcutFields("x,,y", f), 0);
}

TEST(ShortcutFields, EmptyThirdFieldIsSkippedOver) {
  char f[4][kItemCapacity];
  for (const char* value : {"x,y,,w", "x,y,,,w", "x,y, , \t,w"}) {
    SCOPED_TRACE(value);
    ASSERT_EQ(TakeShortcutFields(value, f), 1);
    EXPECT_STREQ(f[0], "x");
    EXPECT_STREQ(f[1], "y");
    EXPECT_STREQ(f[2], "");
    EXPECT_STREQ(f[3], "w");
  }
}

TEST(ShortcutFields, MissingTrailingFieldsStayEmpty) {
  char f[4][kItemCapacity];
  std::strcpy(f[2], "stale");
  std::strcpy(f[3], "stale");
  ASSERT_EQ(TakeShortcutFields("x,y", f), 1);
  EXPECT_STREQ(f[2], "");
  EXPECT_STREQ(f[3], "");
  ASSERT_EQ(TakeShortcutFields("x,y,z,w,ignored", f), 1);
  EXPECT_STREQ(f[2], "z");
  EXPECT_STREQ(f[3], "w");
  ASSERT_EQ(TakeShortcutFields("x,y,z,,w", f), 1);
  EXPECT_STREQ(f[3], "");
}

TEST(ValueSyntax, BlankAndTerminatorBytes) {
  std::string blanks, terminators;
  for (int c = 0; c < 256; ++c) {
    if (IsBlank(char(c))) blanks += char(c);
    if (IsTerminator(char(c))) terminators += char(c);
  }
  EXPECT_EQ(blanks, std::string("\t "));
  EXPECT_EQ(terminators, std::string("\0\n\r,", 4));
}

TEST(LeadingInteger, TakesTheLeadingDecimalNumber) {
  EXPECT_EQ(LeadingInteger("42abc"), 42);
  EXPECT_EQ(LeadingInteger("abc"), 0);
  EXPECT_EQ(LeadingInteger("-3"), -3);
  EXPECT_EQ(LeadingInteger("  +7 8"), 7);
  EXPECT_EQ(LeadingInteger("\t\r\n 5"), 5);
  EXPECT_EQ(LeadingInteger("-"), 0);
  EXPECT_EQ(LeadingInteger("- 3"), 0);
  EXPECT_EQ(LeadingInteger(""), 0);
  EXPECT_EQ(LeadingInteger("0012"), 12);
}

TEST(LeadingInteger, SaturatesAt32BitLimits) {
  EXPECT_EQ(LeadingInteger("2147483647"), INT32_MAX);
  EXPECT_EQ(LeadingInteger("2147483648"), INT32_MAX);
  EXPECT_EQ(LeadingInteger("99999999999"), INT32_MAX);
  EXPECT_EQ(LeadingInteger("-2147483648"), INT32_MIN);
  EXPECT_EQ(LeadingInteger("-2147483649"), INT32_MIN);
  EXPECT_EQ(LeadingInteger("99999999999999999999999999"), INT32_MAX);
  EXPECT_EQ(LeadingInteger("-99999999999999999999999999"), INT32_MIN);
}

TEST(LeadingInteger, SaturatesAt64BitLimits) {
  EXPECT_EQ(LeadingInteger64("1234567890123"), 1234567890123LL);
  EXPECT_EQ(LeadingInteger64("-1234567890123x"), -1234567890123LL);
  EXPECT_EQ(LeadingInteger64("9223372036854775807"), INT64_MAX);
  EXPECT_EQ(LeadingInteger64("9223372036854775808"), INT64_MAX);
  EXPECT_EQ(LeadingInteger64("-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(LeadingInteger64("-9223372036854775809"), INT64_MIN);
  EXPECT_EQ(LeadingInteger64("9999999999999999999"), INT64_MAX);  // 19 characters
  EXPECT_EQ(LeadingInteger64("18446744073709551617"), INT64_MAX); // wraps if unchecked
  EXPECT_EQ(LeadingInteger64("abc"), 0);
}

TEST(DescriptionMode, NonZeroSelectsInstallMode) {
  UpdateDescription d{};
  SetDescriptionMode(d, 1);
  EXPECT_EQ(d.modeFlag, 1);
  EXPECT_STREQ(d.modeText, "インストール");
  SetDescriptionMode(d, 0);
  EXPECT_EQ(d.modeFlag, 0);
  EXPECT_STREQ(d.modeText, "アップデート");
  SetDescriptionMode(d, -5);
  EXPECT_EQ(d.modeFlag, 1);
  EXPECT_STREQ(d.modeText, "インストール");
}

} // namespace
