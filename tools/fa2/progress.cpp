// A status line for long work: rewritten in place on a terminal, silent when
// the output goes to a file or a pipe.
#include <cstdio>

#include "fa2/commands.h"

#ifdef _WIN32
#include <io.h>
#define FA2_ISATTY(f) _isatty(_fileno(f))
#else
#include <unistd.h>
#define FA2_ISATTY(f) isatty(fileno(f))
#endif

ProgressLine::ProgressLine(std::FILE* out) : out_(out), terminal_(FA2_ISATTY(out) != 0) {}

ProgressLine::~ProgressLine() { Clear(); }

void ProgressLine::Show(const std::string& text, bool force) {
  if (!terminal_) return;
  const auto now = std::chrono::steady_clock::now();
  if (!force && shown_ && now - last_ < std::chrono::milliseconds(100)) return;
  last_ = now;
  const size_t width = text.size();
  std::fprintf(out_, "\r%s%*s", text.c_str(), int(width_ > width ? width_ - width : 0), "");
  std::fflush(out_);
  width_ = width;
  shown_ = true;
}

void ProgressLine::Clear() {
  if (!terminal_ || !shown_) return;
  std::fprintf(out_, "\r%*s\r", int(width_), "");
  std::fflush(out_);
  shown_ = false;
  width_ = 0;
}
