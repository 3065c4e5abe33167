// fa2: makes, inspects and unpacks FA2 archives and updater executables.
#include <cstdio>
#include <exception>
#include <new>

#include "fa2/commands.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

namespace {

const char kHelp[] =
    "usage: fa2 COMMAND [ARGS...]\n"
    "\n"
    "Makes, inspects and unpacks FA2 archives, raw or inside an updater .exe.\n"
    "\n"
    "commands:\n"
    "  pack     write an archive from files\n"
    "  list     one line per member\n"
    "  extract  write members to disk\n"
    "  verify   check the whole structure and decode every member\n"
    "  build    make an updater .exe from an update folder (UPDATE.INI and files)\n"
    "  stamp    write an archive into an updater .exe\n"
    "  plan     what an update would do to an installed game (a dry run)\n"
    "  try      run an update for real under Wine on a copy of a game (Linux)\n"
    "\n"
    "Run 'fa2 COMMAND --help' for a command's options.\n";

struct Command {
  const char* name;
  int (*run)(const Args&);
};
const Command kCommands[] = {{"pack", RunPack},   {"list", RunList},   {"extract", RunExtract}, {"verify", RunVerify},
                             {"build", RunBuild}, {"stamp", RunStamp}, {"plan", RunPlan},       {"try", RunTry}};

} // namespace

int Fail(const std::string& message) {
  std::fprintf(stderr, "fa2: %s\n", message.c_str());
  return 2;
}

int FailFile(const std::string& message) {
  std::fprintf(stderr, "fa2: %s\n", message.c_str());
  return 1;
}

int Usage(const char* text) {
  std::fputs(text, stdout);
  return 0;
}

bool WantsHelp(const Args& args) {
  for (const std::string& a : args)
    if (a == "--help" || a == "-h") return true;
  return false;
}

#ifdef _WIN32
// The arguments as UTF-8 from the system's UTF-16 command line, and UTF-8
// output: file names in any language pass whatever the code page.
Args Utf8Arguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) return Args(argv, argv + argc);
  Args args;
  for (int i = 0; i < count; ++i) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
    std::string text(size_t(n > 0 ? n : 1), '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, text.data(), n, nullptr, nullptr);
    text.resize(text.size() - 1);
    args.push_back(text);
  }
  LocalFree(wide);
  SetConsoleOutputCP(CP_UTF8);
  return args;
}
#else
Args Utf8Arguments(int argc, char** argv) { return Args(argv, argv + argc); }
#endif

int main(int argc, char** argv) {
  const Args all = Utf8Arguments(argc, argv);
  if (all.size() < 2) {
    std::fputs(kHelp, stderr);
    return 2;
  }
  std::string name = all[1];
  if (name == "--help" || name == "-h" || name == "help") return Usage(kHelp);
  Args args(all.begin() + 2, all.end());
  // The commands check what they read and report it; this is the last
  // resort for what they could not foresee (memory, the file system).
  try {
    for (const Command& c : kCommands)
      if (name == c.name) return c.run(args);
  } catch (const std::bad_alloc&) {
    return FailFile(name + ": out of memory");
  } catch (const std::exception& e) {
    return FailFile(name + ": " + e.what());
  }
  return Fail("unknown command '" + name + "' (see 'fa2 --help')");
}
