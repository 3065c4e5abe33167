// The platform seam over real folders for the dry run (see disk_platform.h).
#include "fa2/plan/disk_platform.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <system_error>

#include "fa2/lib/toolkit.h"
#include "fa2/plan/host_names.h"

namespace fs = std::filesystem;

namespace {

struct Mapping {
  std::string prefix; // code page 932, no trailing backslash
  fs::path folder;
};

struct Drive {
  uint32_t type = 1; // no root
  fs::path root;
};

struct OpenFile {
  fs::path path;
  std::unique_ptr<std::istream> stream;
};

struct Machine {
  std::vector<Mapping> mappings;
  std::map<char, Drive> drives;
  bool normalFiles = false;
  std::map<FileHandle, OpenFile> files;
  FileHandle nextHandle = 100;
  std::vector<plan::ShownBox> boxes;
};

Machine& M() {
  static Machine machine;
  return machine;
}

char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

// Whether `path` starts with `prefix` followed by a backslash or its end; the
// rest (after that backslash) in *rest.
bool MatchPrefix(const char* path, const std::string& prefix, const char** rest) {
  for (size_t i = 0; i < prefix.size(); ++i)
    if (path[i] == 0 || UpperAscii(path[i]) != UpperAscii(prefix[i])) return false;
  const char* p = path + prefix.size();
  if (*p != 0 && *p != '\\') return false;
  *rest = *p ? p + 1 : p;
  return true;
}

// The components of a Windows path tail: split at single-byte backslashes
// (a trail byte of the value of a backslash does not split).
std::vector<std::string> Components(const char* rest) {
  std::vector<std::string> parts(1);
  for (const char* p = rest; *p;) {
    const char* next = NextCharacter(p);
    if (next - p == 1 && *p == '\\')
      parts.emplace_back();
    else
      parts.back().append(p, size_t(next - p));
    p = next;
  }
  return parts;
}

// The entry of `folder` that Windows would take for `name`: the exact name,
// else the first whose name differs only in ASCII letter case.
fs::path FindEntry(const fs::path& folder, const fs::path& name) {
  std::error_code ec;
  const fs::path exact = folder / name;
  if (fs::exists(fs::symlink_status(exact, ec))) return exact;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    if (plan::host::SameNameIgnoringCase(it->path().filename(), name)) return it->path();
  return exact;
}

// The real path of a Windows path; false outside every prefix or when a
// name has no form on this file system.
bool Resolve(const char* path, fs::path* out) {
  if (path == nullptr) return false;
  // As Windows resolves it first: ".", "..", trailing dots and blanks.
  std::string resolved(std::strlen(path) + 1, '\0');
  if (!ResolveWindowsPath(path, resolved.data(), resolved.size())) return false;
  resolved.resize(std::strlen(resolved.c_str()));
  const Mapping* mapping = nullptr;
  const char* rest = nullptr;
  for (const Mapping& m : M().mappings) {
    const char* r;
    if (MatchPrefix(resolved.c_str(), m.prefix, &r) && (!mapping || m.prefix.size() > mapping->prefix.size())) {
      mapping = &m;
      rest = r;
    }
  }
  if (!mapping) return false;
  fs::path current = mapping->folder;
  for (const std::string& part : Components(rest)) {
    if (part.empty()) continue;
    fs::path name;
    if (!plan::host::ComponentFromCp932(part, name)) return false;
    current = FindEntry(current, name);
  }
  *out = current;
  return true;
}

uint32_t AttributesOfRealPath(const fs::path& path) {
  uint32_t attributes;
  if (plan::host::RealAttributes(path, &attributes)) return attributes;
  std::error_code ec;
  // A symbolic link stands for a junction or a link on Windows.
  const uint32_t link = fs::is_symlink(fs::symlink_status(path, ec)) ? kAttrReparsePoint : 0;
  const fs::file_status status = fs::status(path, ec);
  if (ec || !fs::exists(status)) return link ? link : kAttrMissing;
  if (fs::is_directory(status)) return kAttrDirectory | link;
  attributes = 0;
  if ((status.permissions() & fs::perms::owner_write) == fs::perms::none) attributes |= kAttrReadOnly;
  if (!M().normalFiles) attributes |= kAttrArchive;
  return (attributes ? attributes : kAttrNormal) | link;
}

FileTime FileTimeOf(fs::file_time_type stamp) {
  const auto since = std::chrono::file_clock::to_sys(stamp).time_since_epoch();
  const int64_t ns = std::chrono::duration_cast<std::chrono::nanoseconds>(since).count();
  int64_t seconds = ns / 1000000000;
  int64_t rest = ns % 1000000000;
  if (rest < 0) {
    rest += 1000000000;
    --seconds;
  }
  return fa2::FileTimeFromUnix(seconds, uint32_t(rest));
}

OpenFile* HandleOf(FileHandle file) {
  auto it = M().files.find(file);
  return it == M().files.end() ? nullptr : &it->second;
}

// A folder named on the command line, absolute and without a trailing
// separator, so that ".." and the output name real folders.
fs::path RealFolder(const std::string& argument) {
  std::error_code ec;
  fs::path real = fs::absolute(plan::host::PathFromArgument(argument), ec).lexically_normal();
  if (!real.has_filename() && real.has_parent_path() && real != real.root_path()) real = real.parent_path();
  return real;
}

Drive* DriveOf(const char* driveText) {
  if (driveText == nullptr || driveText[0] == 0 || driveText[1] != ':') return nullptr;
  auto it = M().drives.find(UpperAscii(driveText[0]));
  return it == M().drives.end() ? nullptr : &it->second;
}

} // namespace

