// Double-byte aware string routines of the system code page.
#include "platform/win32/system.h"

const char* NextCharacter(const char* p) { return CharNextA(p); }

int IsLeadByte(uint8_t byte) { return IsDBCSLeadByte(byte) ? 1 : 0; }

int CompareNoCase(const char* a, const char* b) { return lstrcmpiA(a, b); }
