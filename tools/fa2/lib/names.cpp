// Member names are code page 932. On Linux file names and arguments are
// UTF-8 and are converted; on Windows the tool's ANSI arguments already are
// in the system code page and pass unchanged.
#include "fa2/lib/toolkit.h"

#ifndef _WIN32
#include <iconv.h>
#endif

namespace fa2 {

namespace {

#ifndef _WIN32
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

}  // namespace

bool LocalToCp932(const std::string& local, std::string& cp932) {
#ifdef _WIN32
  cp932 = local;
  return true;
#else
  return Convert("CP932", "UTF-8", local, cp932);
#endif
}

std::string Cp932ToLocal(const std::string& cp932) {
#ifdef _WIN32
  return cp932;
#else
  std::string out;
  return Convert("UTF-8", "CP932", cp932, out) ? out : cp932;
#endif
}

std::string BaseNameOf(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace fa2