// ---- Configuration ----------------------------------------------------------------

namespace plan {

void ResetDisk() {
  Machine& m = M();
  m.mappings.clear();
  m.drives.clear();
  m.normalFiles = false;
  m.files.clear();
  m.boxes.clear();
}

void MapFolder(const std::string& prefix, const std::string& folder) {
  std::string p = prefix;
  while (!p.empty() && p.back() == '\\') p.pop_back();
  const fs::path real = RealFolder(folder);
  M().mappings.push_back({p, real});
  Drive& drive = M().drives[UpperAscii(p[0])];
  drive.type = 3; // fixed
  drive.root = real;
}

void MapDisc(char letter, const std::string& folder) {
  const fs::path real = RealFolder(folder);
  M().mappings.push_back({std::string(1, letter) + ":", real});
  Drive& drive = M().drives[UpperAscii(letter)];
  drive.type = kDriveCdrom;
  drive.root = real;
}

void SetNormalFiles(bool normal) { M().normalFiles = normal; }

std::string LocalPathOf(const char* path) {
  fs::path real;
  return Resolve(path, &real) ? host::Display(real) : std::string();
}

const std::vector<ShownBox>& ShownBoxes() { return M().boxes; }
void ClearShownBoxes() { M().boxes.clear(); }

} // namespace plan

// ---- The seam -----------------------------------------------------------------------

int BindSystemOperations() { return 1; }

FileHandle OpenFileForRead(const char* path) {
  OpenFile file;
  fs::path real;
  std::error_code ec;
  if (!Resolve(path, &real) || !fs::is_regular_file(real, ec)) return kInvalidFile; // folders do not open as files
  file.stream = std::make_unique<std::ifstream>(real, std::ios::binary);
  if (!*file.stream) return kInvalidFile;
  file.path = real;
  const FileHandle handle = M().nextHandle++;
  M().files[handle] = std::move(file);
  return handle;
}

uint32_t FileLinkCount(FileHandle) { return 1; }
int FileReachedAs(FileHandle, const char*) { return 1; }

int ReadFromFile(FileHandle file, void* buffer, uint32_t count, uint32_t* done) {
  *done = 0;
  OpenFile* f = HandleOf(file);
  if (!f) return 0;
  f->stream->read(static_cast<char*>(buffer), std::streamsize(count));
  *done = uint32_t(f->stream->gcount());
  return !f->stream->bad();
}

int ReadFileAt(FileHandle file, uint64_t offset, void* buffer, uint32_t count, uint32_t* done) {
  OpenFile* f = HandleOf(file);
  if (!f) return *done = 0, 0;
  f->stream->clear();
  f->stream->seekg(std::streamoff(offset));
  return ReadFromFile(file, buffer, count, done);
}

