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
#include "fa2/lib/byte_io.h"

namespace fa2 {


// ---- Digests ------------------------------------------------------------------
using Digest = std::array<uint8_t, 32>;
// SHA-256 (OpenSSL's libcrypto on Linux, BCrypt on Windows), in steps:
// BeginSha256 (null when the library fails), UpdateSha256 any number of
// times, FinishSha256 (which releases the context either way).
struct Sha256Context;
Sha256Context* BeginSha256();
bool UpdateSha256(Sha256Context* context, const uint8_t* data, size_t size);
bool FinishSha256(Sha256Context* context, Digest& out);
std::string HexDigest(const Digest& digest);
// The SHA-256 of a file, read a piece at a time; false with `error` naming it.
bool FileSha256(const std::string& path, Digest& out, std::string& error);

// ---- Writing ------------------------------------------------------------------
struct PackMember {
  std::string name; // bare file name in code page 932
  Bytes data;       // the content, unless it comes from `path`
  std::string path; // when set: the file whose content is read, piece by piece
  FileTime time{};
  bool compress = false;
  bool scramble = false;
};
struct PackOptions {
  bool digests = true; // append the SHA-256 table of the members
  bool compressDirectory = true;
  bool scrambleDirectory = true;
  int level = 2;
  unsigned threads = 1; // blocks of a member encoded at once
  // Called as members are encoded, with the members and input bytes done
  // so far (at least before each member and once after the last).
  std::function<void(size_t members, uint64_t bytes)> progress;
};
struct PackStats {
  uint64_t bytesIn = 0, bytesStored = 0;
  uint32_t storedPlain = 0; // members left uncompressed because they would grow
};
// The largest member the format holds (its sizes are 32-bit; the 16-byte
// padding after it must fit too).
constexpr uint64_t kMaxMemberSize = 0xFFFFFFF0u;
// The largest archive an updater carries: its image (stub and archive) must
// map in one piece of a 32-bit process's address space, where the system's
// own DLLs and the process's stacks and heaps leave well under 2 GiB free in
// one piece.
constexpr uint64_t kMaxUpdaterArchive = uint64_t(1536) << 20;

// Writes an archive member by member: each member is read, digested,
// encoded and written through fixed buffers (a member that would not get
// smaller is written plain instead), scrambled in place, and padded; the
// digest table, the directory and the header come last. Memory holds the
// encoder's blocks and the directory, whatever the members' sizes.
class ArchiveWriter {
public:
  ArchiveWriter(ByteOutput& out, const PackOptions& options);
  // False with `error` when the member cannot be read or written, or would
  // make the archive pass 4 GiB; the archive is then unusable.
  bool Add(const PackMember& member, std::string& error);
  // The same with the content read from `source` (member.data and .path unused).
  bool Add(const PackMember& member, const ByteSource& source, std::string& error);
  // Takes the member added last out again, as if it had never been added.
  bool RemoveLast(std::string& error);
  const ArchiveEntry& Last() const { return entries_.back(); }
  // The SHA-256 of the last member's content; false when the writer could not compute digests.
  bool LastDigest(Digest& out) const;
  bool Finish(std::string& error);
  const PackStats& Stats() const { return stats_; }
  size_t Members() const { return entries_.size(); }

private:
  bool WriteStored(const PackMember& member, const ByteSource& source, ArchiveEntry& entry, Digest& digest,
                   std::string& error);
  ByteOutput& out_;
  PackOptions options_;
  PackStats stats_;
  std::vector<ArchiveEntry> entries_;
  std::vector<Digest> digests_;
  std::vector<bool> keptPlain_; // per member: counted in stats_.storedPlain
  bool digestsOk_;
};
// The same into memory, for members held in memory.
Bytes BuildArchive(const std::vector<PackMember>& members, const PackOptions& options, PackStats* stats = nullptr);

// ---- Reading ------------------------------------------------------------------
struct ParsedArchive {
  ArchiveHeader header{};
  std::vector<ArchiveEntry> entries;
  std::vector<uint64_t> offsets; // of each member's stored bytes
  int64_t digestIndex = -1;      // the digest table's entry, -1 when none
  std::vector<Digest> digests;   // per entry, when there is a table
};
// Whether entry `index` is the digest table, not a file of the update.
inline bool IsDigestTable(const ParsedArchive& archive, size_t index) { return archive.digestIndex == int64_t(index); }
// Checks the structure and loads the directory (and the digest table),
// reading nothing else. On failure `error` says what is wrong.
bool ParseArchive(const ByteSource& archive, ParsedArchive& out, std::string& error);
bool ParseArchive(const uint8_t* base, size_t size, ParsedArchive& out, std::string& error);
// Hands member `index`'s plain bytes to `sink` piece by piece, unscrambled
// and decoded within bounds through fixed windows, and checks them against
// the digest table when the archive has one. A sink returning false stops
// it (its own error in `error`).
using PieceSink = std::function<bool(const uint8_t* data, size_t size)>;
bool StreamMember(const ByteSource& archive, const ParsedArchive& parsed, size_t index, const PieceSink& sink,
                  std::string& error);
// The same into memory.
bool ReadMember(const uint8_t* base, const ParsedArchive& archive, size_t index, Bytes& out, std::string& error);

// ---- Inputs ---------------------------------------------------------------------------
// The archive an ARCHIVE argument's bytes hold: the whole file, or for an
// executable (a file starting with "MZ") its resource "UPDATE" 102, checked
// to lie wholly inside the file. False with `error` saying why not.
bool LocateArchive(const Bytes& file, const uint8_t** base, size_t* size, std::string& error);
// Reads `path` and locates its archive; every error starts with the path.
bool LoadArchiveFile(const std::string& path, Bytes& file, const uint8_t** base, size_t* size, std::string& error);
// An ARCHIVE argument opened for reading by position: the archive's bytes
// within the file (for an executable, read from its headers and resource
// directory alone).
class ArchiveFile : public ByteSource {
public:
  // False with `error` starting with the path.
  bool Open(const std::string& path, std::string& error);
  uint64_t Size() const override { return size_; }
  bool Read(uint64_t offset, uint8_t* to, size_t count) const override {
    return offset + count <= size_ && file_.Read(offset_ + offset, to, count);
  }
  uint64_t Offset() const { return offset_; } // of the archive in the file

private:
  FileSource file_;
  uint64_t offset_ = 0, size_ = 0;
};
// Parses the archive and decodes every member; false with `error` naming
// the first fault. `bytes`, when given, receives the decoded total.
bool CheckWholeArchive(const ByteSource& archive, std::string& error, uint64_t* bytes = nullptr);
bool CheckWholeArchive(const uint8_t* base, size_t size, std::string& error, uint64_t* bytes = nullptr);
// Makes `folder` when missing, inside a folder that must exist (the folders
// above it are never made); false with `error` when it cannot be had (no
// parent folder, a file in the way, no permission).
bool MakeFolder(const std::string& folder, std::string& error);
// Writes the members of a parsed archive into `folder`, an existing folder:
// every member, or those whose upper-case names are in `wanted`. The first
// of equal names wins, as in the updater. `written` receives the upper-case
// names written. Delta members are left out. False with `error` at the
// first member whose name could leave the folder, whose bytes do not
// decode, or that cannot be written.
bool ExtractMembers(const ByteSource& archive, const ParsedArchive& parsed, const std::string& folder,
                    const std::set<std::string>& wanted, std::set<std::string>& written, std::string& error);
bool ExtractMembers(const uint8_t* base, const ParsedArchive& archive, const std::string& folder,
                    const std::set<std::string>& wanted, std::set<std::string>& written, std::string& error);
// ASCII letters in upper case, as member names are matched.
std::string UpperAscii(std::string text);
// An entry's name as the field holds it (code page 932).
inline std::string EntryName(const ArchiveEntry& entry) {
  size_t n = 0;
  while (n < kNameCapacity && entry.name[n]) ++n;
  return std::string(entry.name, n);
}

// ---- Delta members (delta_members.cpp) --------------------------------------------------
// A delta member (archive.h, "Delta members") found by its name: what the
// updater finds when it looks for the delta of `target`, the first entry of
// that name, and the full member beside it, the first entry named `target`.
struct DeltaMember {
  size_t index = 0;
  std::string target; // the file it makes (code page 932)
  DeltaHeader header{};
  int64_t full = -1; // the full member's entry, -1 when there is none
};
// Whether an entry's name is a delta's; its file's name in *target.
bool IsDeltaName(const std::string& name, std::string* target = nullptr);
// Every delta member of the archive, each header read from its first bytes
// (nothing else is decoded). False with `error` when one cannot be read or
// does not start with a delta's header.
bool FindDeltaMembers(const ByteSource& archive, const ParsedArchive& parsed, std::vector<DeltaMember>& out,
                      std::string& error);
// Applies a delta member through the updater's own applier: the member
// read as any (its SHA-256 checked against the digest table), its
// instructions applied to `base`, the result handed to `sink` (when given)
// and its SHA-256 checked against the header's. Without a base, every read
// of the base gives zeros: the instructions' bounds and the result's exact
// size are checked, not its content. False with `error` saying what failed.
bool ApplyDeltaMember(const ByteSource& archive, const ParsedArchive& parsed, const DeltaMember& delta,
                      const ByteSource* base, const PieceSink& sink, std::string& error);
// The files of a folder tree, looked through for the bases of deltas: each
// file's SHA-256 is computed once, and only for files of a base's size.
class BaseFinder {
public:
  bool Open(const std::string& folder, std::string& error);
  // The file of the header's base size and SHA-256, one named `name`
  // (letter case ignored) tried first; empty when there is none.
  std::string Find(const DeltaHeader& header, const std::string& name);

private:
  struct File {
    std::string path, upperName;
    uint64_t size = 0;
    int digested = 0; // 1 computed, -1 unreadable
    Digest digest{};
  };
  std::vector<File> files_;
};
// "1234 bytes, sha256 0123abcd..." for a base or a result: the digest's
// first `digits` hexadecimal digits (all of them with 64).
std::string DescribeFile(uint32_t size, const uint8_t* digest, size_t digits = 64);

// ---- Executables ----------------------------------------------------------------
// Locates resource "UPDATE" 102 in a PE image (32- or 64-bit). Returns false
// with `error` set when the file is not a PE image, is cut short or damaged,
// or has no such resource; the bytes found lie inside `image`.
bool FindUpdateResourceInPe(const Bytes& image, size_t* offset, size_t* size, std::string& error);
// The same reading only the headers and the resource directory of a file.
bool FindUpdateResourceInPe(const ByteSource& image, uint64_t* offset, uint64_t* size, std::string& error);
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
// What an updater stub can do beyond the first archives: the words of its
// RCDATA resource "FA2FEATURES" (src/app/updater.rc). An archive with delta
// members is stamped only into a stub that has kDeltaFeature.
inline constexpr char16_t kFeaturesResource[] = u"FA2FEATURES";
inline constexpr char kDeltaFeature[] = "delta1";
bool StubHasFeature(const Bytes& image, const std::string& feature);

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
// The same laid out around an archive of `archiveSize` bytes that is not
// in memory: the stamped file is head, the archive, tail; the checksum
// field (at checkSumField, in head) is left for whoever has all the bytes.
struct StampedImage {
  Bytes head, tail;
  uint64_t archiveSize = 0;
  uint64_t checkSumField = 0;
};
bool StampUpdateResourceAround(const Bytes& exe, uint64_t archiveSize, StampedImage& out, std::string& error,
                               StampReport* report = nullptr);
// Writes the stamped updater to `output` (beside it until complete), the
// archive copied from `archive` a piece at a time.
bool WriteStampedUpdater(const Bytes& exe, const ByteSource& archive, const std::string& output, std::string& error,
                         StampReport* report = nullptr);

// ---- Files -------------------------------------------------------------------------
bool ReadWholeFile(const std::string& path, Bytes& out, std::string& error);
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

} // namespace fa2
