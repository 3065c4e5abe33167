// The sample game installed on the test machine and the sample update packed
// the way a shipped updater carries it, for the reliability tests: the
// damaged-updater campaign and the faults in the middle of an update.
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/app.h"
#include "fa2/lib/toolkit.h"
#include "fake/fake_platform.h"

namespace reliability {

constexpr FileTime kInstalledTime = {0x00000000, 0x01D00000};
constexpr FileTime kMemberTime = {0x12345678, 0x01DA0000};
inline const char kRegistryKey[] = "Software\\SampleSoft\\SampleGame";
inline const char kInstallFolder[] = "C:\\Game";
inline const char kDataFolder[] = "C:\\Data";
inline const char kInterrupted[] = "アップデートが中断されました";
inline const char kWriteFailed[] = "ファイルの書き込みに失敗しました";
// The write failure naming the file and the reason.
inline std::string WriteFailedAt(const std::string& path, const std::string& reason) {
  return std::string(kWriteFailed) + "\r\n" + path + "\r\n（" + reason + "）";
}

inline std::string SourceRoot() {
  return std::filesystem::path(__FILE__).parent_path().parent_path().parent_path().string();
}

inline std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

struct NamedFile {
  std::string name, content;
};

// The regular files of an example folder, by name (read once).
inline const std::vector<NamedFile>& ExampleFiles(const std::string& folder) {
  static std::map<std::string, std::vector<NamedFile>> cache;
  auto it = cache.find(folder);
  if (it != cache.end()) return it->second;
  std::vector<NamedFile> files;
  for (const auto& entry : std::filesystem::directory_iterator(SourceRoot() + "/examples/" + folder))
    if (entry.is_regular_file()) files.push_back({entry.path().filename().string(), ReadBytes(entry.path())});
  std::sort(files.begin(), files.end(), [](const NamedFile& a, const NamedFile& b) { return a.name < b.name; });
  return cache[folder] = files;
}

struct PackForm {
  bool compressMembers = true, scrambleMembers = true;
  bool compressDirectory = true, scrambleDirectory = true;
};

inline fa2::PackMember MemberOf(const NamedFile& file, const PackForm& form) {
  fa2::PackMember m;
  m.name = file.name;
  m.data.assign(file.content.begin(), file.content.end());
  m.time = kMemberTime;
  m.compress = form.compressMembers;
  m.scramble = form.scrambleMembers;
  return m;
}

// examples/sample-update/*, in name order.
inline fa2::Bytes PackSampleUpdate(const PackForm& form) {
  std::vector<fa2::PackMember> members;
  for (const NamedFile& file : ExampleFiles("sample-update")) members.push_back(MemberOf(file, form));
  fa2::PackOptions options;
  options.compressDirectory = form.compressDirectory;
  options.scrambleDirectory = form.scrambleDirectory;
  return fa2::BuildArchive(members, options);
}

// A fresh machine with the sample game installed at C:\Game (its registry key
// with InstPath, DataPath and InstMode; examples/sample-game/* in the folder)
// and an empty data folder C:\Data.
inline void InstallSampleGame() {
  fake::Reset();
  fake::SetRegistryString(kRegistryKey, "InstPath", kInstallFolder);
  fake::SetRegistryString(kRegistryKey, "DataPath", kDataFolder);
  fake::SetRegistryNumber(kRegistryKey, "InstMode", 1);
  fake::AddDirectory(kInstallFolder);
  fake::AddDirectory(kDataFolder);
  for (const NamedFile& file : ExampleFiles("sample-game"))
    fake::AddFile(std::string(kInstallFolder) + "\\" + file.name, file.content, kInstalledTime);
}

inline std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = char(c - 32);
  return s;
}

inline std::string BaseName(const std::string& path) { return path.substr(path.rfind('\\') + 1); }

// Every regular file of the machine: upper-cased path -> content.
inline std::map<std::string, std::string> Snapshot() {
  std::map<std::string, std::string> files;
  for (const std::string& path : fake::AllFiles()) files[Upper(path)] = fake::Content(path);
  return files;
}

inline bool Below(const std::string& upperPath, const std::string& folder) {
  const std::string prefix = Upper(folder) + "\\";
  return upperPath.compare(0, prefix.size(), prefix) == 0;
}

// What a run may leave: files only in the install and data folders (the
// temporary folder emptied again; files below `sources`, such as a disc, as
// they were), no temporary file of a write, and every file holding its old
// content or, whole, one of the contents its name may take (`replacements`:
// upper-cased base name -> contents). Returns the problems found, empty when
// none.
inline std::vector<std::string> CheckFiles(const std::map<std::string, std::string>& before,
                                           const std::map<std::string, std::vector<std::string>>& replacements,
                                           const std::vector<std::string>& sources = {}) {
  std::vector<std::string> problems;
  for (const auto& [path, content] : Snapshot()) {
    bool source = false;
    for (const std::string& folder : sources) source |= Below(path, folder);
    if (source) {
      auto old = before.find(path);
      if (old == before.end() || old->second != content) problems.push_back("source changed: " + path);
      continue;
    }
    if (!Below(path, kInstallFolder) && !Below(path, kDataFolder)) {
      problems.push_back("file left outside the install and data folders: " + path);
      continue;
    }
    if (path.find("~FA2") != std::string::npos) problems.push_back("temporary file left: " + path);
    auto old = before.find(path);
    if (old != before.end() && old->second == content) continue;
    auto allowed = replacements.find(BaseName(path));
    const bool whole = allowed != replacements.end() &&
                       std::find(allowed->second.begin(), allowed->second.end(), content) != allowed->second.end();
    if (!whole)
      problems.push_back("neither old nor new content (" + std::to_string(content.size()) + " bytes): " + path);
  }
  return problems;
}

// The update's members by upper-cased name, as replacements for CheckFiles.
inline std::map<std::string, std::vector<std::string>> SampleReplacements() {
  std::map<std::string, std::vector<std::string>> out;
  for (const NamedFile& file : ExampleFiles("sample-update")) out[Upper(file.name)].push_back(file.content);
  return out;
}

// A person who presses Next until the wizard is gone (or Next is disabled).
inline void ClickThrough(WindowHandle) {
  for (int i = 0; i < 3 && !fake::DialogEnded(); ++i) fake::Click(kNextButton);
}

inline std::vector<std::string> BoxTexts() {
  std::vector<std::string> texts;
  for (const fake::BoxCall& box : fake::Boxes()) texts.push_back(box.text);
  return texts;
}

} // namespace reliability
