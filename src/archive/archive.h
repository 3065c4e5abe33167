// The embedded archive: container reader, scramble transform, stream decoder
// and the writing of members to disk. The container layout is described at the
// top of layout.cpp, the stream codes at the top of decompress.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

constexpr uint32_t kDirectoryCompressed = 1u << 0;
constexpr uint32_t kDirectoryScrambled = 1u << 1;
constexpr uint8_t kMemberCompressed = 2;
constexpr uint8_t kScrambled = 1; // the scramble marker's one meaningful value
constexpr uint32_t kHeaderSize = 16;
constexpr uint32_t kEntrySize = 280;
constexpr uint32_t kNameCapacity = 260;
constexpr uint32_t kScrambleSeed = 0x5D3A9C41u;

struct ArchiveHeader {
  uint8_t magic[4]; // "FA2\0"
  uint32_t flags;
  uint32_t directoryOffset;
  uint32_t entryCount;
};
static_assert(sizeof(ArchiveHeader) == kHeaderSize);

struct ArchiveEntry {
  char name[kNameCapacity]; // bare file name, NUL-terminated within the field
  uint8_t storageFlags;     // kMemberCompressed
  uint8_t reserved1;
  uint8_t scrambleMarker; // exactly kScrambled: scrambled with storedSize as key
  uint8_t reserved2;
  FileTime timeStamp;
  uint32_t uncompressedSize;
  uint32_t storedSize;
};
static_assert(sizeof(ArchiveEntry) == kEntrySize);

// The one open archive of the process, owned by the main sequence.
struct ArchiveImage {
  const uint8_t* base = nullptr; // the mapped resource; never written
  uint32_t size = 0;
  uint8_t* directory = nullptr; // header copy + entries, from OpenArchive
  ArchiveEntry* entries = nullptr;
};

// In 64 bits: a damaged stored size near 4 GiB must not wrap around to 0.
inline uint64_t RoundUp16(uint64_t n) { return (n + 15u) & ~uint64_t(15); }
inline uint32_t DirectoryEntryCount(const ArchiveImage& image) {
  return reinterpret_cast<const ArchiveHeader*>(image.directory)->entryCount;
}

// What a member that cannot be found or read is reported with.
extern const char kMemberMissingText[];
// The shortage report: the drive ("X:") and the missing byte count.
extern const char kShortageFormat[];

// ---- Member digests ------------------------------------------------------------
// An archive may carry one extra member, kDigestMemberName, stored plain
// (neither compressed nor scrambled), holding the SHA-256 of every member's
// plain content (after unscrambling and decoding):
//
//   offset 0   8 bytes   "FA2SHA2" and a NUL
//   offset 8   4 bytes   the directory's entry count, little-endian
//   offset 12  4 bytes   0
//   offset 16  32 bytes per directory entry, in directory order; the digest
//              member's own slot is all zero.
//
// No update line can name it: a line's member is the text after the path's
// last backslash, and this name begins with one. An updater that knows
// nothing of it finds every other member as before; an archive without it
// reads as before, unchecked.
inline constexpr char kDigestMemberName[] = "\\SHA-256";
constexpr uint32_t kDigestSize = 32;
constexpr uint32_t kDigestTableHeader = 16;
inline uint64_t DigestTableSize(uint32_t entryCount) { return kDigestTableHeader + uint64_t(kDigestSize) * entryCount; }
// Whether `table` (`size` bytes) is a digest table for `entryCount` entries.
inline int DigestTableValid(const uint8_t* table, uint64_t size, uint32_t entryCount) {
  static const uint8_t kMagic[8] = {'F', 'A', '2', 'S', 'H', 'A', '2', 0};
  if (size != DigestTableSize(entryCount)) return 0;
  for (int i = 0; i < 8; ++i)
    if (table[i] != kMagic[i]) return 0;
  const uint32_t count = uint32_t(table[8]) | uint32_t(table[9]) << 8 | uint32_t(table[10]) << 16 |
                         uint32_t(table[11]) << 24;
  return count == entryCount;
}

// ---- Scramble transform -------------------------------------------------------
// Self-inverse; keyed by `length`, which must be the length used to scramble.
void ScrambleBuffer(uint8_t* buffer, uint32_t length);
// The same transform on `count` bytes at `piece` that stand at `offset` (a
// multiple of 4) within a buffer of `length` bytes; only whole words inside
// the piece change, so pieces should end on a word or at the buffer's end.
void ScramblePiece(uint8_t* piece, uint32_t offset, uint32_t count, uint32_t length);

