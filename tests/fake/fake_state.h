// Internal state of the test machine, shared by the fake's source files.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "fake/fake_platform.h"

namespace fake {

struct Node {
  std::string path; // as first written
  bool directory = false;
  std::string content;
  uint32_t attributes = kAttrArchive;
  Times times{};
  std::string link;       // a link's target (empty: no link); followed inside paths
  uint32_t linkCount = 1; // the file's names (hard links)
};

struct OpenFile {
  std::string key;
  bool write = false;
  size_t position = 0;
  bool deleteOnClose = false;
};

struct Drive {
  uint32_t type = 1;
  uint64_t free = uint64_t(1) << 30;
  bool freeUnknown = false;
};

struct DialogModel {
  int templateId = 0;
  std::string caption;
  std::map<int, Control> controls;
  bool open = false, ended = false;
  intptr_t result = 0;
  const DialogHandlers* handlers = nullptr;
};

struct TopWindow {
  std::string className; // "#32770" for the standard dialog class
  std::string title;
  WindowEvents events;
};

struct Machine {
  std::map<std::string, Node> files; // key: normalised path
  std::map<intptr_t, OpenFile> handles;
  intptr_t nextHandle = 100;
  std::map<char, Drive> drives;
  int64_t writeBudget = -1;
  std::string failCreateKey;
  std::string shortReadKey; // reads of this file come back with half the bytes asked
  std::string failReadKey;  // reads of this file fail once they would pass failReadAfter
  size_t failReadAfter = 0;
  bool failReplace = false, failStamp = false;
  int replacesBeforeFailure = -1;
  uint32_t lastError = 0;                 // LastSystemError  // -1: ReplaceFile fails only by failReplace
  std::function<void()> onChange;         // called before each ReplaceFile and RemoveFile
  uint64_t clock = 130000000000000000ull; // a file time for new files
  int allocationsBeforeFailure = -1;
  std::map<void*, size_t> blocks;
  size_t liveBlockBytes = 0, peakBlockBytes = 0; // the updater's heap blocks
  std::map<std::string, std::map<std::string, std::string>> registry;
  std::map<uintptr_t, std::string> openKeys;
  uintptr_t nextKey = 1;
  std::vector<uint8_t> resource;
  uint32_t resourceStatedSize = 0; // 0: the resource's own size
  bool failBinding = false;
  int comCount = 0;
  std::vector<BoxCall> boxes;
  std::deque<int> answers;
  std::function<void(const BoxCall&)> boxHook;
  std::map<uintptr_t, TopWindow> windows;
  uintptr_t nextWindow = 0x1000;
  DialogModel dialog;
  std::function<void(WindowHandle)> dialogScript;
  bool dialogFails = false;
  int cursor = 0;
  std::vector<CopyCall> copies;
  std::function<int(const CopyCall&, int*)> copyHandler;
};

Machine& M();
std::string Key(const std::string& path);     // resolved as Windows does, upper-cased ASCII
std::string Resolve(const std::string& path); // "/" and "\\", ".", ".." and trailing dots resolved
std::string Through(const std::string& path); // the path with the links inside it followed
std::string Parent(const std::string& path);  // up to the last backslash, by whole characters
std::string BaseName(const std::string& path);
Node* Find(const std::string& path);
WindowHandle DialogWindow();

} // namespace fake
