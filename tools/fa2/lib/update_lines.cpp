// The syntax of update lines ("[mode,]operation,path" or "[mode,]path",
// taken apart by the list reader) and copy lines ("[M,][N:]path", read by
// byte positions), and the Shift-JIS helpers they need. Mirrors the
// updater's readers so that the checks see what the updater will see.
#include "fa2/lib/update_checks.h"

namespace fa2 {

namespace {

constexpr size_t kItemBytes = 259; // an item slot holds 260 bytes with its terminator

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsTerminator(char c) { return c == 0 || c == '\n' || c == '\r' || c == ','; }

bool SameLetter(const std::string& text, char lower) {
  return text.size() == 1 && (text[0] == lower || text[0] == lower - 32);
}

}  // namespace

bool IsCp932LeadByte(uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

bool IsValidCp932(const std::string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const uint8_t b = uint8_t(text[i]);
    if (b < 0x80 || (b >= 0xA1 && b <= 0xDF)) continue; // ASCII, half-width katakana
    if (!IsCp932LeadByte(b) || i + 1 >= text.size()) return false;
    const uint8_t t = uint8_t(text[++i]);
    if (t < 0x40 || t == 0x7F || t > 0xFC) return false;
  }
  return true;
}

bool LooksLikeUtf8(const std::string& text) {
  bool multibyte = false;
  for (size_t i = 0; i < text.size();) {
    const uint8_t b = uint8_t(text[i]);
    size_t n = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : 9;
    if (n == 9 || (n == 1 && b < 0xC2)) return false;
    if (i + n >= text.size()) return false;
    for (size_t k = 1; k <= n; ++k)
      if ((uint8_t(text[i + k]) & 0xC0) != 0x80) return false;
    multibyte |= n > 0;
    i += n + 1;
  }
  return multibyte;
}

std::string UpperCp932(const std::string& text) {
  std::string out = text;
  for (size_t i = 0; i < out.size(); ++i) {
    if (IsCp932LeadByte(uint8_t(out[i])) && i + 1 < out.size())
      ++i;
    else if (out[i] >= 'a' && out[i] <= 'z')
      out[i] = char(out[i] - 32);
  }
  return out;
}

std::string Cp932BaseName(const std::string& path) {
  size_t start = 0;
  for (size_t i = 0; i < path.size(); ++i) {
    if (IsCp932LeadByte(uint8_t(path[i])) && i + 1 < path.size())
      ++i;
    else if (path[i] == '\\')
      start = i + 1;
  }
  return path.substr(start);
}

std::vector<ListItem> TakeItems(const std::string& value, size_t maxItems, bool* more) {
  const char* p = value.c_str(); // NUL-terminated, as the updater's buffer
  std::vector<ListItem> items;
  auto startOfItem = [&]() {
    while (IsBlank(*p)) ++p;
    return !IsTerminator(*p);
  };
  while (items.size() < maxItems && startOfItem()) {
    ListItem item;
    const char* written = p;
    if (p[1] == ':') {
      item.discPrefix = true;
      p += 2;
    }
    bool full = false;
    while (!IsTerminator(*p)) {
      const size_t width = IsCp932LeadByte(uint8_t(*p)) && !IsTerminator(p[1]) ? 2 : 1;
      if (!full && item.text.size() + width <= kItemBytes)
        item.text.append(p, width);
      else
        full = item.cut = true;
      p += width;
    }
    item.written.assign(written, p);
    items.push_back(item);
    if (*p == 0) break;
    ++p;
  }
  if (more) *more = items.size() == maxItems && *p != 0 && startOfItem();
  return items;
}

UpdateLineSyntax ParseUpdateLineSyntax(const std::string& value) {
  UpdateLineSyntax line;
  line.items = TakeItems(value, 3, &line.moreItems);
  line.items.resize(3);
  const std::string& first = line.items[0].text;
  line.hasMode = first.size() == 1 && first[0] >= '0' && first[0] <= '9';
  line.mode = line.hasMode ? first[0] - '0' : 0;
  const size_t next = line.hasMode ? 1 : 0;
  line.operationIndex = next;
  const std::string& op = line.items[next].text;
  line.operation = SameLetter(op, 'u')   ? LineOperation::Update
                   : SameLetter(op, 'd') ? LineOperation::Data
                   : SameLetter(op, 'o') ? LineOperation::Overwrite
                   : SameLetter(op, 'e') ? LineOperation::Check
                                         : LineOperation::Plain;
  line.path = line.operation == LineOperation::Plain ? op : line.items[next + 1].text;
  line.member = Cp932BaseName(line.path);
  return line;
}

CopyLineSyntax ParseCopyLineSyntax(const std::string& value) {
  CopyLineSyntax line;
  std::string rest = value;
  if (rest.size() >= 2 && rest[1] == ',') {
    line.hasMode = true;
    line.modeByte = uint8_t(rest[0]);
    rest = rest.substr(2);
  }
  if (rest.size() >= 2 && rest[1] == ':') {
    line.hasDisc = true;
    line.discByte = uint8_t(rest[0]);
    line.disc = int(line.discByte) - '0';
    rest = rest.substr(2);
  }
  line.path = rest;
  return line;
}

}  // namespace fa2
