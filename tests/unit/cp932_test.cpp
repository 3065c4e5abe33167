// Code page 932's rules and Windows path resolution, the portable helpers
// the test machine's seam (and the tools') are built on.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"

namespace {

TEST(Cp932, LeadAndTrailBytesAtTheirBoundaries) {
  for (int b = 0; b < 256; ++b) {
    EXPECT_EQ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC), Cp932IsLeadByte(uint8_t(b)) != 0) << b;
    EXPECT_EQ(b >= 0x40 && b <= 0xFC && b != 0x7F, Cp932IsTrailByte(uint8_t(b)) != 0) << b;
  }
}

TEST(Cp932, CharactersAndComparisonWithoutRegardToCase) {
  const char text[] = "a\x95\x5C\xB1\x82"; // a, 表 (second byte '\'), half-width ｱ, a lead byte alone
  const char* p = text;
  for (int width : {1, 2, 1, 1, 0}) {
    const char* next = Cp932NextCharacter(p);
    EXPECT_EQ(width, next - p) << p - text;
    p = next;
  }
  EXPECT_EQ(0, Cp932CompareNoCase("Game.Dat", "GAME.DAT"));
  EXPECT_NE(0, Cp932CompareNoCase("\x82\x61", "\x82\x41")); // second bytes 'a'/'A' of two characters
  EXPECT_LT(Cp932CompareNoCase("a", "b"), 0);
  EXPECT_GT(Cp932CompareNoCase("ab", "A"), 0);
}

TEST(ResolveWindowsPath, AsWindowsResolvesAPath) {
  const struct {
    const char* path;
    const char* resolved;
  } cases[] = {
      {"C:\\Game\\GAME.DAT", "C:\\Game\\GAME.DAT"},
      {"C:/Game//./sub\\..\\GAME.DAT", "C:\\Game\\GAME.DAT"},
      {"C:\\Game\\..\\..\\..\\x", "C:\\x"},        // never above the first component
      {"C:\\Game. .\\a.dat. ", "C:\\Game\\a.dat"}, // trailing dots and blanks
      {"C:\\Game\\...\\x", "C:\\Game\\x"},         // a name of dots alone goes
      {"C:\\\x95\x5C\\x", "C:\\\x95\x5C\\x"},      // 表's second byte separates nothing
      {"C:\\\x95\x5C\\..\\x", "C:\\x"},
      {"\\Game\\x", "\\Game\\x"}, // a rooted path keeps its empty first part
      {".\\x", ".\\x"},
      {"..\\x\\..", "x"},
      {"", ""},
  };
  for (const auto& c : cases) {
    char out[64];
    ASSERT_EQ(1, ResolveWindowsPath(c.path, out, sizeof out)) << c.path;
    EXPECT_STREQ(c.resolved, out) << c.path;
  }
  char small[4] = "xyz";
  EXPECT_EQ(0, ResolveWindowsPath("C:\\Game", small, sizeof small));
  EXPECT_STREQ("", small);
  const char path[] = "C:\\Game\\..\\a\\b"; // room for the path always suffices
  char exact[sizeof path];
  EXPECT_EQ(1, ResolveWindowsPath(path, exact, sizeof exact));
  EXPECT_STREQ("C:\\a\\b", exact);
}

} // namespace
