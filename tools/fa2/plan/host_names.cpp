// File names between code page 932 and the host file system.
#include "fa2/plan/host_names.h"

#include "fa2/lib/toolkit.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace plan::host {

namespace fs = std::filesystem;

#ifdef _WIN32

namespace {

std::wstring Wide(const std::string& text, UINT codePage) {
  if (text.empty()) return {};
  const int n = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), int(text.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(size_t(n), L'\0');
  MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), int(text.size()), out.data(), n);
  return out;
}

} // namespace

bool ComponentFromCp932(const std::string& cp932, fs::path& out) {
  const std::wstring wide = Wide(cp932, 932);
  if (wide.empty() && !cp932.empty()) return false;
  out = fs::path(wide);
  return true;
}

fs::path PathFromArgument(const std::string& argument) { return fs::u8path(argument); }

bool SameNameIgnoringCase(const fs::path& a, const fs::path& b) {
  const std::wstring& x = a.native();
  const std::wstring& y = b.native();
  return CompareStringOrdinal(x.data(), int(x.size()), y.data(), int(y.size()), TRUE) == CSTR_EQUAL;
}

std::string Display(const fs::path& path) {
  const std::wstring& wide = path.native();
  if (wide.empty()) return {};
  const int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string out(size_t(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_ACP, 0, wide.data(), int(wide.size()), out.data(), n, nullptr, nullptr);
  return out;
}

bool RealAttributes(const fs::path& path, uint32_t* attributes) {
  *attributes = GetFileAttributesW(path.c_str());
  return true;
}

#else

namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

} // namespace

bool ComponentFromCp932(const std::string& cp932, fs::path& out) {
  std::string local;
  if (!cp932.empty()) {
    local = fa2::Cp932ToLocal(cp932);
    // Cp932ToLocal hands back what it cannot convert unchanged.
    std::string back;
    if (!fa2::LocalToCp932(local, back) || back != cp932) return false;
  }
  out = fs::u8path(local);
  return true;
}

fs::path PathFromArgument(const std::string& argument) { return fs::u8path(argument); }

bool SameNameIgnoringCase(const fs::path& a, const fs::path& b) {
  const std::string& x = a.native();
  const std::string& y = b.native();
  if (x.size() != y.size()) return false;
  for (size_t i = 0; i < x.size(); ++i)
    if (Upper(x[i]) != Upper(y[i])) return false;
  return true;
}

std::string Display(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

bool RealAttributes(const fs::path&, uint32_t*) { return false; }

#endif

} // namespace plan::host