// ---- Stream decoder -------------------------------------------------------------
// The trusted form: decodes one whole well-formed stream into `dest`, which
// must hold the decoded size. Checks nothing.
void DecompressStream(uint8_t* dest, const uint8_t* src);
// The bounded form used on anything not known to be well formed: never reads
// past `srcSize` bytes, never writes past `destSize` bytes, never copies from
// before `dest`. Returns 1 only when the stream reaches its end code within
// the input having produced exactly `destSize` bytes. `produced`, when given,
// receives the count written either way.
int DecompressStreamBounded(uint8_t* dest, size_t destSize, const uint8_t* src, size_t srcSize,
                            size_t* produced = nullptr);

// The bounded decoder over windows, so a stream of any size decodes through
// fixed buffers. The caller owns both windows; the decoder reads input from
// in[inPos] up to in[inEnd] and writes output from out[outPos] up to
// out[outEnd], and leaves both positions and its bit buffer where it stopped.
// The bytes in front of out[outPos] must be the stream's last output, at
// least kDecodeHistory of them once that many were produced (copies reach
// that far back). A window marked final ends where the stream does. A status
// of OutputFull or InputLow asks for room or input, after which the same call
// goes on exactly where it stopped; Done means the end code came with the
// final window exactly full.
struct DecodeWindows {
  uint8_t* out;
  size_t outPos;
  size_t outEnd;
  bool outFinal;
  const uint8_t* in;
  size_t inPos;
  size_t inEnd;
  bool inFinal;
  uint64_t bits; // the decoder's own; zero before the first call
  uint32_t left;
};
enum class DecodeStatus { Damaged = 0, Done = 1, OutputFull = 2, InputLow = 3 };
constexpr size_t kDecodeHistory = 8192;
// A window that is not final must leave this much room (output) or hold this
// much (input) beyond its position, or the call asks again at once.
constexpr size_t kDecodeOutSlack = 384;
constexpr size_t kDecodeInSlack = 80;
DecodeStatus DecodeStreamPiece(DecodeWindows& w);

// ---- Structure checks (no system calls; shared with the fa2 tool) -----------------
// Reads the header and checks that the directory lies inside the resource and
// that its decoded size is plausible for its stored size. 1 when it can be loaded.
int CheckArchiveHeader(const uint8_t* base, uint32_t size, ArchiveHeader* header);
// Bytes of working copy the directory needs: the directory tail for a
// compressed one, 0 for a plain one.
uint32_t DirectoryWorkingSize(const ArchiveHeader& header, uint32_t size);
// Decodes the entries (entryCount * 280 bytes) into `entries`; `working` holds
// DirectoryWorkingSize bytes. 1 when the directory decoded exactly.
int DecodeDirectory(const uint8_t* base, uint32_t size, const ArchiveHeader& header, uint8_t* entries,
                    uint8_t* working);
// Whether a member whose stored bytes start at `offset` can be read: its name
// is terminated within the field, its bytes lie before the directory, and a
// plain member's size is exactly its stored size.
int MemberReadable(const ArchiveEntry& entry, uint64_t offset, uint32_t directoryOffset);

// ---- Reader ------------------------------------------------------------------------
// Maps resource "UPDATE" 102 of `module`; null on failure, else the bytes,
// with their count in *size.
const uint8_t* LoadArchiveResource(ModuleHandle module, uint32_t* size);
// Loads the directory of image.base/image.size into a new block (header copy
// followed by the entries, decoded). Null when the block cannot be had or the
// archive's structure does not fit its resource.
uint8_t* OpenArchive(const ArchiveImage& image);
// Stores the directory block in the image (directory and entries).
void AttachDirectory(ArchiveImage& image, uint8_t* directory);
// Frees the directory block and clears the image's references to it.
void CloseArchive(ArchiveImage& image);

