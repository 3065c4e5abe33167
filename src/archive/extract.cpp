// Writing one member to a new file, piece by piece, checked against the
// archive's digest (checked_pieces.cpp). Nothing here shows a message: the
// caller is told what went wrong (MemberProblem).
#include <cstring>

#include "archive/archive.h"

namespace {

// The file the pieces go to, and the system's reason when one cannot be written.
struct FileSink {
  FileHandle file;
  uint32_t* error;
};

int ToFile(void* context, const uint8_t* bytes, uint32_t count) {
  const FileSink& sink = *static_cast<FileSink*>(context);
  uint32_t written = 0;
  if (WriteToFile(sink.file, bytes, count, &written) && written == count) return 1;
  // A write that reports success with fewer bytes is a full disk.
  *sink.error = written == count ? LastSystemError() : kErrorDiskFull;
  return 0;
}

} // namespace

int WriteMemberFile(const ArchiveImage& image, const MemberRef& member, const char* path, const FileTime* time,
                    uint32_t* error, MemberProblem* problem) {
  // A damaged digest table vouches for nothing: refused before any file is made.
  const uint8_t* expected = nullptr;
  if (ExpectedMemberDigest(image, *member.entry, &expected) == DigestTable::Damaged) {
    *problem = MemberProblem::Damaged;
    return 0;
  }
  uint8_t* workspace = static_cast<uint8_t*>(AllocateBlock(kMemberReaderWorkspace, false));
  if (!workspace) {
    *problem = MemberProblem::NoMemory;
    return 0;
  }
  FileHandle file = CreateNewFile(path); // a name of its own: nothing prepared there is opened
  if (file == kInvalidFile) {
    *error = LastSystemError();
    FreeBlock(workspace);
    return -1;
  }
  FileSink sink{file, error};
  int result = CheckedPieces(member, expected, ToFile, &sink, workspace);
  if (result == 1 && time && !StampFileTimes(file, time)) {
    *error = LastSystemError();
    result = -1;
  }
  CloseFile(file);
  FreeBlock(workspace);
  return ReportedPieces(result, problem);
}

namespace {

// A delta's bytes go through the applier; its result goes to the file and
// to the result's digest.
struct DeltaRun {
  DeltaApplier applier;
  FileSink file;
  DigestHandle digest;
  FileHandle base;
  uint8_t* cache; // kBaseCache bytes of the base from cacheStart; cacheHave of them read
  uint64_t cacheStart;
  uint32_t cacheHave;
};
// Short copies are served from one block of the base read at a time, so a
// delta of many small copies costs few reads.
constexpr uint32_t kBaseCache = 64u << 10;

int FromBase(void* context, uint64_t offset, uint8_t* to, uint32_t count) {
  DeltaRun& run = *static_cast<DeltaRun*>(context);
  uint32_t done = 0;
  if (count >= kBaseCache / 4) return ReadFileAt(run.base, offset, to, count, &done) && done == count;
  if (offset < run.cacheStart || offset + count > run.cacheStart + run.cacheHave) {
    run.cacheStart = offset;
    if (!ReadFileAt(run.base, offset, run.cache, kBaseCache, &run.cacheHave)) run.cacheHave = 0;
    if (run.cacheHave < count) return 0;
  }
  std::memcpy(to, run.cache + (offset - run.cacheStart), count);
  return 1;
}

int ToResult(void* context, const uint8_t* bytes, uint32_t count) {
  DeltaRun& run = *static_cast<DeltaRun*>(context);
  if (!ToFile(&run.file, bytes, count)) return 0;
  if (run.digest && !UpdateDigest(run.digest, bytes, count)) run.digest = nullptr; // released below
  return 1;
}

int ToApplier(void* context, const uint8_t* bytes, uint32_t count) {
  return FeedDelta(&static_cast<DeltaRun*>(context)->applier, bytes, count) == DeltaStatus::More;
}

} // namespace

int WriteDeltaFile(const ArchiveImage& image, const MemberRef& delta, const char* basePath, const char* path,
                   const FileTime* time, uint32_t* error, MemberProblem* problem) {
  const uint8_t* expected = nullptr;
  if (ExpectedMemberDigest(image, *delta.entry, &expected) == DigestTable::Damaged) {
    *problem = MemberProblem::Damaged;
    return 0;
  }
  DeltaRun run{};
  run.base = OpenDeltaBase(basePath);
  if (run.base == kInvalidFile) {
    *problem = MemberProblem::NotBase;
    return 0;
  }
  uint8_t* workspace = static_cast<uint8_t*>(AllocateBlock(kMemberReaderWorkspace + kDeltaWorkspace + kBaseCache,
                                                           false));
  run.cache = workspace + kMemberReaderWorkspace + kDeltaWorkspace;
  const DigestHandle digest = workspace ? BeginDigest() : nullptr;
  if (!digest) {
    FreeBlock(workspace);
    CloseFile(run.base);
    *problem = MemberProblem::NoMemory;
    return 0;
  }
  int result = -1;
  run.file = FileSink{CreateNewFile(path), error};
  run.digest = digest;
  if (run.file.file == kInvalidFile) {
    *error = LastSystemError();
  } else {
    OpenDeltaApplier(&run.applier, FromBase, &run, ToResult, &run, workspace + kMemberReaderWorkspace);
    result = CheckedPieces(delta, expected, ToApplier, &run, workspace);
    const DeltaStatus status = result == 1 ? FinishDelta(&run.applier) : run.applier.status;
    if (status == DeltaStatus::Damaged) result = 0;
    if (status == DeltaStatus::BaseFailed) result = -3;
  }
  uint8_t actual[kDigestSize];
  const int digested = FinishDigest(digest, actual) && run.digest;
  if (result == 1 && (!digested || std::memcmp(actual, run.applier.header.resultDigest, kDigestSize) != 0)) result = -3;
  if (result == 1 && time && !StampFileTimes(run.file.file, time)) {
    *error = LastSystemError();
    result = -1;
  }
  if (run.file.file != kInvalidFile) CloseFile(run.file.file);
  CloseFile(run.base);
  FreeBlock(workspace);
  if (result == -3) {
    *problem = MemberProblem::NotBase;
    return 0;
  }
  return ReportedPieces(result, problem);
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
