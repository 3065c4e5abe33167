// Whole-file reads and writes and file times for the tools.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <new>
#include <system_error>

#include "fa2/lib/toolkit.h"

namespace fa2 {

namespace fs = std::filesystem;

namespace {
constexpr int64_t kTicksPerSecond = 10000000;
constexpr int64_t kUnixEpochTicks = 116444736000000000; // 1970-01-01 in file-time ticks
} // namespace

namespace {

std::string Reason(int code) { return std::generic_category().message(code); }

bool IsFolder(const fs::path& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

} // namespace

namespace {

// The C library's streams: every failed call leaves the system's reason in
// errno, read right after it.
std::FILE* OpenFile(const fs::path& file, bool write) {
#ifdef _WIN32
  return _wfopen(file.c_str(), write ? L"wb" : L"rb");
#else
  return std::fopen(file.c_str(), write ? "wb" : "rb");
#endif
}

} // namespace

bool ReadWholeFile(const std::string& path, Bytes& out, std::string& error) {
  const fs::path file = fs::u8path(path);
  if (IsFolder(file)) {
    error = path + ": is a folder, not a file";
    return false;
  }
  errno = 0;
  std::FILE* in = OpenFile(file, false);
  if (!in) {
    error = "cannot open " + path + " (" + Reason(errno ? errno : EIO) + ")";
    return false;
  }
  out.clear();
  int failure = 0;
  try {
    uint8_t chunk[1 << 16];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, in)) > 0) out.insert(out.end(), chunk, chunk + n);
    if (std::ferror(in)) failure = errno ? errno : EIO;
  } catch (const std::bad_alloc&) {
    std::fclose(in);
    error = "cannot read " + path + " (too large to hold in memory)";
    return false;
  }
  std::fclose(in);
  if (failure) {
    error = "cannot read " + path + " (" + Reason(failure) + ")";
    return false;
  }
  return true;
}

FileTime FileTimeFromUnix(int64_t seconds, uint32_t nanoseconds) {
  uint64_t ticks = uint64_t(seconds * kTicksPerSecond + nanoseconds / 100 + kUnixEpochTicks);
  return FileTime{uint32_t(ticks), uint32_t(ticks >> 32)};
}

int64_t UnixFromFileTime(FileTime time, uint32_t* nanoseconds) {
  // In unsigned arithmetic: a damaged time stamp near 2^64 must not overflow.
  const int64_t ticks = int64_t(FileTimeValue(time) - uint64_t(kUnixEpochTicks));
  int64_t seconds = ticks / kTicksPerSecond;
  int64_t rest = ticks % kTicksPerSecond;
  if (rest < 0) {
    rest += kTicksPerSecond;
    --seconds;
  }
  if (nanoseconds) *nanoseconds = uint32_t(rest * 100);
  return seconds;
}

bool ModificationTime(const std::string& path, FileTime* out, std::string* error) {
  std::error_code ec;
  auto stamp = fs::last_write_time(fs::u8path(path), ec);
  if (ec) {
    if (error) *error = path + ": cannot read its modification time (" + ec.message() + ")";
    return false;
  }
  auto since = std::chrono::file_clock::to_sys(stamp).time_since_epoch();
  auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(since).count();
  int64_t seconds = ns / 1000000000;
  int64_t rest = ns % 1000000000;
  if (rest < 0) {
    rest += 1000000000;
    --seconds;
  }
  *out = FileTimeFromUnix(seconds, uint32_t(rest));
  return true;
}

bool SetModificationTime(const std::string& path, FileTime time) {
  uint32_t nanoseconds;
  // The clocks count nanoseconds in 64 bits, about 292 years either side of
  // their epochs (1970 for the system clock, another for the file clock),
  // while a member's time stamp may lie anywhere in 1601-60056: one outside
  // both ranges is set to the nearest time they hold.
  constexpr int64_t kSpan = INT64_MAX / 1000000000 - 1;
  const int64_t fileEpoch = std::chrono::duration_cast<std::chrono::seconds>(
                                std::chrono::file_clock::to_sys(fs::file_time_type{}).time_since_epoch())
                                .count();
  const int64_t seconds = std::clamp<int64_t>(UnixFromFileTime(time, &nanoseconds), std::max(-kSpan, fileEpoch - kSpan),
                                              std::min(kSpan, fileEpoch + kSpan));
  auto sys = std::chrono::sys_time<std::chrono::nanoseconds>(std::chrono::seconds(seconds) +
                                                             std::chrono::nanoseconds(nanoseconds));
  std::error_code ec;
  fs::last_write_time(fs::u8path(path), std::chrono::file_clock::from_sys(sys), ec);
  return !ec;
}

std::string FormatUtc(FileTime time) {
  int64_t seconds = UnixFromFileTime(time, nullptr);
  std::time_t t = std::time_t(seconds);
  std::tm parts{};
#ifdef _WIN32
  gmtime_s(&parts, &t);
#else
  gmtime_r(&t, &parts);
#endif
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
  return text;
}

} // namespace fa2