// One member located by a directory walk.
struct MemberRef {
  const ArchiveEntry* entry;
  const uint8_t* stored; // image.base + MemberDataOffset
};
// Whether a lookup of `name` finds `entry`: its name is terminated within
// the field and equal to `name` ignoring case, as the system compares names.
int EntryHasName(const ArchiveEntry& entry, const char* name);
// Case-insensitive lookup, first match wins. 0 when absent or unreadable
// (stored bytes outside the data area); shows nothing.
int LocateMember(const ArchiveImage& image, const char* name, MemberRef* out);
// Offset of member `index`'s stored bytes (16 + rounded sizes before it).
uint32_t MemberDataOffset(const ArchiveImage& image, uint32_t index);
// Why a member could not be had. Nothing in the archive code shows a
// message; MemberProblemText gives the text the updater shows for it.
enum class MemberProblem : uint8_t {
  None,
  Missing,  // "Can't Find File in Resource !!": not there, or a stream that does not decode to its size
  NoMemory, // "Can't Allocate Memory !!"
  Damaged,  // kMemberDamagedFormat: the digest differs, or the digest table is damaged
  NotBase,  // a delta's base is not the file it was made from (the caller names the file)
};
void MemberProblemText(MemberProblem problem, const char* name, char* text, size_t capacity);

// Returns the member's bytes for use in memory (not unscrambled): a pointer
// into the image for a plain member, a new block the caller frees for a
// compressed one. Null on failure, with *problem Missing or NoMemory.
const uint8_t* FindMember(const ArchiveImage& image, const char* name, uint32_t* size, MemberProblem* problem);

// ---- Reading a member in pieces ----------------------------------------------------
// A member's plain bytes (unscrambled, decoded) handed out in pieces of at
// most kMemberPieceSize bytes, through a workspace of kMemberReaderWorkspace
// bytes the caller gives, whatever the member's size. The stored bytes come
// from `fetch`, which copies `count` of them from `offset` into `to` (1 when
// it could); FetchFromMemory reads them from memory at `context`.
constexpr uint32_t kMemberPieceSize = 1u << 20;
constexpr uint32_t kMemberStoredPieceSize = 256u << 10;
// Two output windows (history and a piece each) and the input window.
constexpr uint32_t kMemberOutputWindow = kDecodeHistory + kMemberPieceSize;
constexpr uint32_t kMemberReaderWorkspace = 2 * kMemberOutputWindow + kMemberStoredPieceSize;
using StoredFetch = int (*)(void* context, uint64_t offset, uint8_t* to, uint32_t count);
int FetchFromMemory(void* context, uint64_t offset, uint8_t* to, uint32_t count);
struct MemberReader {
  const ArchiveEntry* entry;
  StoredFetch fetch;
  void* context;
  uint8_t* outputs[2]; // the output windows; window.out is one of them
  uint8_t* input;      // the input window
  DecodeWindows window;
  uint64_t fetched;   // stored bytes fetched so far
  uint64_t handedOut; // plain bytes handed out so far
  size_t pending;     // where the output not yet handed out begins
  int finished;
};
void OpenMemberReader(MemberReader* reader, const ArchiveEntry& entry, StoredFetch fetch, void* context,
                      uint8_t* workspace);
// Piece: *bytes and *count hold the next plain bytes, which stay valid until
// the call after next (so a digest on another thread may still read one
// while the next is made). End: every plain byte was handed out and the
// stream ended exactly there. Damaged: the stored bytes do not decode to
// exactly the stated size, or could not be fetched.
enum class PieceStatus { Piece, End, Damaged };
PieceStatus NextMemberPiece(MemberReader* reader, const uint8_t** bytes, uint32_t* count);

// Takes plain bytes piece by piece; 1 when it took them.
using PieceSink = int (*)(void* context, const uint8_t* bytes, uint32_t count);

