// Sources and outputs by position (see byte_io.h). Files go through C stdio
// with 64-bit positions, so sizes past 2 GiB work in a 32-bit fa2.exe too.
#include "fa2/lib/byte_io.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace fa2 {

namespace fs = std::filesystem;

namespace {

constexpr size_t kCopyBuffer = size_t(1) << 20;

std::FILE* OpenFile(const std::string& path, const char* mode) {
#ifdef _WIN32
  const std::wstring wide(mode, mode + std::strlen(mode));
  return _wfopen(fs::u8path(path).wstring().c_str(), wide.c_str());
#else
  return std::fopen(path.c_str(), mode);
#endif
}

bool SeekFile(std::FILE* file, uint64_t offset) {
#ifdef _WIN32
  return _fseeki64(file, int64_t(offset), SEEK_SET) == 0;
#else
  return fseeko(file, off_t(offset), SEEK_SET) == 0;
#endif
}

std::string Reason(int code) { return std::generic_category().message(code); }

bool IsFolder(const std::string& path) {
  std::error_code ec;
  return fs::is_directory(fs::u8path(path), ec);
}

} // namespace

bool MemorySource::Read(uint64_t offset, uint8_t* to, size_t count) const {
  if (offset > size_ || count > size_ - offset) return false;
  if (count) std::memcpy(to, data_ + offset, count);
  return true;
}

FileSource::~FileSource() {
  if (file_) std::fclose(file_);
}

bool FileSource::Open(const std::string& path, std::string& error) {
  if (IsFolder(path)) {
    error = path + ": is a folder, not a file";
    return false;
  }
  errno = 0;
  file_ = OpenFile(path, "rb");
  std::error_code ec;
  const uintmax_t size = file_ ? fs::file_size(fs::u8path(path), ec) : 0;
  if (!file_ || ec) {
    error = "cannot open " + path + " (" + Reason(errno ? errno : ENOENT) + ")";
    return false;
  }
  size_ = size;
  return true;
}

std::string ReadFailureReason() { return errno ? Reason(errno) : std::string("it became shorter while it was read"); }

bool FileSource::Read(uint64_t offset, uint8_t* to, size_t count) const {
  if (offset > size_ || count > size_ - offset) return false;
  return count == 0 || (SeekFile(file_, offset) && std::fread(to, 1, count, file_) == count);
}

bool MemoryOutput::Append(const uint8_t* data, size_t size) {
  bytes_.insert(bytes_.end(), data, data + size);
  return true;
}

bool MemoryOutput::Overwrite(uint64_t offset, const uint8_t* data, size_t size) {
  if (offset + size > bytes_.size()) return false;
  std::copy_n(data, size, bytes_.begin() + ptrdiff_t(offset));
  return true;
}

bool MemoryOutput::ReadBack(uint64_t offset, uint8_t* to, size_t size) {
  return MemorySource(bytes_.data(), bytes_.size()).Read(offset, to, size);
}

bool MemoryOutput::Truncate(uint64_t size) {
  if (size > bytes_.size()) return false;
  bytes_.resize(size_t(size));
  return true;
}

FileOutput::~FileOutput() {
  if (file_) {
    std::fclose(file_);
    std::error_code ignored;
    fs::remove(fs::u8path(partial_), ignored);
  }
}

bool FileOutput::Create(const std::string& path, std::string& error) {
  if (IsFolder(path)) {
    error = path + ": is a folder, not a file";
    return false;
  }
  path_ = path;
  partial_ = path + ".fa2-partial";
  errno = 0;
  file_ = OpenFile(partial_, "w+b");
  if (!file_) {
    error = "cannot write " + path + " (" + Reason(errno ? errno : EACCES) + ")";
    return false;
  }
  return true;
}

bool FileOutput::Seek(uint64_t offset) {
  if (at_ == offset) return true;
  if (!SeekFile(file_, offset)) return false;
  at_ = offset;
  return true;
}

bool FileOutput::Append(const uint8_t* data, size_t size) { return Overwrite(size_, data, size); }

