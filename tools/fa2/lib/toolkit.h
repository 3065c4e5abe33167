// Building, reading and locating FA2 archives from the tools: the archive
// writer, a checked parser over a whole archive, member decoding, the PE
// resource reader, file times and name encodings.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "archive/archive.h"

namespace fa2 {

using Bytes = std::vector<uint8_t>;

// ---- Digests ------------------------------------------------------------------
using Digest = std::array<uint8_t, 32>;
// SHA-256 (OpenSSL's libcrypto on Linux, BCrypt on Windows). False when the
// library fails.
bool Sha256(const uint8_t* data, size_t size, Digest& out);
// The same in steps: BeginSha256 (null when the library fails), UpdateSha256
// any number of times, FinishSha256 (which releases the context either way).
struct Sha256Context;
Sha256Context* BeginSha256();
bool UpdateSha256(Sha256Context* context, const uint8_t* data, size_t size);
bool FinishSha256(Sha256Context* context, Digest& out);
std::string HexDigest(const Digest& digest);

// ---- Writing ------------------------------------------------------------------
struct PackMember {
  std::string name;  // bare file name in code page 932
  Bytes data;
  FileTime time{};
  bool compress = false;
  bool scramble = false;
};
struct PackOptions {
  bool digests = true;  // append the SHA-256 table of the members
  bool compressDirectory = true;
  bool scrambleDirectory = true;
  int level = 2;
  // Called before each member is encoded and once after the last, with the
  // members and input bytes done so far.
  std::function<void(size_t members, uint64_t bytes)> progress;
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
  int64_t digestIndex = -1;      // the digest table's entry, -1 when none
  std::vector<Digest> digests;   // per entry, when there is a table
};
// Whether entry `index` is the digest table, not a file of the update.
inline bool IsDigestTable(const ParsedArchive& archive, size_t index) {
  return archive.digestIndex == int64_t(index);
}
// Checks the structure and loads the directory. On failure `error` says what
// is wrong.
bool ParseArchive(const uint8_t* base, size_t size, ParsedArchive& out, std::string& error);
// Unscrambles and decodes member `index` within bounds, and checks it
// against the digest table when the archive has one.
bool ReadMember(const uint8_t* base, const ParsedArchive& archive, size_t index, Bytes& out,
                std::string& error);

// ---- Inputs ---------------------------------------------------------------------------
// The archive an ARCHIVE argument's bytes hold: the whole file, or for an
// executable (a file starting with "MZ") its resource "UPDATE" 102, checked
// to lie wholly inside the file. False with `error` saying why not.
bool LocateArchive(const Bytes& file, const uint8_t** base, size_t* size, std::string& error);
// Reads `path` and locates its archive; every error starts with the path.
bool LoadArchiveFile(const std::string& path, Bytes& file, const uint8_t** base, size_t* size,
                     std::string& error);
// Parses the archive and decodes every member; false with `error` naming
// the first fault. `bytes`, when given, receives the decoded total.
bool CheckWholeArchive(const uint8_t* base, size_t size, std::string& error, uint64_t* bytes = nullptr);
// Makes `folder` when missing, inside a folder that must exist (the folders
// above it are never made); false with `error` when it cannot be had (no
// parent folder, a file in the way, no permission).
bool MakeFolder(const std::string& folder, std::string& error);
// Writes the members of a parsed archive into `folder`, an existing folder:
// every member, or those whose upper-case names are in `wanted`. The first
// of equal names wins, as in the updater. `written` receives the upper-case
// names written. False with `error` at the first member whose name could
// leave the folder, whose bytes do not decode, or that cannot be written.
bool ExtractMembers(const uint8_t* base, const ParsedArchive& archive, const std::string& folder,
                    const std::set<std::string>& wanted, std::set<std::string>& written, std::string& error);
// ASCII letters in upper case, as member names are matched.
std::string UpperAscii(std::string text);

// ---- Executables ----------------------------------------------------------------
// Locates resource "UPDATE" 102 in a PE image (32- or 64-bit). Returns false
// with `error` set when the file is not a PE image, is cut short or damaged,
// or has no such resource; the bytes found lie inside `image`.
bool FindUpdateResourceInPe(const Bytes& image, size_t* offset, size_t* size, std::string& error);
bool LooksLikePe(const Bytes& image);
// Whether `image` is a PE image whose headers, section table and sections'
// raw data all lie inside it (what stamping needs); `error` says why not.
bool CheckExecutable(const Bytes& image, std::string& error);

// A resource type, name or language: an integer id or a UTF-16 name.
struct ResourceKey {
  bool named = false;
  uint16_t id = 0;
  std::u16string name;
};
struct PeResource {
  ResourceKey type, name;
  uint16_t language = 0;
  uint32_t codePage = 0;
  Bytes data;
};
// Every resource of a PE image in directory order (types, names, languages).
bool ReadPeResources(const Bytes& image, std::vector<PeResource>& out, std::string& error);

struct StampReport {
  bool replaced = false;         // the image already carried "UPDATE" 102
  bool appendedSection = false;  // a new last section holds the resources
  bool droppedSignature = false; // an Authenticode signature was removed
  uint16_t language = 0;         // language of the written resource
};
// Writes `archive` into a copy of the PE image `exe` (32- or 64-bit) as
// resource "UPDATE" 102, replacing one that is there, and keeps every other
// resource as it was. The language of a replaced resource is kept, a new one
// is language neutral (0). A signature cannot survive the change and is
// removed. False with `error` set when the image cannot be edited.
bool StampUpdateResource(const Bytes& exe, const Bytes& archive, Bytes& out, std::string& error,
                         StampReport* report = nullptr);

// ---- Files -------------------------------------------------------------------------
bool ReadWholeFile(const std::string& path, Bytes& out, std::string& error);
bool WriteWholeFileAtomically(const std::string& path, const Bytes& data, std::string& error);
FileTime FileTimeFromUnix(int64_t seconds, uint32_t nanoseconds);
int64_t UnixFromFileTime(FileTime time, uint32_t* nanoseconds);
// False with `error`, when given, naming the file and the system's reason.
bool ModificationTime(const std::string& path, FileTime* out, std::string* error = nullptr);
bool SetModificationTime(const std::string& path, FileTime time);
std::string FormatUtc(FileTime time); // "YYYY-MM-DD HH:MM:SS"
// The reverse ("YYYY-MM-DD HH:MM:SS" or with 'T', UTC); false when malformed.
bool ParseUtc(const std::string& text, FileTime* out);

// ---- Names ----------------------------------------------------------------------------
// Between the local encoding of file names and arguments and code page 932.
bool LocalToCp932(const std::string& local, std::string& cp932);
std::string Cp932ToLocal(const std::string& cp932);
std::string BaseNameOf(const std::string& path);

}  // namespace fa2
