// The fa2 subcommands. Each takes its own arguments (after the subcommand's
// name) and returns the process exit code.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "fa2/lib/toolkit.h"
#include "fa2/lib/update_checks.h"

using Args = std::vector<std::string>;

namespace plan {
struct Options;
}

int RunPack(const Args& args);
int RunList(const Args& args);
int RunExtract(const Args& args);
int RunVerify(const Args& args);
int RunStamp(const Args& args);
int RunBuild(const Args& args);
int RunPlan(const Args& args);
int RunTry(const Args& args);

// Shared by the commands.
int Fail(const std::string& message); // prints "fa2: message", returns 2 (usage errors)
// Prints "fa2: message" and returns 1: an input that cannot be read (missing,
// a folder, cut short, damaged) or an output that cannot be written.
int FailFile(const std::string& message);
int Usage(const char* text); // prints text to stdout, returns 0
bool WantsHelp(const Args& args);
// Stamps `archive` into `stub` and writes the result to `output` atomically.
// Notes a removed signature on stderr.
bool StampAndWrite(const fa2::Bytes& stub, const std::string& stubPath, const fa2::ByteSource& archive,
                   const std::string& output, std::string& error);

// The files that come with fa2: Windows programs (the updater stub, the
// driver of 'fa2 try'), their x86_64 builds (for 'fa2 try' on a machine that
// runs no 32-bit code) and scripts. The places looked at, in order, and the
// first that exists; `error` names every place looked at.
enum class SupportKind { Program, Program64, Script };
std::vector<std::string> SupportCandidates(const std::string& name, SupportKind kind);
bool FindSupportFile(const std::string& name, SupportKind kind, std::string& path, std::string& error);
// Threads that encode blocks: FA2_THREADS when set (1 to 64), else one per
// core. The output is the same for any number.
unsigned EncoderThreads();

bool IsFolder(const std::string& path); // an existing folder (UTF-8 path)
// --data DIR, --disc DIR (at most `mostDiscs`) and --mode N, which 'plan'
// and 'try' take alike for the installed game. False when `arg` is none of
// them; else true, with *status 0 or, when its value is wrong, the usage
// error's exit code (the message names `command`). `value` reads the
// option's value.
bool ParseGameOption(const std::string& command, const std::string& arg, const std::function<bool(std::string*)>& value,
                     size_t mostDiscs, plan::Options& options, int* status);

// The updater stub that `fa2 build` stamps when none is given.
bool FindStub(std::string& path, std::string& error);

// A status line for long work, rewritten in place ('\r') when `out` is a
// terminal and never shown otherwise. Updates come at most ten times a second
// unless forced. Cleared when done or destroyed.
class ProgressLine {
public:
  explicit ProgressLine(std::FILE* out);
  ~ProgressLine();
  void Show(const std::string& text, bool force = false);
  void Clear();

private:
  std::FILE* out_;
  bool terminal_;
  bool shown_ = false;
  size_t width_ = 0;
  std::chrono::steady_clock::time_point last_{};
};

// ---- fa2 build's members (build_members.cpp) -------------------------------------
// The old version a build makes deltas against, and where the delta being
// made waits (`scratch`, removed either way).
struct DeltaOptions {
  std::string from, dataFrom, scratch;
  bool keepFull = false;
};
// Where the packing is, for the progress line: the update's members done
// and their bytes, whatever deltas come and go.
struct PackProgress {
  size_t done = 0;
  uint64_t doneBytes = 0;
  uint64_t writerStart = 0; // the writer's input count when the current member began
  std::string delta;        // the member whose delta is being made
};

// What became of the members that could go as deltas, for the report.
struct DeltaReport {
  std::vector<std::string> lines;
  size_t deltas = 0;
  uint64_t fullStored = 0, deltaStored = 0;
};

// Packs the members; with an old version, each member that replaces an old
// file is packed full first and its delta after it, and whichever does not
// stay is taken out again. `bases` gets the old file of each delta kept.
bool PackMembers(const DeltaOptions& o, const fa2::UpdateFolder& folder, const fa2::UpdateCheck& check,
                 const std::vector<fa2::PackMember>& members, fa2::ArchiveWriter& writer, PackProgress& at,
                 const std::function<void()>& show, DeltaReport& report, std::vector<std::string>& bases,
                 std::string& error);
// Each delta applied to its base as the updater will: the result must be
// the new file, byte for byte.
bool CheckDeltas(const fa2::ByteSource& packed, const std::vector<std::string>& bases, std::string& error);
std::string Percent(uint64_t part, uint64_t whole); // "12.3%"