// ---- Delta members (delta.cpp; format: docs/formats.md, "Delta members") -------------
// A member named kDeltaPrefix + NAME holds what turns the installed NAME of
// one earlier version (the base) into the new NAME: its content is a delta,
// an 80-byte header and then instructions. No update line can name it (its
// name begins with a backslash), so an updater that knows nothing of deltas
// never takes one for a file. A member NAME beside it is the full file,
// used when the installed file is not the base.
//
//   offset 0   8    "FA2DELTA"
//   offset 8   4    the base's size
//   offset 12  4    the result's size
//   offset 16  32   the base's SHA-256
//   offset 48  32   the result's SHA-256
//   offset 80       instructions, until the result's size is produced; the
//                   delta ends exactly there.
//
// An instruction begins with a number v (LEB128: 7 bits a byte, lowest
// first, the top bit set on every byte but the last; at most 5 bytes and
// below 2^33). n = v >> 1 is at least 1:
//   v even: "add": the next n bytes of the delta are the result's next bytes;
//   v odd: "copy": a second number z follows (LEB128, at most 5 bytes,
//     below 2^33); the copy's start is the cursor plus z >> 1, or minus it
//     when z is odd; the result's next n bytes are the base's n bytes from
//     there, which must lie inside the base. The cursor (0 at first) is
//     then the copy's end.
// An instruction may not produce more than the result has left.
inline constexpr char kDeltaPrefix[] = "\\delta\\";
constexpr uint32_t kDeltaPrefixLength = 7;
constexpr uint32_t kDeltaHeaderSize = 80;
struct DeltaHeader {
  uint32_t baseSize;
  uint32_t resultSize;
  uint8_t baseDigest[kDigestSize];
  uint8_t resultDigest[kDigestSize];
};
// 1 when the first kDeltaHeaderSize of `bytes` are a delta's header.
int ParseDeltaHeader(const uint8_t* bytes, uint32_t count, DeltaHeader* header);
void PutDeltaHeader(const DeltaHeader& header, uint8_t out[kDeltaHeaderSize]);
// The delta's name for member `name`: 0 when it does not fit a name field.
int DeltaMemberName(const char* name, char out[kNameCapacity]);

// The applier: a delta's bytes in pieces of any size in, the result out to
// `sink` in pieces of at most kDeltaWindow bytes, each valid until the call
// after next (two windows take turns), through a workspace of
// kDeltaWorkspace bytes whatever the sizes. The base is read through
// `base` (StoredFetch: `count` bytes from `offset`, 1 when it could), only
// inside the header's base size. Nothing in the delta is trusted.
constexpr uint32_t kDeltaWindow = 256u << 10;
constexpr uint32_t kDeltaWorkspace = 2 * kDeltaWindow;
enum class DeltaStatus : uint8_t {
  More,        // give the next bytes (or FinishDelta at the delta's end)
  Done,        // FinishDelta: the result was produced exactly and handed out
  Damaged,     // not a delta, or one that breaks a rule above
  BaseFailed,  // the base could not be read
  SinkRefused, // the sink refused a piece
};
struct DeltaApplier {
  DeltaHeader header;
  StoredFetch base;
  void* baseContext;
  PieceSink sink;
  void* sinkContext;
  uint8_t* windows[2];
  uint32_t current, filled; // the window being filled and its bytes
  uint8_t headerBytes[kDeltaHeaderSize];
  uint32_t headerHave;
  uint64_t produced; // result bytes made so far (handed out or in the window)
  uint64_t cursor;   // where the last copy ended in the base
  uint64_t number;   // the number being read, and its bytes so far
  uint32_t numberBytes;
  uint8_t state;      // what the next bytes are
  uint64_t remaining; // bytes left of the current "add"
  uint64_t length;    // a copy's length, while its offset is read
  DeltaStatus status; // sticky once not More
};
void OpenDeltaApplier(DeltaApplier* applier, StoredFetch base, void* baseContext, PieceSink sink, void* sinkContext,
                      uint8_t* workspace);
DeltaStatus FeedDelta(DeltaApplier* applier, const uint8_t* bytes, uint32_t count);
DeltaStatus FinishDelta(DeltaApplier* applier);

// ---- Extraction -------------------------------------------------------------------
// `name` in the folder of `path` (everything up to its last backslash, by
// whole characters): a file beside it, so a rename stays on one volume.
// 0 when the result does not fit a path.
int NameBesidePath(const char* path, const char* name, char out[kPathBuffer]);
// Hands the plain bytes of `member` to `sink` piece by piece (each valid
// until the call after next), and to the digest when `expected` is the
// archive's for it. 1 when all went through and the digest agrees; 0 when
// the stream does not decode to exactly the stated size; -1 when the sink
// refused a piece; -2 when the digest differs or cannot be made.
int CheckedPieces(const MemberRef& member, const uint8_t* expected, PieceSink sink, void* context, uint8_t* workspace);
// CheckedPieces' result with why a member could not be had (-2 becomes 0).
int ReportedPieces(int result, MemberProblem* problem);
// Writes the plain bytes of `member` to `path` (created new: nothing may be
// there) piece by piece, checking the exact decode and the archive's
// digest, and stamps `time` when given. 1 when written. 0 when the member
// cannot be read (*problem: NoMemory, Missing for a stream that does not
// decode to exactly its stated size, Damaged for a digest that differs or a
// damaged digest table, found before `path` is created). -1 when the file
// cannot be created or written, with the system's reason in *error.
// Whatever was written stays for the caller to remove.
int WriteMemberFile(const ArchiveImage& image, const MemberRef& member, const char* path, const FileTime* time,
                    uint32_t* error, MemberProblem* problem);
