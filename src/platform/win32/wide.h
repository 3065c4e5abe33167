// The updater's texts are Shift-JIS bytes; the system is spoken to in UTF-16.
// Every conversion goes through code page 932 explicitly, never through the
// system's own ANSI code page, so that the same bytes name the same files and
// show the same text on a Japanese, English, Chinese or Korean system.
#pragma once

#include "platform/win32/system.h"

constexpr UINT kShiftJis = 932;

// Shift-JIS bytes as UTF-16, held on the stack. A path must convert exactly:
// bytes that are not Shift-JIS, or too many, leave it null (and the last error
// set), so no call ever reaches a different file. A text for the screen
// converts leniently (a stray byte shows as a substitute character).
template <int kCapacity>
class WideOf {
public:
  WideOf(const char* bytes, bool exact) {
    ok_ = bytes && MultiByteToWideChar(kShiftJis, exact ? MB_ERR_INVALID_CHARS : 0, bytes, -1, text_, kCapacity) > 0;
    if (!ok_) text_[0] = 0;
  }
  const wchar_t* get() const { return ok_ ? text_ : nullptr; }
  wchar_t* buffer() { return text_; }
  bool ok() const { return ok_; }

private:
  wchar_t text_[kCapacity];
  bool ok_;
};

// A path (exact) and a text for the screen (lenient).
struct WidePath : WideOf<kPathCapacity + 1> {
  explicit WidePath(const char* bytes) : WideOf(bytes, true) {}
};
struct WideText : WideOf<kTextCapacity> {
  explicit WideText(const char* bytes) : WideOf(bytes, false) {}
};

// UTF-16 from the system as Shift-JIS bytes in `out` (`capacity` bytes,
// terminator included). 0 when a character has no Shift-JIS form (last
// error kErrorNoMapping, the system's own code for it) or the result does not fit (ERROR_INSUFFICIENT_BUFFER):
// a path is never handed on changed.
int NarrowFromWide(const wchar_t* text, char* out, int capacity);
