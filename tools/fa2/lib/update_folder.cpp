// The files of an update folder, named as the updater names them: code page
// 932 paths with '\' between folders.
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "fa2/lib/toolkit.h"
#include "fa2/lib/update_checks.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace fa2 {

namespace fs = std::filesystem;

namespace {

std::string Utf8Of(const fs::path& p) {
  const std::u8string s = p.u8string();
  return std::string(reinterpret_cast<const char*>(s.data()), s.size());
}

// One path component in code page 932; false when it has no such form.
bool ComponentToCp932(const fs::path& component, std::string& out) {
#ifdef _WIN32
  const std::wstring wide = component.wstring();
  if (wide.empty()) return false;
  BOOL lossy = FALSE;
  int n = WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, wide.data(), int(wide.size()), nullptr, 0, nullptr, &lossy);
  if (n <= 0 || lossy) return false;
  out.assign(size_t(n), '\0');
  WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, wide.data(), int(wide.size()), out.data(), n, nullptr, &lossy);
  return !lossy;
#else
  return LocalToCp932(Utf8Of(component), out) && IsValidCp932(out);
#endif
}

} // namespace

bool ScanUpdateFolder(const std::string& folder, UpdateFolder& out, std::string& error) {
  out = UpdateFolder{};
  const fs::path root = fs::u8path(folder);
  std::error_code ec;
  if (!fs::is_directory(root, ec)) {
    error = folder + " is not a folder";
    return false;
  }
  fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    if (!it->is_regular_file(ec)) continue;
    const fs::path relative = it->path().lexically_relative(root);
    FolderFile file;
    file.localPath = Utf8Of(it->path());
    file.size = it->file_size(ec);
    bool named = true;
    for (const fs::path& component : relative) {
      std::string part;
      if (!ComponentToCp932(component, part)) {
        named = false;
        break;
      }
      file.relative += (file.relative.empty() ? "" : "\\") + part;
    }
    if (named)
      out.files.push_back(file);
    else
      out.unnamable.push_back(Utf8Of(relative));
  }
  if (ec) {
    error = "cannot read the folder " + folder + ": " + ec.message();
    return false;
  }
  std::sort(out.files.begin(), out.files.end(),
            [](const FolderFile& a, const FolderFile& b) { return a.relative < b.relative; });
  return true;
}

int FindFolderFile(const UpdateFolder& folder, const std::string& relative) {
  const std::string wanted = UpperCp932(relative);
  for (size_t i = 0; i < folder.files.size(); ++i)
    if (UpperCp932(folder.files[i].relative) == wanted) return int(i);
  return -1;
}

} // namespace fa2
