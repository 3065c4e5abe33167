// The test machine's profile read must follow the system's rules, or every
// settings test above it proves nothing.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "fake/fake_platform.h"

namespace {

// The value of `key` in `section`, or "<none>" when the read stored nothing.
std::string Get(const std::string& text, const char* section, const char* key,
                uint32_t capacity = 260) {
  char buffer[1100];
  std::memset(buffer, 'X', sizeof buffer);
  uint32_t count = fake::ProfileRead(text, section, key, buffer, capacity);
  EXPECT_EQ(count, std::strlen(buffer));
  EXPECT_LT(count, capacity);
  EXPECT_EQ(buffer[capacity], 'X');  // nothing written beyond the capacity
  return count ? std::string(buffer) : "<none>";
}

TEST(FakeIni, NamesCompareWithoutCase) {
  const std::string ini = "[setup]\r\ngameexe=game.exe\r\n";
  EXPECT_EQ(Get(ini, "SETUP", "GameExe"), "game.exe");
  EXPECT_EQ(Get(ini, "Setup", "GAMEEXE"), "game.exe");
  EXPECT_EQ(Get(ini, "SETUP", "GameEx"), "<none>");
  EXPECT_EQ(Get(ini, "SETU", "GameExe"), "<none>");
}

TEST(FakeIni, BlanksAroundNamesAndValuesAreDropped) {
  const std::string ini = "  [ SETUP ]  \r\n \t Key \t=  two  words \t \r\nNext=1\r\n";
  EXPECT_EQ(Get(ini, "SETUP", "Key"), "two  words");
  EXPECT_EQ(Get(ini, " SETUP ", " Key "), "two  words");
}

TEST(FakeIni, OnePairOfEnclosingQuotesIsRemoved) {
  const std::string ini =
      "[S]\nA=\"quoted\"\nB='single'\nC=\"  padded  \"\nD=\"mixed'\nE=\"\nF=\"\"\n"
      "G=\"a\"b\"\nH=''x''\nI=x\"y\"\n";
  EXPECT_EQ(Get(ini, "S", "A"), "quoted");
  EXPECT_EQ(Get(ini, "S", "B"), "single");
  EXPECT_EQ(Get(ini, "S", "C"), "  padded  ");
  EXPECT_EQ(Get(ini, "S", "D"), "\"mixed'");
  EXPECT_EQ(Get(ini, "S", "E"), "\"");
  EXPECT_EQ(Get(ini, "S", "F"), "<none>");  // empty once unquoted
  EXPECT_EQ(Get(ini, "S", "G"), "a\"b");
  EXPECT_EQ(Get(ini, "S", "H"), "'x'");
  EXPECT_EQ(Get(ini, "S", "I"), "x\"y\"");
}

TEST(FakeIni, ValueIsCutToCapacityLessOne) {
  const std::string ini = "[S]\nK=abcdef\nQ=\"abcdef\"\n";
  EXPECT_EQ(Get(ini, "S", "K", 4), "abc");
  EXPECT_EQ(Get(ini, "S", "Q", 4), "abc");
  EXPECT_EQ(Get(ini, "S", "K", 7), "abcdef");
  EXPECT_EQ(Get(ini, "S", "K", 1), "<none>");
  EXPECT_EQ(Get(std::string("[S]\nK=") + std::string(2000, 'v') + "\n", "S", "K", 1024),
            std::string(1023, 'v'));
}

TEST(FakeIni, MissingAndEmptyReadAsNothing) {
  const std::string ini = "[S]\nEmpty=\nBlank=   \nNoEquals\n";
  EXPECT_EQ(Get(ini, "S", "Empty"), "<none>");
  EXPECT_EQ(Get(ini, "S", "Blank"), "<none>");
  EXPECT_EQ(Get(ini, "S", "NoEquals"), "<none>");
  EXPECT_EQ(Get(ini, "S", "Absent"), "<none>");
  EXPECT_EQ(Get(ini, "T", "Empty"), "<none>");
  EXPECT_EQ(Get("", "S", "K"), "<none>");
  EXPECT_EQ(Get(ini, "S", ""), "<none>");
}

TEST(FakeIni, LineEndsAndLastLineWithoutOne) {
  EXPECT_EQ(Get("[S]\nA=1\nB=2", "S", "B"), "2");
  EXPECT_EQ(Get("[S]\r\nA=1\r\nB=2\r\n", "S", "A"), "1");
  EXPECT_EQ(Get("[S]\r\n\r\n\r\nA=1", "S", "A"), "1");
}

TEST(FakeIni, OnlyTheAskedSectionIsSearched) {
  const std::string ini = "K=before any section\n[A]\nK=a\n[B]\nK=b\nOnlyB=1\n";
  EXPECT_EQ(Get(ini, "A", "K"), "a");
  EXPECT_EQ(Get(ini, "B", "K"), "b");
  EXPECT_EQ(Get(ini, "A", "OnlyB"), "<none>");
  EXPECT_EQ(Get(ini, "", "K"), "<none>");
}

TEST(FakeIni, FirstKeyOfTheFirstMatchingSectionWins) {
  EXPECT_EQ(Get("[S]\nK=first\nk=second\n", "S", "K"), "first");
  EXPECT_EQ(Get("[S]\nK=first\n[S]\nK=second\n", "S", "K"), "first");
  EXPECT_EQ(Get("[S]\nOther=1\n[s]\nK=later\n", "S", "K"), "<none>");
}

TEST(FakeIni, CommentLinesAreSkipped) {
  const std::string ini = "[S]\n;K=commented\n  ; K=also\nK=real\n";
  EXPECT_EQ(Get(ini, "S", "K"), "real");
  EXPECT_EQ(Get(ini, "S", ";K"), "<none>");
}

TEST(FakeIni, EqualsSignsAfterTheFirstBelongToTheValue) {
  EXPECT_EQ(Get("[S]\nK = a=b = c\n", "S", "K"), "a=b = c");
}

TEST(FakeIni, ShiftJisBytesAreOpaque) {
  // 表 is 0x95 0x5C; ア (0x83 0x41) and ャ (0x83 0x61) differ only by what
  // would be letter case in a single byte.
  const std::string ini = "[\x95\x5C]\nK=\x95\x5C\x5C\x83\x41\n\x83\x41=upper\n";
  EXPECT_EQ(Get(ini, "\x95\x5C", "K"), "\x95\x5C\x5C\x83\x41");
  EXPECT_EQ(Get(ini, "\x95\x5C", "\x83\x41"), "upper");
  EXPECT_EQ(Get(ini, "\x95\x5C", "\x83\x61"), "<none>");
  // 0x83 0x5D has the value of ']' as its second byte.
  EXPECT_EQ(Get("[x\x83\x5D]\nK=v\n", "x\x83\x5D", "K"), "v");
}

TEST(FakeIni, SectionLineWithoutClosingBracketIsNoSection) {
  EXPECT_EQ(Get("[S]\nK=1\n[T\nK=2\n", "S", "K"), "1");
  EXPECT_EQ(Get("[S]\n[T\nK=2\n", "S", "K"), "2");  // "[T" is a key line of S
  EXPECT_EQ(Get("[S]\n[T\nK=2\n", "T", "K"), "<none>");
}

}  // namespace
