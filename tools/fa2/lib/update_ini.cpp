// UPDATE.INI's lines for the checks, as the updater's profile reader takes
// them apart: the reader walks the text (WalkProfileText) and matches the
// names (ProfileNameIs); this file only groups the lines by section and
// numbers them for the messages. Values the checks report on come from the
// reader too: each line's value as a read of it gives it, and ReadIniValue
// is the read itself.
#include <algorithm>
#include <cstring>

#include "fa2/lib/update_checks.h"
#include "settings/settings.h"

namespace fa2 {

namespace {

// More than any capacity the updater reads UPDATE.INI with, so a value too
// long for the updater is seen to be.
constexpr uint32_t kValueCapacity = 4096;

struct Collect {
  IniFile* file;
  uint32_t counted = 0; // bytes of the text whose line feeds are counted
  int line = 1;
};

int AddLine(void* context, const ProfileLine& l) {
  Collect& c = *static_cast<Collect*>(context);
  const std::string& text = c.file->text;
  c.line += int(std::count(text.begin() + c.counted, text.begin() + l.offset, '\n'));
  c.counted = l.offset;
  const std::string name(reinterpret_cast<const char*>(l.name), l.nameSize);
  std::vector<IniSection>& sections = c.file->sections;
  if (l.section) {
    sections.push_back({name, c.line, {}});
  } else if (!sections.empty()) {
    sections.back().entries.push_back({name, l.value, l.equals != 0, c.line});
  }
  return 1;
}

} // namespace

bool SameIniName(const std::string& a, const std::string& b) {
  return ProfileNameIs(reinterpret_cast<const uint8_t*>(a.data()), uint32_t(a.size()), b.c_str()) != 0;
}

IniFile ParseIni(const std::string& text) {
  IniFile file;
  file.text = text;
  Collect collect{&file};
  std::vector<char> value(kValueCapacity);
  WalkProfileText(reinterpret_cast<const uint8_t*>(file.text.data()), uint32_t(file.text.size()), value.data(),
                  kValueCapacity, AddLine, &collect);
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

std::string ReadIniValue(const IniFile& file, const std::string& section, const std::string& key, uint32_t capacity) {
  if (capacity == 0) return {};
  std::vector<char> value(capacity);
  ReadProfileText(section.c_str(), key.c_str(), value.data(), capacity,
                  reinterpret_cast<const uint8_t*>(file.text.data()), uint32_t(file.text.size()));
  return value.data();
}

} // namespace fa2
