// Where fa2 finds the files that come with it (the updater stub, and for
// 'fa2 try' its script and the driver), relative to the folder of the fa2
// executable itself:
//   1. beside it (a release package: fa2, updater-stub.exe, e2e-driver.exe,
//      scripts/, and the x86_64 builds of the two programs in x64/),
//   2. ../share/fa2/ when fa2 lies in a folder named bin (an installed tool),
//   3. in a build tree (build/<preset>/bin/fa2, recognised by
//      build/<preset>/CMakeCache.txt): the Windows programs in
//      build/win32/bin/ (x86_64: build/win64/bin/), the scripts in the
//      source folder's scripts/.
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

} // namespace

std::vector<std::string> SupportCandidates(const std::string& name, SupportKind kind) {
  const fs::path here = ExecutableFolder();
  if (here.empty()) return {};
  const char* folder = kind == SupportKind::Script ? "scripts/" : kind == SupportKind::Program64 ? "x64/" : "";
  const fs::path relative = fs::u8path(folder + name);
  std::vector<std::string> places{Utf8(here / relative)};
  if (here.filename() == "bin") places.push_back(Utf8(here / ".." / "share" / "fa2" / relative));
  std::error_code ec;
  if (fs::is_regular_file(here / ".." / "CMakeCache.txt", ec)) {
    const fs::path build = here / ".." / "..";
    const char* preset = kind == SupportKind::Program64 ? "win64" : "win32";
    places.push_back(Utf8(kind == SupportKind::Script ? build / ".." / relative
                                                      : build / preset / "bin" / fs::u8path(name)));
  }
  return places;
}

bool FindSupportFile(const std::string& name, SupportKind kind, std::string& path, std::string& error) {
  const std::vector<std::string> places = SupportCandidates(name, kind);
  for (const std::string& p : places) {
    std::error_code ec;
    if (fs::is_regular_file(fs::u8path(p), ec)) {
      path = p;
      return true;
    }
  }
  error = "cannot find " + name + " (looked for";
  for (size_t i = 0; i < places.size(); ++i) error += (i ? ", " : " ") + places[i];
  error += ")";
  return false;
}

bool FindStub(std::string& path, std::string& error) {
  if (FindSupportFile("updater-stub.exe", SupportKind::Program, path, error)) return true;
  error = "no updater stub: " + error +
          "; put updater-stub.exe from the release package beside fa2, or pass --stub STUB.exe";
  return false;
}
