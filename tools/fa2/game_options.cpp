// The options that describe the installed game, which 'plan' and 'try' take
// alike.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>

#include "fa2/commands.h"
#include "fa2/plan/show_plan.h"

bool IsFolder(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_directory(std::filesystem::u8path(path), ec);
}

bool ParseGameOption(const std::string& command, const std::string& arg, const std::function<bool(std::string*)>& value,
                     size_t mostDiscs, plan::Options& options, int* status) {
  *status = 0;
  std::string v;
  if (arg == "--data") {
    if (!value(&options.data) || !IsFolder(options.data)) *status = Fail(command + ": --data needs an existing folder");
  } else if (arg == "--disc") {
    if (!value(&v) || !IsFolder(v))
      *status = Fail(command + ": --disc needs an existing folder");
    else if (options.discs.size() >= mostDiscs)
      *status = Fail(command + ": too many --disc folders");
    else
      options.discs.push_back(v);
  } else if (arg == "--mode") {
    char* end = nullptr;
    errno = 0;
    const long mode = value(&v) && !v.empty() ? std::strtol(v.c_str(), &end, 10) : 0;
    if (v.empty() || end == nullptr || *end != 0 || errno != 0 || mode < INT32_MIN || mode > INT32_MAX)
      *status = Fail(command + ": --mode takes a number (the registry's InstMode)");
    else
      options.mode = int32_t(mode);
  } else {
    return false;
  }
  return true;
}
