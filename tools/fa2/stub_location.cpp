// Where `fa2 build` finds the updater stub when --stub is not given, relative
// to the folder of the fa2 executable itself:
//   1. updater-stub.exe beside it (a release package),
//   2. ../share/fa2/updater-stub.exe (an installed tool),
//   3. ../../win32/bin/updater-stub.exe (a build tree: build/<preset>/bin/fa2
//      next to build/win32/bin/updater-stub.exe).
#include <filesystem>
#include <system_error>

#include "fa2/commands.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

fs::path ExecutableFolder() {
#ifdef _WIN32
  wchar_t buffer[32768];
  const DWORD n = GetModuleFileNameW(nullptr, buffer, DWORD(std::size(buffer)));
  if (n == 0 || n >= std::size(buffer)) return {};
  return fs::path(std::wstring(buffer, n)).parent_path();
#else
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path() : self.parent_path();
#endif
}

std::string Utf8(const fs::path& p) {
  const std::u8string s = p.lexically_normal().u8string();
  return std::string(reinterpret_cast<const char*>(s.data()), s.size());
}

}  // namespace

std::vector<std::string> StubCandidates() {
  const fs::path here = ExecutableFolder();
  if (here.empty()) return {};
  return {Utf8(here / "updater-stub.exe"), Utf8(here / ".." / "share" / "fa2" / "updater-stub.exe"),
          Utf8(here / ".." / ".." / "win32" / "bin" / "updater-stub.exe")};
}

bool FindStub(std::string& path, std::string& error) {
  const std::vector<std::string> candidates = StubCandidates();
  for (const std::string& c : candidates) {
    std::error_code ec;
    if (fs::is_regular_file(fs::u8path(c), ec)) {
      path = c;
      return true;
    }
  }
  error = "no updater stub found (looked for";
  for (const std::string& c : candidates) error += " " + c;
  error += "); pass --stub STUB.exe, or build the win32 preset to get build/win32/bin/updater-stub.exe";
  return false;
}
