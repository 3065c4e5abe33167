// Profile access: the quiet flag, the current disc number, the two settings
// files, value and integer reads, and the leading-integer conversion.
#include "settings/settings.h"

#include <cstring>

namespace {

int gQuiet = 0;
int gDisc = 0;
char gInstalledSettingsPath[kPathCapacity] = "";
char gDescriptionPath[kPathCapacity] = "";
const uint8_t* gDescriptionText = nullptr;
uint32_t gDescriptionSize = 0;

const char kSetupSection[] = "SETUP";

int SetPath(char* path, const char* value) {
  if (CopyText(path, kPathCapacity, value ? value : "")) return 1;
  path[0] = 0;
  return 0;
}

// One profile read into a zero-filled buffer (from `text` when given, else
// from `file`); the count stored.
uint32_t ReadValue(const char* file, const char* section, const char* key, char* buffer, uint32_t capacity,
                   const uint8_t* text = nullptr, uint32_t size = 0) {
  if (capacity == 0) return 0;
  std::memset(buffer, 0, capacity);
  uint32_t count = text ? ReadProfileText(section, key, buffer, capacity, text, size)
                        : ReadProfileString(section, key, buffer, capacity, file);
  buffer[capacity - 1] = 0;
  // What counts is the text stored: a value that starts with a NUL byte (a
  // damaged file) is as empty as a missing one.
  if (count == 0 || buffer[0] == 0) {
    buffer[0] = 0;
    count = 0;
  }
  return count;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Skips white space and a sign; *negative tells which sign was met.
const char* SkipToDigits(const char* p, bool* negative) {
  while (IsSpace(*p)) ++p;
  *negative = false;
  if (*p == '+' || *p == '-') *negative = *p++ == '-';
  return p;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

} // namespace

int QuietFlag() { return gQuiet; }
void SetQuietFlag(int quiet) { gQuiet = quiet; }
int CurrentDiscNumber() { return gDisc; }
void SetCurrentDiscNumber(int disc) { gDisc = disc; }

int SetInstalledSettingsPath(const char* path) { return SetPath(gInstalledSettingsPath, path); }
const char* InstalledSettingsPath() { return gInstalledSettingsPath; }
int SetDescriptionPath(const char* path) { return SetPath(gDescriptionPath, path); }
const char* DescriptionPath() { return gDescriptionPath; }
void SetDescriptionText(const uint8_t* text, uint32_t size) {
  gDescriptionText = text;
  gDescriptionSize = size;
}

int ReadSetupValue(const char* key, char* buffer, uint32_t capacity) {
  if (ReadValue(gInstalledSettingsPath, kSetupSection, key, buffer, capacity) != 0) return 1;
  if (gQuiet == 0) {
    char text[kTextCapacity];
    FormatText(text, sizeof text, "SETUP.INI : %s キーが存在しません", key);
    ShowSetupError(text);
  }
  return 0;
}

int ReadDescriptionValue(const char* section, const char* key, char* buffer, uint32_t capacity) {
  if (ReadValue(gDescriptionPath, section, key, buffer, capacity, gDescriptionText, gDescriptionSize) != 0) return 1;
  if (gQuiet == 0) {
    char text[kTextCapacity];
    FormatText(text, sizeof text, "%s : %s キーが存在しません", section, key);
    ShowSetupError(text);
  }
  return 0;
}

int ReadSetupInteger(const char* key, int32_t* value) {
  char text[kPathCapacity];
  if (!ReadSetupValue(key, text, sizeof text)) return 0;
  *value = LeadingInteger(text);
  return 1;
}

int32_t LeadingInteger(const char* text) {
  int64_t value = LeadingInteger64(text);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return int32_t(value);
}

int64_t LeadingInteger64(const char* text) {
  bool negative;
  const char* p = SkipToDigits(text, &negative);
  // Accumulate the magnitude, stopping at the limit of the sign's side
  // (2^63 - 1 for positive values, 2^63 for negative ones).
  const uint64_t limit = negative ? uint64_t(INT64_MAX) + 1 : uint64_t(INT64_MAX);
  uint64_t magnitude = 0;
  for (; IsDigit(*p); ++p) {
    unsigned digit = unsigned(*p - '0');
    if (magnitude > (limit - digit) / 10) {
      magnitude = limit;
      break;
    }
    magnitude = magnitude * 10 + digit;
  }
  if (!negative) return int64_t(magnitude);
  return magnitude == uint64_t(INT64_MAX) + 1 ? INT64_MIN : -int64_t(magnitude);
}

const char* LeadingIntegerEnd(const char* text) {
  bool negative;
  const char* p = SkipToDigits(text, &negative);
  if (!IsDigit(*p)) return text;
  while (IsDigit(*p)) ++p;
  return p;
}

bool IsBlank(char c) { return c == '\t' || c == ' '; }

bool IsTerminator(char c) { return c == 0 || c == '\n' || c == '\r' || c == ','; }
