// The platform seam over real folders, for `fa2 plan`: the updater's logic
// runs unchanged and looks at an installed game on this computer's disk
// (Linux or Windows) through the Windows paths it builds, and can write
// nothing.
//
// - Virtual folders: a Windows path prefix such as "I:\INSTALL" stands for a
//   real folder; every further component is looked up without regard to
//   ASCII letter case among the real folder's entries (Windows compares
//   names that way, Linux does not) and converted from code page 932 to the
//   local encoding of file names. Windows drops trailing dots and blanks of
//   a name; so does the lookup. A path outside every prefix does not exist.
// - Drives: the first letter of a prefix is a fixed drive whose free space is
//   that of the real folder's file system; a disc folder is a CD-ROM drive.
//   Every other letter has no root.
// - Attributes: a folder has the directory bit alone; a file the read-only bit
//   when its owner may not write it, and the archive bit unless the normal
//   file rule is chosen (Linux keeps no archive bit; Wine reports it on every
//   file, and a file that Windows tools or installers wrote usually has it);
//   a file with neither is "normal" alone. A Windows build reads the real
//   attributes instead.
// - Given texts: a text given here for a path (the temporary UPDATE.INI)
//   is what reading that path gives, whatever the disk holds. Profile reads
//   are the updater's own, over these files.
// - Simulated results: what the plan decides the update writes is recorded
//   here (files with their time stamp, created folders) and answers later
//   questions as the disk would after those writes, so that an entry sees
//   what earlier entries wrote. The disk itself is never touched.
// - Everything that would write, copy or show the wizard stops the program
//   with a message: the decision functions never reach it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace plan {

// Back to an empty machine: no folders, no drives, no texts, no simulated
// writes, no boxes, the archive-bit rule.
void ResetDisk();
// `prefix` (code page 932, e.g. "I:\INSTALL") stands for the real `folder`
// (local encoding). Its drive letter becomes a fixed drive.
void MapFolder(const std::string& prefix, const std::string& folder);
// The real `folder` is the root of a CD-ROM drive `letter`.
void MapDisc(char letter, const std::string& folder);
// Reading `path` gives `text` (code page 932) instead of a file.
void SetProfileText(const std::string& path, const std::string& text);
// true: files carry no archive bit, so a writable file is normal alone.
void SetNormalFiles(bool normal);

// The real path that a Windows path names, in the local encoding ('/'
// between folders on Linux); empty when it lies outside every prefix.
std::string LocalPathOf(const char* path);

// Records a file the update would have written at `path` (it then exists,
// with `time` as its last-write time and `size` bytes) or a folder it would
// have created.
void SimulateFile(const char* path, FileTime time, uint64_t size);
void SimulateFolder(const char* path);

// The message boxes the logic showed, in order (texts in code page 932).
struct ShownBox {
  std::string text, caption;
};
const std::vector<ShownBox>& ShownBoxes();
void ClearShownBoxes();

}  // namespace plan
