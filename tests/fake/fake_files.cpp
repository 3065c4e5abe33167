// The test machine's file system and drives.
#include <algorithm>
#include <map>
#include <memory>
#include <cstring>

#include "fake/fake_state.h"
#include "settings/settings.h"

namespace fake {

namespace {

bool Lead(uint8_t b) { return Cp932IsLeadByte(b); }

// Index just past the last single-byte backslash, by whole characters; npos if none.
size_t LastSeparator(const std::string& path) {
  size_t last = std::string::npos;
  for (size_t i = 0; i < path.size(); ++i) {
    if (Lead(uint8_t(path[i]))) {
      ++i;
    } else if (path[i] == '\\') {
      last = i;
    }
  }
  return last;
}

Node* Create(const std::string& path) {
  Node& node = M().files[Key(path)];
  node = Node{};
  node.path = Through(path);
  FileTime now{uint32_t(M().clock), uint32_t(M().clock >> 32)};
  M().clock += 10000000;
  node.times = {now, now, now};
  return &node;
}

Drive& DriveOf(char letter) { return M().drives[char(std::toupper(uint8_t(letter)))]; }

} // namespace

// The path as Windows resolves it before opening anything (the platform's
// ResolveWindowsPath).
std::string Resolve(const std::string& path) {
  std::string out(path.size() + 1, '\0');
  ResolveWindowsPath(path.c_str(), out.data(), out.size());
  out.resize(std::strlen(out.c_str()));
  return out;
}

namespace {

std::string Upper(std::string key) {
  for (size_t i = 0; i < key.size(); ++i) {
    if (Lead(uint8_t(key[i]))) {
      ++i;
    } else if (key[i] >= 'a' && key[i] <= 'z') {
      key[i] = char(key[i] - 32);
    }
  }
  return key;
}

} // namespace

// The path with the links inside it followed (a few hops at most); the
// last component is the entry itself, link or not. Letter case is kept.
std::string Through(const std::string& path) {
  std::string rest = Resolve(path), prefix;
  for (int hops = 0; hops < 8;) {
    const size_t sep = [&] {
      for (size_t i = 0; i < rest.size(); ++i) {
        if (Lead(uint8_t(rest[i])))
          ++i;
        else if (rest[i] == '\\')
          return i;
      }
      return std::string::npos;
    }();
    if (sep == std::string::npos) break;
    const std::string next = prefix + (prefix.empty() ? "" : "\\") + rest.substr(0, sep);
    rest = rest.substr(sep + 1);
    auto it = M().files.find(Upper(next));
    if (it != M().files.end() && !it->second.link.empty()) {
      prefix = it->second.link;
      ++hops;
    } else {
      prefix = next;
    }
  }
  return prefix + (prefix.empty() ? "" : "\\") + rest;
}

std::string Key(const std::string& path) { return Upper(Through(path)); }

std::string Parent(const std::string& path) {
  size_t sep = LastSeparator(path);
  return sep == std::string::npos ? std::string() : path.substr(0, sep);
}

std::string BaseName(const std::string& path) {
  size_t sep = LastSeparator(path);
  return sep == std::string::npos ? path : path.substr(sep + 1);
}

Node* Find(const std::string& path) {
  auto it = M().files.find(Key(path));
  return it == M().files.end() ? nullptr : &it->second;
}

void AddDirectory(const std::string& path) {
  std::string parent = Parent(path);
  if (!parent.empty() && !Find(parent)) AddDirectory(parent);
  if (Node* existing = Find(path); existing && existing->directory) return;
  Node* node = Create(path);
  node->directory = true;
  node->attributes = kAttrDirectory;
}

void AddFile(const std::string& path, const std::string& content, FileTime time, uint32_t attributes) {
  std::string parent = Parent(path);
  if (!parent.empty() && !Find(parent)) AddDirectory(parent);
  Node* node = Create(path);
  node->content = content;
  node->attributes = attributes;
  if (time.low || time.high) node->times = {time, time, time};
}

void AddLink(const std::string& path, const std::string& target, bool folder) {
  Node* node = Create(path);
  node->link = Resolve(target);
  node->directory = folder;
  node->attributes = kAttrReparsePoint | (folder ? kAttrDirectory : 0);
}
void SetLinkCount(const std::string& path, uint32_t names) {
  if (Node* n = Find(path)) n->linkCount = names;
}

bool Exists(const std::string& path) { return Find(path) != nullptr; }
bool IsDirectory(const std::string& path) {
  Node* n = Find(path);
  return n && n->directory;
}
std::string Content(const std::string& path) {
  Node* n = Find(path);
  return n ? n->content : std::string();
}
uint32_t Attributes(const std::string& path) {
  Node* n = Find(path);
  return n ? n->attributes : kAttrMissing;
}
Times FileTimes(const std::string& path) {
  Node* n = Find(path);
  return n ? n->times : Times{};
}
void SetFileTimes(const std::string& path, FileTime time) {
  if (Node* n = Find(path)) n->times = {time, time, time};
}

std::vector<std::string> AllFiles() {
  std::vector<std::string> out;
  for (auto& [key, node] : M().files)
    if (!node.directory) out.push_back(node.path);
  std::sort(out.begin(), out.end());
  return out;
}

int OpenHandleCount() { return int(M().handles.size()); }

void SetFreeSpace(char drive, uint64_t bytes) {
  DriveOf(drive).free = bytes;
  DriveOf(drive).freeUnknown = false;
}
void SetFreeSpaceUnknown(char drive) { DriveOf(drive).freeUnknown = true; }
void SetDriveType(char drive, uint32_t type) {
  DriveOf(drive).type = type;
  if (type != 1) AddDirectory(std::string(1, char(std::toupper(uint8_t(drive)))) + ":");
}
void SetWriteBudget(int64_t bytes) { M().writeBudget = bytes; }
void FailCreateAt(const std::string& path) { M().failCreateKey = path.empty() ? "" : Key(path); }
void ShortReadAt(const std::string& path) { M().shortReadKey = path.empty() ? "" : Key(path); }
void FailReadAfter(const std::string& path, size_t bytes) {
  M().failReadKey = path.empty() ? "" : Key(path);
  M().failReadAfter = bytes;
}
void FailReplace(bool fail) { M().failReplace = fail; }

void FailReplaceAfter(int count) { M().replacesBeforeFailure = count; }
void OnChange(std::function<void()> hook) { M().onChange = std::move(hook); }
SavedFiles SaveFiles() { return {std::make_shared<const std::map<std::string, Node>>(M().files)}; }
void RestoreFiles(const SavedFiles& saved) {
  M().files = *static_cast<const std::map<std::string, Node>*>(saved.state.get());
}
void FailStampTimes(bool fail) { M().failStamp = fail; }

} // namespace fake

