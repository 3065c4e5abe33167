// Writing one member to one file: lookup, free space, unscramble, decode,
// destination attributes, the newer-only rule, and the write itself.
#include <cstring>

#include "archive/archive.h"

const char kShortageFormat[] = "ディスク容量が足りません。%s ドライブに %llu バイトの空き容量が必要です";

namespace {

// "X:\dir\name" -> "X:\dir\~fa2XXXXXXXX.tmp": a name of this run beside the
// destination, so the final rename stays on one volume.
int TemporaryNameBeside(const char* path, char* out, size_t capacity) {
  static uint32_t counter = 0;
  char name[32];
  FormatText(name, sizeof name, "~fa2%u.tmp", (CurrentProcessId() << 8) + (counter++ & 0xFF));
  return capacity >= kPathBuffer && NameBesidePath(path, name, out);
}

}  // namespace

int NameBesidePath(const char* path, const char* name, char out[kPathBuffer]) {
  size_t folder = 0;
  for (const char* p = path; *p;) {
    const char* next = NextCharacter(p);
    if (next - p == 1 && *p == '\\') folder = size_t(p - path) + 1;
    if (next == p) break;
    p = next;
  }
  if (folder + std::strlen(name) + 1 > kPathCapacity) return 0;
  std::memcpy(out, path, folder);
  std::strcpy(out + folder, name);
  return 1;
}

namespace {

// Hands the member's pieces to the file, or into `memory` (room for the
// member's size) when given, and, when `expected` is the archive's digest
// for it, to the digest. The result as WriteMemberFile's, with -2 for
// content the digest does not vouch for.
int WritePieces(const MemberRef& member, const uint8_t* expected, FileHandle file, uint8_t* memory,
                uint8_t* workspace, uint32_t* error) {
  const ArchiveEntry& entry = *member.entry;
  DigestHandle digest = expected ? BeginDigest() : nullptr;
  // A member the archive's digest does not vouch for is never written whole.
  int result = expected && !digest ? -2 : 1;
  MemberReader reader;
  OpenMemberReader(&reader, entry, FetchFromMemory, const_cast<uint8_t*>(member.stored), workspace);
  uint32_t at = 0;
  while (result == 1) {
    const uint8_t* bytes;
    uint32_t count = 0;
    const PieceStatus status = NextMemberPiece(&reader, &bytes, &count);
    if (status == PieceStatus::End) break;
    if (status == PieceStatus::Damaged) {
      result = 0;
      break;
    }
    if (digest && !UpdateDigest(digest, bytes, count)) result = -2;
    if (memory) {
      if (count > entry.uncompressedSize - at) result = 0;  // more than the member holds
      else std::memcpy(memory + at, bytes, count), at += count;
      continue;
    }
    uint32_t written = 0;
    if (result == 1 && !(WriteToFile(file, bytes, count, &written) && written == count)) {
      // A write that reports success with fewer bytes is a full disk.
      *error = written == count ? LastSystemError() : kErrorDiskFull;
      result = -1;
    }
  }
  uint8_t actual[kDigestSize];
  if (digest && !FinishDigest(digest, actual) && result == 1) result = -2;
  if (digest && result == 1 && std::memcmp(actual, expected, kDigestSize) != 0) result = -2;
  return result;
}

void ShowMemberDamaged(const ArchiveEntry& entry) {
  char text[kTextCapacity];
  FormatText(text, sizeof text, kMemberDamagedFormat, entry.name);
  ShowCaptionError(text);
}

// The message for what WritePieces found, if any; its result with -2 as 0.
int Reported(int result, const ArchiveEntry& entry) {
  if (result == 0) ShowCaptionError(kMemberMissingText);  // a damaged stream is a member that cannot be read
  if (result == -2) ShowMemberDamaged(entry);
  return result == -2 ? 0 : result;
}

}  // namespace

uint8_t* ReadMemberBytes(const ArchiveImage& image, const MemberRef& member) {
  const uint8_t* expected = nullptr;
  if (ExpectedMemberDigest(image, *member.entry, &expected) == DigestTable::Damaged) {
    ShowMemberDamaged(*member.entry);
    return nullptr;
  }
  uint8_t* block = static_cast<uint8_t*>(AllocateBlock(size_t(member.entry->uncompressedSize) + 2, true));
  uint8_t* workspace = block ? static_cast<uint8_t*>(AllocateBlock(kMemberReaderWorkspace, false)) : nullptr;
  if (!workspace) {
    FreeBlock(block);
    ShowCaptionError("Can't Allocate Memory !!");
    return nullptr;
  }
  uint32_t error = 0;
  const int result = Reported(WritePieces(member, expected, kInvalidFile, block, workspace, &error), *member.entry);
  FreeBlock(workspace);
  if (result == 1) return block;
  FreeBlock(block);
  return nullptr;
}

