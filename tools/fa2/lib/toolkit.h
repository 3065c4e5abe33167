// Building, reading and locating FA2 archives from the tools: the archive
// writer, a checked parser over a whole archive, member decoding, the PE
// resource reader, file times and name encodings.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/archive.h"

namespace fa2 {

using Bytes = std::vector<uint8_t>;

// ---- Writing ------------------------------------------------------------------
struct PackMember {
  std::string name;  // bare file name in code page 932
  Bytes data;
  FileTime time{};
  bool compress = false;
  bool scramble = false;
};
struct PackOptions {
  bool compressDirectory = true;
  bool scrambleDirectory = true;
  int level = 2;
};
struct PackStats {
  uint64_t bytesIn = 0, bytesStored = 0;
  uint32_t storedPlain = 0; // members left uncompressed because they would grow
};
// Lays out header, padded member data and directory. A member asked to be
// compressed is stored plain when compression would not make it smaller.
Bytes BuildArchive(const std::vector<PackMember>& members, const PackOptions& options,
                   PackStats* stats = nullptr);

// ---- Reading ------------------------------------------------------------------
struct ParsedArchive {
  ArchiveHeader header{};
  std::vector<ArchiveEntry> entries;
  std::vector<uint64_t> offsets; // of each member's stored bytes
};
// Checks the structure and loads the directory. On failure `error` says what
// is wrong.
bool ParseArchive(const uint8_t* base, size_t size, ParsedArchive& out, std::string& error);
// Unscrambles and decodes member `index` within bounds.
bool ReadMember(const uint8_t* base, const ParsedArchive& archive, size_t index, Bytes& out,
                std::string& error);

// ---- Executables ----------------------------------------------------------------
// Locates resource "UPDATE" 102 in a PE image (32- or 64-bit). Returns false
// with `error` set when the file is not a PE image or has no such resource.
bool FindUpdateResourceInPe(const Bytes& image, size_t* offset, size_t* size, std::string& error);
bool LooksLikePe(const Bytes& image);

// ---- Files -------------------------------------------------------------------------
bool ReadWholeFile(const std::string& path, Bytes& out, std::string& error);
bool WriteWholeFileAtomically(const std::string& path, const Bytes& data, std::string& error);
FileTime FileTimeFromUnix(int64_t seconds, uint32_t nanoseconds);
int64_t UnixFromFileTime(FileTime time, uint32_t* nanoseconds);
bool ModificationTime(const std::string& path, FileTime* out);
bool SetModificationTime(const std::string& path, FileTime time);
std::string FormatUtc(FileTime time); // "YYYY-MM-DD HH:MM:SS"

// ---- Names ----------------------------------------------------------------------------
// Between the local encoding of file names and arguments and code page 932.
bool LocalToCp932(const std::string& local, std::string& cp932);
std::string Cp932ToLocal(const std::string& cp932);
std::string BaseNameOf(const std::string& path);

}  // namespace fa2
