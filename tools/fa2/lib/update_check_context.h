// Shared by the files that check an update folder: the findings so far and
// the members planned so far.
#pragma once

#include <map>
#include <set>
#include <string>

#include "fa2/lib/update_checks.h"
#include "update/update.h"

namespace fa2::checks {

// The capacities section SETUP is read with: the updater's buffer sizes
// (UpdateDescription), terminator included.
constexpr uint32_t kNameCapacity = kPathCapacity;
constexpr uint32_t kTextCapacity = ::kTextCapacity;

struct Context {
  const IniFile& ini;
  const UpdateFolder& folder;
  UpdateCheck& result;
  std::map<std::string, size_t> memberIndex; // upper-cased name -> index in result.members
  std::map<std::string, int> memberLine;     // upper-cased name -> line that asked for it
  std::set<int> mentioned;                   // files named but not packed ("e" checks)

  void Error(int line, const std::string& text) { result.findings.push_back({true, line, text}); }
  void Warn(int line, const std::string& text) { result.findings.push_back({false, line, text}); }
  // Plans member `name` from folder file `file`. The same name from another
  // file is an error (`what` says who asks for it); a member that must not be
  // scrambled stays so whoever else asks for it.
  void AddMember(const std::string& name, int file, bool scramble, int line, const std::string& what);
};

// A name or text of UPDATE.INI as messages show it: Shift-JIS converted to
// the local encoding, but text that is UTF-8 already (a file saved in the
// wrong encoding) as it is, and bytes that are neither as <hex>.
std::string Shown(const std::string& cp932);
// Shown, in quotes.
std::string Quote(const std::string& cp932);
// What a refused path does, to follow the path in a message, such as
// 'climbs above the folder with ".."'.
std::string OutsideWhy(Confinement why);

// Section UPDATE: RequiredDiskSpace, OverwriteOnly, the update and copy lists.
void CheckUpdateSection(Context& c);

} // namespace fa2::checks
