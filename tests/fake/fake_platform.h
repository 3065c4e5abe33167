// The test machine behind the platform seam: an in-memory file system with
// attributes and times, drives with free space and types, registry values,
// the embedded resource, scripted message-box answers, a model of the
// wizard's controls, and faults on request. Tests set it up through this
// header and then call the real logic, which sees only platform.h.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fake {

// A fresh machine: drive C: fixed with 1 GiB free, temporary folder
// "C:\TEMP\" (existing), no registry, no resource, no windows, no boxes.
void Reset();

// ---- File system (paths are Windows paths; names compare without case) ----
void AddDirectory(const std::string& path); // creates parents too
void AddFile(const std::string& path, const std::string& content, FileTime time = {0, 0},
             uint32_t attributes = kAttrArchive);
// A junction or symbolic link at `path` to `target` (a folder when
// `folder`): paths through it lead to the target, opening it opens the
// target, and it reports kAttrReparsePoint. Renaming or deleting it acts on
// the link itself.
void AddLink(const std::string& path, const std::string& target, bool folder);
void SetLinkCount(const std::string& path, uint32_t names); // a file's hard links
bool Exists(const std::string& path);
bool IsDirectory(const std::string& path);
std::string Content(const std::string& path);
uint32_t Attributes(const std::string& path); // kAttrMissing when absent
struct Times {
  FileTime creation, access, write;
};
Times FileTimes(const std::string& path);
void SetFileTimes(const std::string& path, FileTime time);
std::vector<std::string> AllFiles(); // every regular file's path, sorted
// Open handles still held (a leak check for tests).
int OpenHandleCount();

// ---- Drives -------------------------------------------------------------------
void SetFreeSpace(char drive, uint64_t bytes);
void SetFreeSpaceUnknown(char drive);         // the query fails for this drive
void SetDriveType(char drive, uint32_t type); // default: 3 (fixed) for C:, 1 (none) else
// Disk full: after `bytes` more bytes have been written anywhere, writes come
// back short (first a short count, then failure). -1 switches it off.
void SetWriteBudget(int64_t bytes);
// Creating a file at this path fails (e.g. locked). Empty clears.
void FailCreateAt(const std::string& path);
void ShortReadAt(const std::string& path); // its reads return half the bytes asked. Empty clears.
// A read of this file that would go past its first `bytes` bytes fails. Empty clears.
void FailReadAfter(const std::string& path, size_t bytes);
void FailReplace(bool fail);               // ReplaceFile fails
void FailReplaceAfter(int count);          // the ReplaceFile call after `count` more fails (once); -1: off
void OnChange(std::function<void()> hook); // runs before every ReplaceFile and RemoveFile; empty: none
// The whole file system, saved and put back: the disk as a power failure at
// that moment would leave it.
struct SavedFiles {
  std::shared_ptr<const void> state;
};
SavedFiles SaveFiles();
void RestoreFiles(const SavedFiles& saved);
void FailStampTimes(bool fail); // StampFileTimes fails

// ---- Memory --------------------------------------------------------------------
// The next `skip` allocations succeed, the one after fails (once). -1: never.
void FailAllocationAfter(int skip);
int LiveBlockCount();    // blocks allocated and not freed
size_t PeakBlockBytes(); // the most bytes in blocks at once since Reset

// ---- Registry (current user's hive) -----------------------------------------------
void SetRegistryString(const std::string& key, const std::string& name, const std::string& value);
void SetRegistryNumber(const std::string& key, const std::string& name, uint32_t value);
void AddRegistryKey(const std::string& key);

// ---- Resource "UPDATE" 102 ----------------------------------------------------------
void SetResource(const std::vector<uint8_t>& bytes); // empty: no resource
// The size the resource table states for it (0: its real size); a larger one
// runs past the end of the module's image.
void SetResourceStatedSize(uint32_t bytes);

// ---- Binding ----------------------------------------------------------------------------
void FailBinding(bool fail);
int ComInitialisedCount();

// ---- Message boxes ----------------------------------------------------------------
struct BoxCall {
  WindowHandle owner;
  std::string text, caption;
  uint32_t style;
};
const std::vector<BoxCall>& Boxes();
// Answers given to the next boxes in order; when none are queued, OK (1).
void QueueAnswer(int answer);
// Called when a box is shown, before it answers (e.g. to insert a disc).
void OnBox(std::function<void(const BoxCall&)> hook);

// ---- Top-level windows ------------------------------------------------------------
// className null: the standard dialog class.
WindowHandle AddTopWindow(const char* className, const std::string& title);
void RemoveTopWindow(WindowHandle window);
struct WindowEvents {
  int shown = 0, broughtForward = 0;
};
WindowEvents EventsOf(WindowHandle window);

// ---- The wizard dialog model -------------------------------------------------------
struct Control {
  bool exists = false;
  std::string text;
  bool enabled = true, visible = true, checked = false, focused = false;
};
// Runs inside RunModalDialog after the initialisation message; acts as the
// user (Click, ...). RunModalDialog returns the EndModalDialog result, or -1
// when the template cannot be created (SetDialogFails) or the script ends
// without the dialog having been ended.
void SetDialogScript(std::function<void(WindowHandle dialog)> script);
void SetDialogFails(bool fail);
WindowHandle CurrentDialog(); // null when none is open
int DialogTemplate();         // template of the current or last dialog
std::string DialogCaption();
Control ControlState(int id); // of the current or last dialog
// A person's click: ignored unless the control exists, is visible and enabled.
void Click(int id);
// A command as the system would deliver it regardless of state (Escape, close).
void SendCommand(int id, int notification = 0);
int SendSetCursor(); // the set-cursor message; the handler's result
bool DialogEnded();
int CurrentCursor(); // last cursor set, 0 if none

// ---- Shell copy ----------------------------------------------------------------------
struct CopyCall {
  WindowHandle owner;
  std::string from, to;
  uint16_t flags;
};
const std::vector<CopyCall>& Copies();
// Decides a copy's outcome. Default: copies the file or folder within the fake
// file system (0), or 0x402 when the source is missing.
void OnCopy(std::function<int(const CopyCall&, int* aborted)> handler);
int DefaultCopy(const CopyCall& call, int* aborted);

// ---- Profile reading ----------------------------------------------------------------
// The updater's profile read (ReadProfileString) of `fileText` as a file's
// content: the text is put in a scratch file for the read and gone after it.
uint32_t ProfileRead(const std::string& fileText, const char* section, const char* key, char* buffer,
                     uint32_t capacity);

} // namespace fake
