// The fa2 subcommands. Each takes its own arguments (after the subcommand's
// name) and returns the process exit code.
#pragma once

#include <string>
#include <vector>

#include "fa2/lib/toolkit.h"

using Args = std::vector<std::string>;

int RunPack(const Args& args);
int RunList(const Args& args);
int RunExtract(const Args& args);
int RunVerify(const Args& args);

// Shared by the commands.
int Fail(const std::string& message);   // prints "fa2: message", returns 2
int Usage(const char* text);            // prints text to stdout, returns 0
bool WantsHelp(const Args& args);
// Reads ARCHIVE, a raw archive or an executable carrying resource "UPDATE"
// 102, into `file`, and sets `base`/`size` to the archive bytes within it.
bool LoadArchiveFile(const std::string& path, fa2::Bytes& file, const uint8_t** base, size_t* size,
                     std::string& error);
