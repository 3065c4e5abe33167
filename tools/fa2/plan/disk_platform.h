// The read-only platform seam over real folders, for `fa2 plan`: the
// updater's plan is made unchanged and looks at an installed game on this
// computer's disk (Linux or Windows) through the Windows paths it builds.
// It has only the seam's reading operations: the plan and the start-up
// readers need no other, and nothing that writes is linked into fa2.
//
// - Virtual folders: a Windows path prefix such as "I:\INSTALL" stands for a
//   real folder; every further component is looked up without regard to
//   ASCII letter case among the real folder's entries (Windows compares
//   names that way, Linux does not) and converted from code page 932 to the
//   local encoding of file names. The path is first resolved as Windows
//   resolves it (ResolveWindowsPath). A path outside every prefix does not
//   exist.
// - Drives: the first letter of a prefix is a fixed drive whose free space is
//   that of the real folder's file system; a disc folder is a CD-ROM drive.
//   Every other letter has no root.
// - Attributes: a folder has the directory bit alone; a file the read-only bit
//   when its owner may not write it, and the archive bit unless the normal
//   file rule is chosen (Linux keeps no archive bit; Wine reports it on every
//   file, and a file that Windows tools or installers wrote usually has it);
//   a file with neither is "normal" alone. A Windows build reads the real
//   attributes instead.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace plan {

// Back to an empty machine: no folders, no drives, no boxes, the archive-bit
// rule.
void ResetDisk();
// `prefix` (code page 932, e.g. "I:\INSTALL") stands for the real `folder`
// (local encoding). Its drive letter becomes a fixed drive.
void MapFolder(const std::string& prefix, const std::string& folder);
// The real `folder` is the root of a CD-ROM drive `letter`.
void MapDisc(char letter, const std::string& folder);
// true: files carry no archive bit, so a writable file is normal alone.
void SetNormalFiles(bool normal);

// The real path that a Windows path names, in the local encoding ('/'
// between folders on Linux); empty when it lies outside every prefix.
std::string LocalPathOf(const char* path);

// The message boxes the logic showed, in order (texts in code page 932).
struct ShownBox {
  std::string text, caption;
};
const std::vector<ShownBox>& ShownBoxes();
void ClearShownBoxes();

} // namespace plan
