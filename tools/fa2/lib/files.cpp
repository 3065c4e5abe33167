// Whole-file reads and writes and file times for the tools.
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "fa2/lib/toolkit.h"

namespace fa2 {

namespace fs = std::filesystem;

namespace {
constexpr int64_t kTicksPerSecond = 10000000;
constexpr int64_t kUnixEpochTicks = 116444736000000000; // 1970-01-01 in file-time ticks
}  // namespace

bool ReadWholeFile(const std::string& path, Bytes& out, std::string& error) {
  std::ifstream in(fs::u8path(path), std::ios::binary);
  if (!in) {
    error = "cannot open " + path;
    return false;
  }
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    error = "cannot read " + path;
    return false;
  }
  return true;
}

bool WriteWholeFileAtomically(const std::string& path, const Bytes& data, std::string& error) {
  const fs::path target = fs::u8path(path);
  fs::path temporary = target;
  temporary += ".fa2-partial";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
    out.close();
    if (!out) {
      std::error_code ignored;
      fs::remove(temporary, ignored);
      error = "cannot write " + path;
      return false;
    }
  }
  std::error_code ec;
  fs::rename(temporary, target, ec);
  if (ec) {
    fs::remove(temporary, ec);
    error = "cannot write " + path;
    return false;
  }
  return true;
}

FileTime FileTimeFromUnix(int64_t seconds, uint32_t nanoseconds) {
  uint64_t ticks = uint64_t(seconds * kTicksPerSecond + nanoseconds / 100 + kUnixEpochTicks);
  return FileTime{uint32_t(ticks), uint32_t(ticks >> 32)};
}

int64_t UnixFromFileTime(FileTime time, uint32_t* nanoseconds) {
  int64_t ticks = int64_t(FileTimeValue(time)) - kUnixEpochTicks;
  int64_t seconds = ticks / kTicksPerSecond;
  int64_t rest = ticks % kTicksPerSecond;
  if (rest < 0) {
    rest += kTicksPerSecond;
    --seconds;
  }
  if (nanoseconds) *nanoseconds = uint32_t(rest * 100);
  return seconds;
}

bool ModificationTime(const std::string& path, FileTime* out) {
  std::error_code ec;
  auto stamp = fs::last_write_time(fs::u8path(path), ec);
  if (ec) return false;
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
  int64_t seconds = UnixFromFileTime(time, &nanoseconds);
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

}  // namespace fa2
