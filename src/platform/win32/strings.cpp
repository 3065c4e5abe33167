// Double-byte aware string routines, always of code page 932 whatever the
// system's own ANSI code page.
#include "platform/win32/wide.h"

const char* NextCharacter(const char* p) { return CharNextExA(kShiftJis, p, 0); }

int IsLeadByte(uint8_t byte) { return IsDBCSLeadByteEx(kShiftJis, byte) ? 1 : 0; }

// As a Japanese system compares names without regard to case: both names
// in UTF-16, compared by the Japanese locale's rules.
int CompareNoCase(const char* a, const char* b) {
  const WideText wideA(a), wideB(b);
  constexpr LCID kJapanese = 0x0411;
  return CompareStringW(kJapanese, NORM_IGNORECASE, wideA.get(), -1, wideB.get(), -1) == CSTR_EQUAL ? 0 : 1;
}
