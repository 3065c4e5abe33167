// The files of an installed earlier version that the update lines would
// replace, found with the updater's own path rules (src/update/update_list.cpp)
// under two made-up Windows folders that stand for the old version's
// folders.
#include <cstring>
#include <memory>

#include "fa2/lib/update_checks.h"
#include "update/update.h"

namespace fa2 {

namespace {

constexpr const char* kOldInstall = "I:\\OLD";
constexpr const char* kOldData = "J:\\OLDDATA";

} // namespace

bool ScanOldVersion(const std::string& install, const std::string& data, OldVersion& out, std::string& error) {
  out = OldVersion{};
  if (!install.empty()) {
    if (!ScanUpdateFolder(install, out.install, error)) return false;
    out.hasInstall = true;
  }
  if (!data.empty()) {
    if (!ScanUpdateFolder(data, out.data, error)) return false;
    out.hasData = true;
  }
  return true;
}

const FolderFile* OldFileOf(const OldVersion& old, const std::string& dataFolder, const MemberWrite& write) {
  UpdateLine line{};
  line.operation = int32_t(write.operation);
  if (!CopyText(line.path, sizeof line.path, write.path.c_str())) return nullptr;
  UpdateEntry entry;
  EntryOfLine(line, &entry);
  const auto description = std::make_unique<UpdateDescription>();
  const auto game = std::make_unique<InstalledGame>();
  CopyText(description->dataFolder, sizeof description->dataFolder, dataFolder.c_str());
  CopyText(game->installPath, sizeof game->installPath, old.hasInstall ? kOldInstall : "");
  CopyText(game->dataPath, sizeof game->dataPath, old.hasData ? kOldData : "");
  const UpdateContext context{nullptr, description.get(), game.get()};
  char folder[kPathBuffer], destination[kPathBuffer], resolved[kPathBuffer];
  if (!::UpdateFolder(entry, context, folder) || !UpdateDestination(folder, entry, destination) ||
      !ResolveWindowsPath(destination, resolved, sizeof resolved))
    return nullptr;
  const bool inData = KindOf(entry.operation).dataFolder;
  const std::string base = inData ? kOldData : kOldInstall;
  const std::string path = resolved;
  if (path.size() <= base.size() + 1 || path.compare(0, base.size() + 1, base + "\\") != 0) return nullptr;
  const UpdateFolder& files = inData ? old.data : old.install;
  const int found = FindFolderFile(files, path.substr(base.size() + 1));
  return found < 0 ? nullptr : &files.files[size_t(found)];
}

} // namespace fa2
