// UPDATE.INI as the updater's profile reads see it, with line numbers for
// the messages of the checks.
//
// The rules are those of the system's private-profile string read: blanks
// (space, tab, CR, VT, FF and ^Z) around lines, names and values are dropped;
// a line "[name]" opens a section, closed by the last single-byte ']'; lines
// before the first section belong to none; in a section, lines that start
// with ';' are comments; a key is found in the first section of its name
// only, and its first line there wins; one pair of matching single or double
// quotes around a value is removed. Text is Shift-JIS: a lead byte and its
// trail byte are one character, so a trail byte is never taken for ']' or
// for a letter.
#include <algorithm>

#include "fa2/lib/update_checks.h"

namespace fa2 {

namespace {

bool IsIniBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f' || c == 0x1A; }

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && IsIniBlank(s[b])) ++b;
  while (e > b && IsIniBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// Index of the ']' closing a section header, or npos.
size_t SectionEnd(const std::string& line) {
  size_t close = std::string::npos;
  for (size_t i = 1; i < line.size(); ++i) {
    if (IsCp932LeadByte(uint8_t(line[i])) && i + 1 < line.size())
      ++i;
    else if (line[i] == ']')
      close = i;
  }
  return close;
}

std::string Unquote(const std::string& v) {
  if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) return v.substr(1, v.size() - 2);
  return v;
}

}  // namespace

bool SameIniName(const std::string& a, const std::string& b) { return UpperCp932(a) == UpperCp932(b); }

IniFile ParseIni(const std::string& text) {
  IniFile file;
  int number = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    const std::string line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    ++number;
    if (line.empty()) continue;
    if (line[0] == '[') {
      const size_t close = SectionEnd(line);
      if (close != std::string::npos) {
        file.sections.push_back({Trim(line.substr(1, close - 1)), number, {}});
        continue;
      }
    }
    if (file.sections.empty() || line[0] == ';') continue;
    IniEntry entry;
    entry.line = number;
    const size_t equals = line.find('=');
    if (equals == std::string::npos) {
      entry.key = line;
    } else {
      entry.key = Trim(line.substr(0, equals));
      entry.value = Unquote(Trim(line.substr(equals + 1)));
      entry.hasEquals = true;
    }
    file.sections.back().entries.push_back(entry);
  }
  return file;
}

const IniSection* FindIniSection(const IniFile& file, const std::string& name) {
  for (const IniSection& s : file.sections)
    if (SameIniName(s.name, name)) return &s;
  return nullptr;
}

const IniEntry* FindIniEntry(const IniFile& file, const std::string& section, const std::string& key) {
  const IniSection* s = FindIniSection(file, section);
  if (!s) return nullptr;
  for (const IniEntry& e : s->entries)
    if (SameIniName(e.key, key)) return &e;
  return nullptr;
}

std::string ReadIniValue(const IniFile& file, const std::string& section, const std::string& key,
                         uint32_t capacity) {
  const IniEntry* e = FindIniEntry(file, section, key);
  if (!e) return {};
  return e->value.substr(0, std::min<size_t>(e->value.size(), capacity - 1));
}

}  // namespace fa2