// The plain bytes of `member`, checked as WriteMemberFile checks them, in a
// new zero-filled block two bytes longer than the member (so a text ends
// with a terminator); the caller frees it. Null, with *problem, when the
// member cannot be read or no memory is left.
uint8_t* ReadMemberBytes(const ArchiveImage& image, const MemberRef& member, MemberProblem* problem);
// Where the archive's digest of a member's plain bytes is: Absent (no entry
// a lookup of kDigestMemberName finds, so nothing to check), Present
// (*expected points at its 32 bytes), Damaged (such an entry is there but is
// not one readable table of exactly that name that fits the directory, or
// `entry` is the table itself: nothing can be trusted against it).
enum class DigestTable { Absent, Present, Damaged };
DigestTable ExpectedMemberDigest(const ArchiveImage& image, const ArchiveEntry& entry, const uint8_t** expected);
// The lookup every reader of the table makes, the updater's and the tools',
// over a directory's entries (`header.entryCount` of them): Absent when no
// entry has the table's name (EntryHasName: any letter case); else the first
// such entry in *index and the offset of its stored bytes in *offset, and
// Present when it can hold the table (the one entry of that name, spelt
// exactly so, stored plain, its bytes inside the data area, the size of a
// table for this directory), Damaged when not. Whether its bytes are a table
// (DigestTableValid) is the caller's to check.
DigestTable LocateDigestTable(const ArchiveHeader& header, const ArchiveEntry* entries, uint32_t* index,
                              uint64_t* offset);
// "「%s」のデータが壊れています（チェックサムが一致しません）": a member whose
// bytes are not what the archive's digest says.
extern const char kMemberDamagedFormat[];
// A delta member's header, from the first bytes of its content (the
// digest of the whole is checked when it is applied). 1 when it is one.
int ReadDeltaMemberHeader(const MemberRef& delta, DeltaHeader* header);
// Opens the file at `path` for reading as a delta's base: only the file
// itself, with one name, never one a link or another of its names leads to
// (the base is read with the updater's rights). kInvalidFile otherwise.
FileHandle OpenDeltaBase(const char* path);
// Whether the file at `path` is the delta's base: its size and SHA-256.
int FileIsDeltaBase(const char* path, const DeltaHeader& header);
// Writes the result of `delta` applied to the file at `basePath` to `path`
// (created new) as WriteMemberFile writes a member: 1 when written and the
// result's digest is the header's; 0 with *problem (Damaged, Missing,
// NoMemory, or NotBase: the base cannot be read or the result is not the
// one the delta makes, so the base was not the delta's); -1 when the file
// cannot be created or written, with *error.
int WriteDeltaFile(const ArchiveImage& image, const MemberRef& delta, const char* basePath, const char* path,
                   const FileTime* time, uint32_t* error, MemberProblem* problem);
// Creates `path` new (nothing may be there), writes all `length` bytes and,
// when `time` is given, sets its three times. 1 only when all of it worked;
// whatever was written stays. On failure *error (when given) receives the
// system's reason (a short write counts as a full disk).
int WriteAndStamp(const char* path, const void* bytes, uint32_t length, const FileTime* time,
                  uint32_t* error = nullptr);

// The free-space rule of a member's write: 1 when the drive of `destination`
// (its first two bytes, copied to `drive`) is known to have fewer than
// `bytes` available, with the missing count in *shortfall.
int MemberShortfall(const char* destination, uint32_t bytes, uint64_t* shortfall, char drive[3]);
// Whether the system refuses to recreate an existing file of these
// attributes with normal attributes (a directory, read-only, hidden, system).
int RefusesRecreate(uint32_t attributes);
