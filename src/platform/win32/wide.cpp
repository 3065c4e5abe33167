// Conversions between the updater's Shift-JIS bytes and the system's UTF-16.
#include "platform/win32/wide.h"

int NarrowFromWide(const wchar_t* text, char* out, int capacity) {
  BOOL substituted = FALSE;
  const int n = WideCharToMultiByte(kShiftJis, WC_NO_BEST_FIT_CHARS, text, -1, out, capacity, nullptr, &substituted);
  if (n > 0 && !substituted) return 1;
  if (capacity > 0) out[0] = 0;
  if (substituted) SetLastError(kErrorNoMapping);
  return 0;
}
