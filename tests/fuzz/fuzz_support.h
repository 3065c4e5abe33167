// What the targets that run the updater's logic against the test machine
// share: a check that reports and aborts (so libFuzzer keeps the input), the
// after-run checks on the machine, a matcher for the texts the updater is
// meant to show, and a small archive writer for fixed test archives.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "fake/fake_platform.h"

namespace fuzz_support {

[[noreturn]] inline void Fail(const char* what, const std::string& detail = std::string()) {
  std::fprintf(stderr, "fuzz check failed: %s %s\n", what, detail.c_str());
  std::abort();
}

#define FUZZ_CHECK(condition, detail)                           \
  do {                                                          \
    if (!(condition)) ::fuzz_support::Fail(#condition, detail); \
  } while (0)

inline std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = char(c - 32);
  return s;
}

inline bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// Nothing held after a run: no heap block, no open file handle.
inline void CheckNothingHeld() {
  FUZZ_CHECK(fake::LiveBlockCount() == 0, std::to_string(fake::LiveBlockCount()) + " blocks");
  FUZZ_CHECK(fake::OpenHandleCount() == 0, std::to_string(fake::OpenHandleCount()) + " handles");
}

// Every file lies below one of `roots` (each ending in a backslash, compared
// without letter case), and no temporary file of a write is left anywhere.
inline void CheckFilesBelow(const std::vector<std::string>& roots) {
  for (const std::string& file : fake::AllFiles()) {
    const std::string key = Upper(file);
    bool inside = false;
    for (const std::string& root : roots) inside |= StartsWith(key, Upper(root));
    FUZZ_CHECK(inside, "file outside the allowed folders: " + file);
    FUZZ_CHECK(key.find("~FA2") == std::string::npos, "temporary file left: " + file);
  }
}

// Whether `text` is what `format` produces for some arguments: %s stands for
// any bytes, %i, %u and %llu for a decimal number, %02i for two or more
// digits, %% for itself.
inline bool MatchesFormat(const char* format, const char* text) {
  if (*format == 0) return *text == 0;
  if (format[0] == '%') {
    const char* rest = nullptr;
    bool number = true;
    if (format[1] == 's') {
      rest = format + 2;
      number = false;
    } else if (format[1] == 'i' || format[1] == 'u') {
      rest = format + 2;
    } else if (std::strncmp(format + 1, "llu", 3) == 0) {
      rest = format + 4;
    } else if (std::strncmp(format + 1, "02i", 3) == 0) {
      rest = format + 4;
    } else if (format[1] == '%') {
      return text[0] == '%' && MatchesFormat(format + 2, text + 1);
    }
    if (rest != nullptr && !number) {
      for (const char* t = text;; ++t) {
        if (MatchesFormat(rest, t)) return true;
        if (*t == 0) return false;
      }
    }
    if (rest != nullptr) {
      const char* t = text;
      if (*t == '-') ++t;
      const char* digits = t;
      while (*t >= '0' && *t <= '9') ++t;
      if (t == digits) return false;
      // Any split of the digit run: a number may be followed by a digit.
      for (const char* end = t; end > digits; --end)
        if (MatchesFormat(rest, end)) return true;
      return false;
    }
  }
  return *format == *text && MatchesFormat(format + 1, text + 1);
}

inline bool MatchesAny(const std::vector<const char*>& formats, const std::string& text) {
  for (const char* format : formats)
    if (MatchesFormat(format, text.c_str())) return true;
  return false;
}

// A fixed archive for targets that need one: members stored plain or
// scrambled (no compression, so the encoder is not needed), directory plain.
struct SimpleMember {
  std::string name;
  std::string content;
  bool scramble;
  FileTime time;
};

inline std::vector<uint8_t> BuildSimpleArchive(const std::vector<SimpleMember>& members) {
  std::vector<uint8_t> out(kHeaderSize, 0);
  std::vector<ArchiveEntry> entries;
  for (const SimpleMember& m : members) {
    ArchiveEntry e{};
    std::strncpy(e.name, m.name.c_str(), kNameCapacity - 1);
    e.scrambleMarker = m.scramble ? kScrambled : 0;
    e.timeStamp = m.time;
    e.uncompressedSize = e.storedSize = uint32_t(m.content.size());
    std::vector<uint8_t> stored(m.content.begin(), m.content.end());
    if (m.scramble) ScrambleBuffer(stored.data(), uint32_t(stored.size()));
    out.insert(out.end(), stored.begin(), stored.end());
    out.resize(kHeaderSize + (out.size() - kHeaderSize + 15) / 16 * 16, 0);
    entries.push_back(e);
  }
  ArchiveHeader header{{'F', 'A', '2', 0}, 0, uint32_t(out.size()), uint32_t(entries.size())};
  std::memcpy(out.data(), &header, sizeof header);
  const uint8_t* raw = reinterpret_cast<const uint8_t*>(entries.data());
  out.insert(out.end(), raw, raw + entries.size() * sizeof(ArchiveEntry));
  return out;
}

} // namespace fuzz_support
