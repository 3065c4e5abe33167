// The bounded formatter: every directive against printf's own rendering,
// cuts at the capacity, and unknown directives passed through.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>

#include "platform/platform.h"

namespace {

TEST(FormatText, NumbersMatchPrintf) {
  const int ints[] = {0, 1, -1, 7, 9, 10, -10, 59, 123456, INT_MAX, INT_MIN};
  const unsigned long long wide[] = {0, 1, 4294967295ull, 4294967296ull, ULLONG_MAX};
  char got[64], want[64];
  for (int v : ints) {
    FormatText(got, sizeof got, "[%i|%02i|%u]", v, v, unsigned(v));
    std::snprintf(want, sizeof want, "[%d|%02d|%u]", v, v, unsigned(v));
    EXPECT_STREQ(want, got) << v;
  }
  for (unsigned long long v : wide) {
    FormatText(got, sizeof got, "%llu bytes", v);
    std::snprintf(want, sizeof want, "%llu bytes", v);
    EXPECT_STREQ(want, got);
  }
}

TEST(FormatText, CutsAtCapacityAndKeepsUnknownDirectives) {
  char out[8];
  EXPECT_EQ(7u, FormatText(out, sizeof out, "%s=%llu", "size", 1234567ull));
  EXPECT_STREQ("size=12", out);
  EXPECT_EQ(5u, FormatText(out, sizeof out, "%d%%%x", 1));
  EXPECT_STREQ("%d%%x", out);
}

} // namespace