int WriteMemberFile(const ArchiveImage& image, const MemberRef& member, const char* path, const FileTime* time,
                    uint32_t* error) {
  // A damaged digest table vouches for nothing: refused before any file is made.
  const uint8_t* expected = nullptr;
  if (ExpectedMemberDigest(image, *member.entry, &expected) == DigestTable::Damaged) {
    ShowMemberDamaged(*member.entry);
    return 0;
  }
  uint8_t* workspace = static_cast<uint8_t*>(AllocateBlock(kMemberReaderWorkspace, false));
  if (!workspace) {
    ShowCaptionError("Can't Allocate Memory !!");
    return 0;
  }
  FileHandle file = CreateNewFile(path);  // a name of its own: nothing prepared there is opened
  if (file == kInvalidFile) {
    *error = LastSystemError();
    FreeBlock(workspace);
    return -1;
  }
  int result = WritePieces(member, expected, file, nullptr, workspace, error);
  if (result == 1 && time && !StampFileTimes(file, time)) {
    *error = LastSystemError();
    result = -1;
  }
  CloseFile(file);
  FreeBlock(workspace);
  return Reported(result, *member.entry);
}

int WriteAndStamp(const char* path, const void* bytes, uint32_t length, const FileTime* time, uint32_t* error) {
  FileHandle file = CreateNewFile(path);
  if (file == kInvalidFile) {
    if (error) *error = LastSystemError();
    return 0;
  }
  uint32_t written = 0;
  int ok = WriteToFile(file, bytes, length, &written);
  // A write that reports success with fewer bytes is a full disk.
  if (error) *error = ok ? kErrorDiskFull : LastSystemError();
  ok = ok && written == length;
  if (ok && time) {
    ok = StampFileTimes(file, time);
    if (!ok && error) *error = LastSystemError();
  }
  CloseFile(file);
  return ok;
}

int ExistingFileIsNewer(const char* destination, const FileTime& memberTime) {
  FileHandle file = OpenFileForRead(destination);
  if (file == kInvalidFile) return 0;
  FileTime existing;
  const int newer = ReadLastWriteTime(file, &existing) && FileTimeValue(existing) > FileTimeValue(memberTime);
  CloseFile(file);
  return newer;
}

int RefusesRecreate(uint32_t attributes) {
  return attributes != kAttrMissing && (attributes & (kAttrDirectory | kAttrReadOnly | kAttrHidden | kAttrSystem));
}

int MemberShortfall(const char* destination, uint32_t bytes, uint64_t* shortfall, char drive[3]) {
  drive[0] = destination[0];
  drive[1] = destination[0] ? destination[1] : '\0';
  drive[2] = 0;
  uint64_t available = 0;
  if (!FreeBytesAvailable(drive, &available) || uint64_t(bytes) <= available) return 0;
  *shortfall = bytes - available;
  return 1;
}

int ExtractMember(const ArchiveImage& image, const char* name, const char* destination, int newerOnly) {
  MemberRef member;
  if (!LocateMember(image, name, &member)) {
    ShowCaptionError(kMemberMissingText);
    return 0;
  }
  const ArchiveEntry& entry = *member.entry;

  // Free space on the destination's drive: the bytes available to this user.
  // When the system cannot tell (no drive letter), the write goes ahead.
  char drive[3];
  uint64_t shortfall = 0;
  if (MemberShortfall(destination, entry.uncompressedSize, &shortfall, drive)) {
    char text[kTextCapacity];
    FormatText(text, sizeof text, kShortageFormat, drive, (unsigned long long)shortfall);
    ShowCaptionError(text);
    return 0;
  }

  const uint32_t attributes = ReadAttributes(destination);
  if (attributes != kAttrMissing) {
    if (attributes & kAttrDirectory) return 0;
    if (newerOnly && ExistingFileIsNewer(destination, entry.timeStamp)) {
      if (attributes & kAttrReadOnly) WriteAttributes(destination, kAttrNormal);
      return 1;
    }
    // The system refuses to recreate a hidden or system file with normal
    // attributes; the result stays the same with the safe write.
    if (attributes & (kAttrHidden | kAttrSystem)) return 0;
  }
  // The new content goes to a file beside the destination, which replaces
  // it only once complete: on failure the old file stays as it was.
  char temporary[kPathBuffer];
  const int beside = TemporaryNameBeside(destination, temporary, sizeof temporary);
  const char* target = beside ? temporary : destination;  // no room for a name: in place, the last resort
  uint32_t error = 0;
  if (WriteMemberFile(image, member, target, &entry.timeStamp, &error) != 1) {
    if (beside) RemoveFile(temporary);
    return 0;
  }
  if (!beside) return 1;
  if (attributes != kAttrMissing && (attributes & kAttrReadOnly)) WriteAttributes(destination, kAttrNormal);
  if (!ReplaceFile(temporary, destination)) {
    RemoveFile(temporary);
    return 0;
  }
  // A rename may hand the old file's creation time to the new one; stamp again.
  StampTimesAtPath(destination, &entry.timeStamp);
  return 1;
}
