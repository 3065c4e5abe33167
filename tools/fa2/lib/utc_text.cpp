// Time stamps given on the command line: "YYYY-MM-DD HH:MM:SS" in UTC.
#include <cstdio>

#include "fa2/lib/toolkit.h"

namespace fa2 {

bool ParseUtc(const std::string& text, FileTime* out) {
  int y, mo, d, h, mi, s;
  char tail;
  if (std::sscanf(text.c_str(), "%d-%d-%d%*[ T]%d:%d:%d%c", &y, &mo, &d, &h, &mi, &s, &tail) != 6) return false;
  if (y < 1601 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 59) return false;
  // Days from 1970-01-01 to the civil date (proleptic Gregorian calendar).
  int yy = y - (mo <= 2);
  int era = (yy >= 0 ? yy : yy - 399) / 400;
  int yoe = yy - era * 400;
  int doy = (153 * (mo + (mo > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  int64_t days = int64_t(era) * 146097 + doe - 719468;
  *out = FileTimeFromUnix(days * 86400 + h * 3600 + mi * 60 + s, 0);
  return true;
}

} // namespace fa2
