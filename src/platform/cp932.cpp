// Code page 932's character rules, written once for every system: the seam's
// string operations of the test machine and of the tools are these, and the
// readers that must give the same answer on any system (the profile reader)
// call them directly. The Win32 seam asks the system instead.
//
// A lead byte is 0x81-0x9F or 0xE0-0xFC; it and the byte after it are one
// character unless that byte is the terminator, a character of the code page
// when that byte is a trail byte (0x40-0x7E, 0x80-0xFC). Every other byte is
// a character of its own (ASCII and the half-width katakana 0xA1-0xDF).
#include "platform/platform.h"

int Cp932IsLeadByte(uint8_t byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC); }

int Cp932IsTrailByte(uint8_t byte) { return byte >= 0x40 && byte <= 0xFC && byte != 0x7F; }

const char* Cp932NextCharacter(const char* p) {
  if (*p == 0) return p;
  if (Cp932IsLeadByte(uint8_t(*p)) && p[1] != 0) return p + 2;
  return p + 1;
}

// ASCII letters fold to upper case; the second byte of a double-byte
// character is compared as it is, even when it has a letter's value.
int Cp932CompareNoCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    uint8_t x = uint8_t(*a), y = uint8_t(*b);
    const bool lead = Cp932IsLeadByte(x);
    if (x >= 'a' && x <= 'z') x = uint8_t(x - 32);
    if (y >= 'a' && y <= 'z') y = uint8_t(y - 32);
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) return 0;
    if (lead) {
      ++a, ++b;
      if (*a != *b) return uint8_t(*a) < uint8_t(*b) ? -1 : 1;
      if (*a == 0) return 0;
    }
  }
}
