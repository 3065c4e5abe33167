// Reading and writing bytes by position, in memory or in a file, so that
// archives and executables of any size pass through fixed buffers.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace fa2 {

using Bytes = std::vector<uint8_t>;

// Why a Read that was started with errno 0 failed, for messages: the
// system's reason, or that the file became shorter while it was read.
std::string ReadFailureReason();

// Bytes read by position.
class ByteSource {
public:
  virtual ~ByteSource() = default;
  virtual uint64_t Size() const = 0;
  // Copies `count` bytes from `offset`; false when they are not all there
  // or cannot be read.
  virtual bool Read(uint64_t offset, uint8_t* to, size_t count) const = 0;
};

class MemorySource : public ByteSource {
public:
  MemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint64_t Size() const override { return size_; }
  bool Read(uint64_t offset, uint8_t* to, size_t count) const override;

private:
  const uint8_t* data_;
  size_t size_;
};

// A file opened for reading.
class FileSource : public ByteSource {
public:
  FileSource() = default;
  ~FileSource() override;
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;
  // False with `error` naming the path (missing, a folder, unreadable).
  bool Open(const std::string& path, std::string& error);
  uint64_t Size() const override { return size_; }
  bool Read(uint64_t offset, uint8_t* to, size_t count) const override;

private:
  std::FILE* file_ = nullptr;
  uint64_t size_ = 0;
};

// Bytes written at the end, with what was written open to reading back,
// overwriting and cutting off.
class ByteOutput {
public:
  virtual ~ByteOutput() = default;
  virtual uint64_t Size() const = 0;
  virtual bool Append(const uint8_t* data, size_t size) = 0;
  virtual bool Overwrite(uint64_t offset, const uint8_t* data, size_t size) = 0;
  virtual bool ReadBack(uint64_t offset, uint8_t* to, size_t size) = 0;
  virtual bool Truncate(uint64_t size) = 0;
  // Why a write failed, naming the output.
  virtual std::string Error() const { return "cannot write the output"; }
};

class MemoryOutput : public ByteOutput {
public:
  explicit MemoryOutput(Bytes& bytes) : bytes_(bytes) {}
  uint64_t Size() const override { return bytes_.size(); }
  bool Append(const uint8_t* data, size_t size) override;
  bool Overwrite(uint64_t offset, const uint8_t* data, size_t size) override;
  bool ReadBack(uint64_t offset, uint8_t* to, size_t size) override;
  bool Truncate(uint64_t size) override;

private:
  Bytes& bytes_;
};

// A new file written beside its final name ("NAME.fa2-partial") that takes
// that name only when committed; removed when dropped uncommitted.
class FileOutput : public ByteOutput {
public:
  FileOutput() = default;
  ~FileOutput() override;
  FileOutput(const FileOutput&) = delete;
  FileOutput& operator=(const FileOutput&) = delete;
  bool Create(const std::string& path, std::string& error);
  uint64_t Size() const override { return size_; }
  bool Append(const uint8_t* data, size_t size) override;
  bool Overwrite(uint64_t offset, const uint8_t* data, size_t size) override;
  bool ReadBack(uint64_t offset, uint8_t* to, size_t size) override;
  bool Truncate(uint64_t size) override;
  // Flushes, closes and renames; false with `error` naming the file.
  bool Commit(std::string& error);
  std::string Error() const override;

private:
  bool Seek(uint64_t offset);
  std::FILE* file_ = nullptr;
  std::string path_, partial_;
  uint64_t size_ = 0, at_ = 0;
  int failure_ = 0; // errno of the first failure
};

// What an output holds so far, read back by position.
class WrittenSource : public ByteSource {
public:
  explicit WrittenSource(ByteOutput& out) : out_(&out) {}
  uint64_t Size() const override { return out_->Size(); }
  bool Read(uint64_t offset, uint8_t* to, size_t count) const override { return out_->ReadBack(offset, to, count); }

private:
  ByteOutput* out_;
};

// A file mapped read-only into memory: its pages are read only as they are
// touched, so a large file costs address space, not memory.
class MappedFile {
public:
  MappedFile() = default;
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  bool Open(const std::string& path, std::string& error);
  const uint8_t* Data() const { return data_; }
  uint64_t Size() const { return size_; }

private:
  const uint8_t* data_ = nullptr;
  uint64_t size_ = 0;
  void* handle_ = nullptr; // the mapping object (Windows)
};

// Copies `size` bytes of `from` starting at `offset` to the end of `to`
// through a fixed buffer.
bool CopyBytes(const ByteSource& from, uint64_t offset, uint64_t size, ByteOutput& to);

} // namespace fa2
