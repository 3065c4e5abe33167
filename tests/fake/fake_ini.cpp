// The profile (INI) read of the test machine, over a file's text, as the
// system's private-profile string read does it for one section and key:
//
// - lines end in LF, with or without CR before it; blanks (space, tab, CR and
//   the other C white-space bytes, and ^Z) around a line, a section name, a
//   key name and a value are dropped;
// - "[name]" opens a section (the last single-byte ']' closes the name; a
//   line with '[' and no ']' is an ordinary line); lines before the first
//   section belong to no section;
// - section and key names compare without regard to the case of ASCII
//   letters; the names asked for are trimmed the same way;
// - only the first section of the asked name is searched, and the first line
//   of the asked key in it wins; a key line without '=' has no value;
// - lines starting with ';' are comments;
// - one pair of matching single or double quotes enclosing the value is
//   removed; the value is cut to capacity - 1 bytes and terminated;
// - the result is the count stored: 0 for a missing section or key and for
//   an empty value (the default is always "").
//
// The text is Shift-JIS: bytes >= 0x80 are opaque except that a lead byte
// and its trail byte are taken as one character, so a trail byte never
// passes for ']' or for a letter of another case.
#include <algorithm>
#include <cstring>

#include "fake/fake_platform.h"

namespace fake {
namespace {

struct Span {
  const char* p;
  size_t n;
};

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f' || c == 0x1A;
}

bool IsLead(char c) {
  auto b = static_cast<unsigned char>(c);
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

char Upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

Span Trim(const char* p, size_t n) {
  while (n > 0 && IsSpace(*p)) ++p, --n;
  while (n > 0 && IsSpace(p[n - 1])) --n;
  return {p, n};
}

// Equal names: single-byte characters without regard to ASCII case,
// double-byte characters byte for byte.
bool SameName(Span a, Span b) {
  if (a.n != b.n) return false;
  for (size_t i = 0; i < a.n; ++i) {
    if (IsLead(a.p[i]) && i + 1 < a.n) {
      if (a.p[i] != b.p[i] || a.p[i + 1] != b.p[i + 1]) return false;
      ++i;
    } else if (Upper(a.p[i]) != Upper(b.p[i])) {
      return false;
    }
  }
  return true;
}

// The ']' that closes a section header, found by whole characters.
const char* SectionEnd(Span line) {
  const char* close = nullptr;
  for (size_t i = 1; i < line.n; ++i) {
    if (IsLead(line.p[i]) && i + 1 < line.n)
      ++i;
    else if (line.p[i] == ']')
      close = line.p + i;
  }
  return close;
}

uint32_t Store(Span value, char* buffer, uint32_t capacity) {
  if (value.n >= 2 && (value.p[0] == '"' || value.p[0] == '\'') && value.p[value.n - 1] == value.p[0]) {
    ++value.p;
    value.n -= 2;
  }
  size_t n = std::min<size_t>(value.n, capacity - 1);
  std::memcpy(buffer, value.p, n);
  buffer[n] = 0;
  return uint32_t(n);
}

}  // namespace

uint32_t ProfileRead(const std::string& fileText, const char* section, const char* key,
                     char* buffer, uint32_t capacity) {
  if (buffer == nullptr || capacity == 0) return 0;
  buffer[0] = 0;
  if (section == nullptr || key == nullptr) return 0;
  const Span wantSection = Trim(section, std::strlen(section));
  const Span wantKey = Trim(key, std::strlen(key));
  if (wantKey.n == 0) return 0;

  bool inSection = false;
  const char* text = fileText.data();
  size_t pos = 0;
  while (pos < fileText.size()) {
    size_t end = fileText.find('\n', pos);
    if (end == std::string::npos) end = fileText.size();
    const Span line = Trim(text + pos, end - pos);
    pos = end + 1;
    if (line.n == 0) continue;

    if (line.p[0] == '[') {
      if (const char* close = SectionEnd(line)) {
        if (inSection) return 0;  // the first section of that name lacks the key
        inSection = SameName(Trim(line.p + 1, size_t(close - line.p - 1)), wantSection);
        continue;
      }
    }
    if (!inSection || line.p[0] == ';') continue;

    const char* equals = static_cast<const char*>(std::memchr(line.p, '=', line.n));
    if (equals == nullptr) {
      if (SameName(line, wantKey)) return 0;  // the key, without a value
      continue;
    }
    if (!SameName(Trim(line.p, size_t(equals - line.p)), wantKey)) continue;
    const char* valueStart = equals + 1;
    return Store(Trim(valueStart, size_t(line.p + line.n - valueStart)), buffer, capacity);
  }
  return 0;
}

}  // namespace fake
