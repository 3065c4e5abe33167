// Writing one member to one file: lookup, free space, unscramble, decode,
// destination attributes, the newer-only rule, and the write itself.
#include <cstring>

#include "archive/archive.h"

const char kShortageFormat[] = "ディスク容量が足りません。%s ドライブに %llu バイトの空き容量が必要です";

namespace {

uint8_t* TakeBlock(uint32_t bytes) { return static_cast<uint8_t*>(AllocateBlock(bytes ? bytes : 1, false)); }

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

MemberBytes::~MemberBytes() {
  if (decoded) FreeBlock(decoded);
  if (unscrambled) FreeBlock(unscrambled);
}

int ReadMemberBytes(const ArchiveImage& image, const MemberRef& member, MemberBytes* out) {
  const ArchiveEntry& entry = *member.entry;
  out->data = member.stored;
  out->size = entry.uncompressedSize;
  if (entry.scrambleMarker == kScrambled) {
    out->unscrambled = TakeBlock(entry.storedSize);
    if (!out->unscrambled) {
      ShowCaptionError("Can't Allocate Memory !!");
      return 0;
    }
    std::memcpy(out->unscrambled, out->data, entry.storedSize);
    ScrambleBuffer(out->unscrambled, entry.storedSize);
    out->data = out->unscrambled;
  }
  if (entry.storageFlags & kMemberCompressed) {
    out->decoded = TakeBlock(entry.uncompressedSize);
    if (!out->decoded) {
      ShowCaptionError("Can't Allocate Memory !!");
      return 0;
    }
    if (!DecompressStreamBounded(out->decoded, entry.uncompressedSize, out->data, entry.storedSize)) {
      // A damaged stream is a member that cannot be read; nothing is written.
      ShowCaptionError(kMemberMissingText);
      return 0;
    }
    out->data = out->decoded;
  }
  // A member the archive's digest does not vouch for is never written.
  if (CheckMemberDigest(image, entry, out->data, out->size) == DigestCheck::Differs) {
    char text[kTextCapacity];
    FormatText(text, sizeof text, kMemberDamagedFormat, entry.name);
    ShowCaptionError(text);
    return 0;
  }
  return 1;
}

int WriteAndStamp(const char* path, const void* bytes, uint32_t length, const FileTime* time, uint32_t* error) {
  FileHandle file = CreateFileForWrite(path);
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

int WriteWholeFile(const char* path, const void* bytes, uint32_t length, const FileTime* time) {
  // The system refuses to recreate a read-only, hidden or system file with
  // normal attributes; the result stays the same with the safe write.
  if (RefusesRecreate(ReadAttributes(path))) return 0;
  char temporary[kPathBuffer];
  if (!TemporaryNameBeside(path, temporary, sizeof temporary)) {
    // No room for a name beside it: write in place as the last resort.
    return WriteAndStamp(path, bytes, length, time);
  }
  if (!WriteAndStamp(temporary, bytes, length, time) || !ReplaceFile(temporary, path)) {
    RemoveFile(temporary);
    return 0;
  }
  // A rename may hand the old file's creation time to the new one; stamp again.
  if (time) StampTimesAtPath(path, time);
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

  MemberBytes bytes;
  if (!ReadMemberBytes(image, member, &bytes)) return 0;

  const uint32_t attributes = ReadAttributes(destination);
  if (attributes != kAttrMissing) {
    if (attributes & kAttrDirectory) return 0;
    if (attributes & kAttrReadOnly) WriteAttributes(destination, kAttrNormal);
    if (newerOnly && ExistingFileIsNewer(destination, entry.timeStamp)) return 1;
  }
  return WriteWholeFile(destination, bytes.data, bytes.size, &entry.timeStamp);
}
