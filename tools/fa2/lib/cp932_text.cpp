// Shift-JIS texts for the checks' messages and the folder's names: whether a
// text is code page 932 at all, or UTF-8 saved by mistake, and a key that
// ignores the case of ASCII letters. The code page's rules are the
// platform's (Cp932IsLeadByte, Cp932IsTrailByte).
#include "fa2/lib/update_checks.h"
#include "platform/platform.h"

namespace fa2 {

bool IsValidCp932(const std::string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const uint8_t b = uint8_t(text[i]);
    if (b < 0x80 || (b >= 0xA1 && b <= 0xDF)) continue; // ASCII, half-width katakana
    if (!Cp932IsLeadByte(b) || i + 1 >= text.size() || !Cp932IsTrailByte(uint8_t(text[++i]))) return false;
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
    if (Cp932IsLeadByte(uint8_t(out[i])) && i + 1 < out.size())
      ++i;
    else if (out[i] >= 'a' && out[i] <= 'z')
      out[i] = char(out[i] - 32);
  }
  return out;
}

} // namespace fa2