uint32_t FileSizeLow(FileHandle file) {
  OpenFile* f = HandleOf(file);
  if (!f) return 0xFFFFFFFFu;
  std::error_code ec;
  const uintmax_t size = fs::file_size(f->path, ec);
  return ec ? 0xFFFFFFFFu : uint32_t(size);
}

void CloseFile(FileHandle file) { M().files.erase(file); }

uint32_t ReadAttributes(const char* path) {
  fs::path real;
  if (!Resolve(path, &real)) return kAttrMissing;
  return AttributesOfRealPath(real);
}


int ReadLastWriteTime(FileHandle file, FileTime* out) {
  OpenFile* f = HandleOf(file);
  if (!f) return 0;
  std::error_code ec;
  const fs::file_time_type stamp = fs::last_write_time(f->path, ec);
  if (ec) return 0;
  *out = FileTimeOf(stamp);
  return 1;
}


// No registry: the plan is given the install folder and mode itself.
int OpenUserKey(const char*, RegistryKey*) { return 0; }
int QueryKeyValue(RegistryKey, const char*, void*, uint32_t*) { return 0; }
void CloseUserKey(RegistryKey) {}

// No resources: the archive comes from the file named on the command line.
ResourceHandle FindUpdateResource(ModuleHandle) { return nullptr; }
uint32_t ResourceSize(ModuleHandle, ResourceHandle) { return 0; }
void* LoadResourceData(ModuleHandle, ResourceHandle) { return nullptr; }
const uint8_t* LockResourceData(void*) { return nullptr; }
int ModuleHoldsRange(ModuleHandle, const void*, uint32_t) { return 0; }
uint32_t LastSystemError() { return 0; }

DigestHandle BeginDigest() { return fa2::BeginSha256(); }
int UpdateDigest(DigestHandle digest, const void* data, size_t size) {
  return fa2::UpdateSha256(static_cast<fa2::Sha256Context*>(digest), static_cast<const uint8_t*>(data), size);
}
int FinishDigest(DigestHandle digest, uint8_t out[32]) {
  fa2::Digest result;
  if (!fa2::FinishSha256(static_cast<fa2::Sha256Context*>(digest), result)) return 0;
  std::memcpy(out, result.data(), result.size());
  return 1;
}


uint32_t DriveType(const char* driveText) {
  const Drive* drive = DriveOf(driveText);
  return drive ? drive->type : 1;
}

int FreeBytesAvailable(const char* driveText, uint64_t* bytes) {
  const Drive* drive = DriveOf(driveText);
  if (!drive) return 0;
  std::error_code ec;
  const fs::space_info space = fs::space(drive->root, ec);
  if (ec || space.available == static_cast<uintmax_t>(-1)) return 0;
  *bytes = uint64_t(space.available);
  return 1;
}

void TemporaryFolder(char* buffer, uint32_t capacity) {
  if (capacity) buffer[0] = 0;
}

uint32_t CurrentProcessId() { return 1; }
void WindowsFolder(char* buffer, uint32_t capacity) {
  if (capacity) buffer[0] = 0; // no folder of this disk is the system's
}
int RandomBytes(void*, uint32_t) { return 0; } // names of a plan only: the process id stands in

void* AllocateBlock(size_t bytes, bool zeroFill) { return zeroFill ? std::calloc(bytes, 1) : std::malloc(bytes); }
void FreeBlock(void* block) { std::free(block); }

// ---- Windows and dialogs: the dry run opens none --------------------------------------
WindowHandle FindTopWindow(const char*, const char*) { return nullptr; }

// A box is noted, not shown; it answers OK.
int MessageBoxText(WindowHandle, const char* text, const char* caption, uint32_t) {
  M().boxes.push_back({text ? text : "", caption ? caption : ""});
  return kAnswerOk;
}

void InitialiseCom() {}

// ---- Code page 932 strings --------------------------------------------------------------
int IsLeadByte(uint8_t b) { return Cp932IsLeadByte(b); }
const char* NextCharacter(const char* p) { return Cp932NextCharacter(p); }
int CompareNoCase(const char* a, const char* b) { return Cp932CompareNoCase(a, b); }