using namespace fake;

namespace {

OpenFile* Handle(FileHandle file) {
  auto it = M().handles.find(file);
  return it == M().handles.end() ? nullptr : &it->second;
}

FileHandle NewHandle(const std::string& key, bool write) {
  FileHandle h = M().nextHandle++;
  M().handles[h] = OpenFile{key, write, 0};
  return h;
}

} // namespace

// Opening a link opens its target.
const char* Followed(const char* path) {
  Node* node = Find(path);
  return node && !node->link.empty() ? node->link.c_str() : path;
}

FileHandle OpenFileForRead(const char* path) {
  path = Followed(path);
  Node* node = Find(path);
  if (!node || node->directory) return kInvalidFile;
  return NewHandle(Key(path), false);
}

FileHandle CreateNewFile(const char* path) {
  if (Find(path)) return M().lastError = 80, kInvalidFile; // the file exists
  return CreateFileForWrite(path);
}

FileHandle CreateTemporaryFile(const char* path) {
  const FileHandle file = CreateNewFile(path);
  if (file != kInvalidFile) M().handles[file].deleteOnClose = true;
  return file;
}

int FileReachedAs(FileHandle file, const char* path) {
  OpenFile* f = Handle(file);
  Node* node = Find(path);
  return f && node && node->link.empty() && f->key == Key(path);
}

uint32_t FileLinkCount(FileHandle file) {
  OpenFile* f = Handle(file);
  return f ? M().files[f->key].linkCount : 0;
}

FileHandle CreateFileForWrite(const char* path) {
  path = Followed(path);
  std::string key = Key(path);
  if (key == M().failCreateKey) return M().lastError = kErrorSharingViolation, kInvalidFile;
  std::string parent = Parent(path);
  Node* parentNode = parent.empty() ? nullptr : Find(parent);
  if (!parentNode || !parentNode->directory) return M().lastError = 3, kInvalidFile; // path not found
  if (Node* node = Find(path)) {
    // Replacing a directory, a read-only file, or (with normal attributes
    // asked for) a hidden or system file is refused, as the system does.
    if (node->directory || (node->attributes & (kAttrReadOnly | kAttrHidden | kAttrSystem)))
      return M().lastError = kErrorAccessDenied, kInvalidFile;
    node->content.clear();
    node->attributes = kAttrArchive;
  } else {
    Create(path);
  }
  return NewHandle(key, true);
}

int ReadFromFile(FileHandle file, void* buffer, uint32_t count, uint32_t* done) {
  OpenFile* f = Handle(file);
  *done = 0;
  if (!f || f->write) return 0;
  const std::string& content = M().files[f->key].content;
  size_t n = std::min<size_t>(count, content.size() - std::min(content.size(), f->position));
  if (f->key == M().shortReadKey) n /= 2;
  if (f->key == M().failReadKey && f->position + n > M().failReadAfter) return 0;
  std::memcpy(buffer, content.data() + f->position, n);
  f->position += n;
  *done = uint32_t(n);
  return 1;
}

int ReadFileAt(FileHandle file, uint64_t offset, void* buffer, uint32_t count, uint32_t* done) {
  OpenFile* f = Handle(file);
  if (!f) return 0;
  f->position = size_t(std::min<uint64_t>(offset, M().files[f->key].content.size()));
  return ReadFromFile(file, buffer, count, done);
}

