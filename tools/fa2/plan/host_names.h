// File names between the updater's code page 932 texts and this computer's
// file system, for the dry run's seam. Kept apart from the seam itself: on
// Windows it needs the system headers, whose macros clash with the seam's
// names.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace plan::host {

// One path component written in code page 932, as a name of this file
// system. False when it has no such form.
bool ComponentFromCp932(const std::string& cp932, std::filesystem::path& out);
// A folder or file given on the command line.
std::filesystem::path PathFromArgument(const std::string& argument);
// Whether two names of one folder are the same name to Windows: equal
// without regard to the case of ASCII letters.
bool SameNameIgnoringCase(const std::filesystem::path& a, const std::filesystem::path& b);
// A path for the plan's output, in the local encoding.
std::string Display(const std::filesystem::path& path);
// Windows only: the file's real attribute word (0xFFFFFFFF when it cannot be
// read). Elsewhere false: the attributes are derived from the file's kind
// and permissions.
bool RealAttributes(const std::filesystem::path& path, uint32_t* attributes);

} // namespace plan::host
