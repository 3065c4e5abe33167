// Member names are code page 932. The tool holds file names and arguments
// as UTF-8 (on Windows it takes them from the system's UTF-16) and converts.
#include "fa2/lib/toolkit.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

namespace fa2 {

namespace {

#ifdef _WIN32
// Through UTF-16; a character the target has no code for fails the whole.
bool Convert(UINT to, UINT from, const std::string& in, std::string& out) {
  if (in.empty()) return out.clear(), true;
  const int n = MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, in.data(), int(in.size()), nullptr, 0);
  if (n <= 0) return false;
  std::wstring wide(size_t(n), L'\0');
  MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, in.data(), int(in.size()), wide.data(), n);
  BOOL lossy = FALSE;
  const bool utf8 = to == CP_UTF8;
  const int m = WideCharToMultiByte(to, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, wide.data(), n, nullptr, 0, nullptr,
                                    utf8 ? nullptr : &lossy);
  if (m <= 0 || lossy) return false;
  out.assign(size_t(m), '\0');
  WideCharToMultiByte(to, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, wide.data(), n, out.data(), m, nullptr,
                      utf8 ? nullptr : &lossy);
  return !lossy;
}
#else
bool Convert(const char* to, const char* from, const std::string& in, std::string& out) {
  iconv_t cd = iconv_open(to, from);
  if (cd == iconv_t(-1)) return false;
  std::string result(in.size() * 4 + 4, '\0');
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  char* dst = result.data();
  size_t dstLeft = result.size();
  size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
  iconv_close(cd);
  if (rc == size_t(-1)) return false;
  result.resize(result.size() - dstLeft);
  out = result;
  return true;
}
#endif

} // namespace

bool LocalToCp932(const std::string& local, std::string& cp932) {
#ifdef _WIN32
  return Convert(932, CP_UTF8, local, cp932);
#else
  return Convert("CP932", "UTF-8", local, cp932);
#endif
}

std::string Cp932ToLocal(const std::string& cp932) {
#ifdef _WIN32
  std::string out;
  return Convert(CP_UTF8, 932, cp932, out) ? out : cp932;
#else
  std::string out;
  return Convert("UTF-8", "CP932", cp932, out) ? out : cp932;
#endif
}

std::string BaseNameOf(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace fa2