bool FileOutput::Overwrite(uint64_t offset, const uint8_t* data, size_t size) {
  if (failure_ || offset > size_) return false;
  errno = 0;
  if (!Seek(offset) || std::fwrite(data, 1, size, file_) != size) {
    failure_ = errno ? errno : EIO;
    return false;
  }
  at_ = offset + size;
  size_ = std::max(size_, at_);
  return true;
}

bool FileOutput::ReadBack(uint64_t offset, uint8_t* to, size_t size) {
  if (failure_ || offset + size > size_) return false;
  // A read after a write needs the stream positioned anew.
  at_ = ~uint64_t(0);
  if (!Seek(offset) || std::fread(to, 1, size, file_) != size) {
    failure_ = errno ? errno : EIO;
    return false;
  }
  at_ = ~uint64_t(0); // and so does a write after a read
  return true;
}

bool FileOutput::Truncate(uint64_t size) {
  if (failure_ || size > size_ || std::fflush(file_) != 0) return false;
#ifdef _WIN32
  const bool ok = _chsize_s(_fileno(file_), int64_t(size)) == 0;
#else
  const bool ok = ftruncate(fileno(file_), off_t(size)) == 0;
#endif
  if (!ok) {
    failure_ = errno ? errno : EIO;
    return false;
  }
  size_ = size;
  at_ = ~uint64_t(0);
  return true;
}

std::string FileOutput::Error() const {
  return "cannot write " + path_ + (failure_ ? " (" + Reason(failure_) + ")" : std::string());
}

bool FileOutput::Commit(std::string& error) {
  errno = 0;
  const bool flushed = !failure_ && std::fflush(file_) == 0;
  if (!flushed && !failure_) failure_ = errno ? errno : EIO;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  std::error_code ec;
  if (flushed && closed) fs::rename(fs::u8path(partial_), fs::u8path(path_), ec);
  if (!flushed || !closed || ec) {
    fs::remove(fs::u8path(partial_), ec);
    error = ec && flushed && closed ? "cannot write " + path_ + " (" + ec.message() + ")" : Error();
    return false;
  }
  return true;
}

MappedFile::~MappedFile() {
  if (!data_) return;
#ifdef _WIN32
  UnmapViewOfFile(data_);
  CloseHandle(handle_);
#else
  munmap(const_cast<uint8_t*>(data_), size_t(size_));
#endif
}

bool MappedFile::Open(const std::string& path, std::string& error) {
  FileSource probe; // the same messages as any other read
  if (!probe.Open(path, error)) return false;
  size_ = probe.Size();
  if (size_ == 0) {
    return true;
  }
  if (size_ > uint64_t(SIZE_MAX)) {
    error = "cannot map " + path + " (larger than this process's address space)";
    return false;
  }
#ifdef _WIN32
  HANDLE file = CreateFileW(fs::u8path(path).wstring().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE mapping = file == INVALID_HANDLE_VALUE ? nullptr
                                                : CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  void* view = mapping ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : nullptr;
  if (!view) {
    if (mapping) CloseHandle(mapping);
    error = "cannot map " + path + " into memory (too large for this process's address space?)";
    return false;
  }
  handle_ = mapping;
#else
  const int fd = ::open(path.c_str(), O_RDONLY);
  void* view = fd < 0 ? MAP_FAILED : mmap(nullptr, size_t(size_), PROT_READ, MAP_PRIVATE, fd, 0);
  if (fd >= 0) ::close(fd);
  if (view == MAP_FAILED) {
    error = "cannot map " + path + " into memory (" + Reason(errno) + ")";
    return false;
  }
#endif
  data_ = static_cast<const uint8_t*>(view);
  return true;
}

bool CopyBytes(const ByteSource& from, uint64_t offset, uint64_t size, ByteOutput& to) {
  Bytes buffer(size_t(std::min<uint64_t>(size, kCopyBuffer)));
  for (uint64_t done = 0; done < size;) {
    const size_t n = size_t(std::min<uint64_t>(size - done, buffer.size()));
    if (!from.Read(offset + done, buffer.data(), n) || !to.Append(buffer.data(), n)) return false;
    done += n;
  }
  return true;
}

} // namespace fa2
