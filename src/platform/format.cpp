// The bounded formatter used for every message and status text.
#include "platform/platform.h"

#include <cstring>

namespace {

struct Output {
  char* out;
  size_t capacity;
  size_t length;
  void Put(char c) {
    if (length + 1 < capacity) out[length++] = c;
  }
  void Put(const char* s, size_t n) {
    for (size_t i = 0; i < n; ++i) Put(s[i]);
  }
  void Put(const char* s) { Put(s, std::strlen(s)); }
  // Decimal digits of `value` after a minus sign when `negative`, zero-padded
  // to at least `width` characters in all, as printf's "%0*d" does. Written
  // by hand so that the updater carries no C library formatter.
  void PutNumber(unsigned long long value, bool negative, int width) {
    char digits[24];
    int n = 0;
    do {
      digits[n++] = char('0' + value % 10);
      value /= 10;
    } while (value);
    if (negative) Put('-');
    for (int pad = width - n - (negative ? 1 : 0); pad > 0; --pad) Put('0');
    while (n) Put(digits[--n]);
  }
  void PutSigned(int value, int width) {
    bool negative = value < 0;
    // Through unsigned arithmetic, so that INT_MIN negates without overflow.
    unsigned long long magnitude = negative ? 0ull - (unsigned long long)(long long)value : (unsigned long long)value;
    PutNumber(magnitude, negative, width);
  }
};

// The directives this system uses; `n` is the directive's length.
enum class Directive { None, Percent, String, Int, Int2, Unsigned, Unsigned64 };

Directive Classify(const char* p, size_t* n) {
  struct Known {
    const char* text;
    Directive d;
  };
  static const Known known[] = {{"%%", Directive::Percent},  {"%s", Directive::String},
                                {"%i", Directive::Int},      {"%02i", Directive::Int2},
                                {"%u", Directive::Unsigned}, {"%llu", Directive::Unsigned64}};
  for (const Known& k : known) {
    size_t len = std::strlen(k.text);
    if (std::strncmp(p, k.text, len) == 0) {
      *n = len;
      return k.d;
    }
  }
  *n = 1;
  return Directive::None;
}

} // namespace

size_t FormatTextV(char* out, size_t capacity, const char* format, va_list args) {
  if (capacity == 0) return 0;
  Output o{out, capacity, 0};
  for (const char* p = format; *p;) {
    if (*p != '%') {
      o.Put(*p++);
      continue;
    }
    size_t n;
    switch (Classify(p, &n)) {
      case Directive::None: o.Put(*p); break;
      case Directive::Percent: o.Put('%'); break;
      case Directive::String: {
        const char* s = va_arg(args, const char*);
        o.Put(s ? s : "");
        break;
      }
      case Directive::Int: o.PutSigned(va_arg(args, int), 1); break;
      case Directive::Int2: o.PutSigned(va_arg(args, int), 2); break;
      case Directive::Unsigned: o.PutNumber(va_arg(args, unsigned), false, 1); break;
      case Directive::Unsigned64: o.PutNumber(va_arg(args, unsigned long long), false, 1); break;
    }
    p += n;
  }
  out[o.length] = 0;
  return o.length;
}

size_t FormatText(char* out, size_t capacity, const char* format, ...) {
  va_list args;
  va_start(args, format);
  size_t n = FormatTextV(out, capacity, format, args);
  va_end(args);
  return n;
}

size_t FormatWithoutArguments(char* out, size_t capacity, const char* text) {
  if (capacity == 0) return 0;
  Output o{out, capacity, 0};
  for (const char* p = text; *p; ++p) {
    o.Put(*p);
    if (p[0] == '%' && p[1] == '%') ++p;
  }
  out[o.length] = 0;
  return o.length;
}