int WriteToFile(FileHandle file, const void* buffer, uint32_t count, uint32_t* done) {
  OpenFile* f = Handle(file);
  *done = 0;
  if (!f || !f->write) return 0;
  uint32_t n = count;
  if (M().writeBudget >= 0) {
    n = uint32_t(std::min<int64_t>(count, M().writeBudget));
    M().writeBudget -= n;
    if (n == 0 && count > 0) return M().lastError = kErrorDiskFull, 0; // the disk is full
  }
  std::string& content = M().files[f->key].content;
  content.replace(f->position, n, static_cast<const char*>(buffer), n);
  f->position += n;
  *done = n;
  return 1;
}

uint32_t FileSizeLow(FileHandle file) {
  OpenFile* f = Handle(file);
  return f ? uint32_t(M().files[f->key].content.size()) : 0xFFFFFFFFu;
}

void CloseFile(FileHandle file) {
  auto it = M().handles.find(file);
  if (it == M().handles.end()) return;
  if (it->second.deleteOnClose) M().files.erase(it->second.key);
  M().handles.erase(it);
}

uint32_t ReadAttributes(const char* path) { return Attributes(path); }

void WriteAttributes(const char* path, uint32_t attributes) {
  Node* node = Find(path);
  if (!node) return;
  if (node->directory) {
    node->attributes = kAttrDirectory | (attributes & ~kAttrNormal);
  } else {
    node->attributes = attributes;
  }
}

int ReadLastWriteTime(FileHandle file, FileTime* out) {
  OpenFile* f = Handle(file);
  if (!f) return 0;
  *out = M().files[f->key].times.write;
  return 1;
}

int StampFileTimes(FileHandle file, const FileTime* time) {
  OpenFile* f = Handle(file);
  if (!f || M().failStamp) return M().lastError = kErrorAccessDenied, 0;
  M().files[f->key].times = {*time, *time, *time};
  return 1;
}

void RemoveFile(const char* path) {
  if (M().onChange) M().onChange();
  Node* node = Find(path);
  if (node && !node->directory && !(node->attributes & kAttrReadOnly)) M().files.erase(Key(path));
}

void MakeDirectory(const char* path) {
  std::string parent = Parent(path);
  Node* parentNode = parent.empty() ? nullptr : Find(parent);
  if (parentNode && parentNode->directory && !Find(path)) AddDirectory(path);
}

int CreateNewDirectory(const char* path) {
  std::string parent = Parent(path);
  Node* parentNode = parent.empty() ? nullptr : Find(parent);
  if (!parentNode || !parentNode->directory || Find(path)) return 0;
  AddDirectory(path);
  return 1;
}

int ReplaceFile(const char* from, const char* to) {
  Node* source = Find(from);
  Node* target = Find(to);
  if (M().onChange) M().onChange();
  M().lastError = kErrorSharingViolation; // what a failed rename below reports
  if (M().replacesBeforeFailure >= 0 && M().replacesBeforeFailure-- == 0) return 0;
  if (M().failReplace || !source || source->directory) return 0;
  if (target && (target->directory || (target->attributes & kAttrReadOnly))) return 0;
  Node moved = *source;
  moved.path = Through(to);
  M().files.erase(Key(from));
  M().files[Key(to)] = moved;
  return 1;
}

uint32_t fake::ProfileRead(const std::string& fileText, const char* section, const char* key, char* buffer,
                           uint32_t capacity) {
  const char kScratch[] = "C:\\PROFILE-READ.TMP";
  AddFile(kScratch, fileText);
  const uint32_t count = ReadProfileString(section, key, buffer, capacity, kScratch);
  M().files.erase(Key(kScratch));
  return count;
}

uint32_t DriveType(const char* driveText) {
  if (!driveText || !driveText[0]) return 1;
  auto it = M().drives.find(char(std::toupper(uint8_t(driveText[0]))));
  return it == M().drives.end() ? 1 : it->second.type;
}

int FreeBytesAvailable(const char* driveText, uint64_t* bytes) {
  if (!driveText || !driveText[0] || driveText[1] != ':') return 0;
  auto it = M().drives.find(char(std::toupper(uint8_t(driveText[0]))));
  if (it == M().drives.end() || it->second.freeUnknown || it->second.type == 1) return 0;
  *bytes = it->second.free;
  return 1;
}

void TemporaryFolder(char* buffer, uint32_t capacity) { CopyText(buffer, capacity, "C:\\TEMP\\"); }
uint32_t CurrentProcessId() { return 4242; }
void WindowsFolder(char* buffer, uint32_t capacity) { CopyText(buffer, capacity, "C:\\WINDOWS"); }

int StampTimesAtPath(const char* path, const FileTime* time) {
  Node* node = Find(path);
  if (!node || node->directory || M().failStamp) return 0;
  node->times = {*time, *time, *time};
  return 1;
}

uint32_t LastSystemError() { return M().lastError; }
