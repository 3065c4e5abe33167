// What the plan asks of a delta member before anything is written: its
// header, and whether an installed file is its base.
#include <cstring>

#include "archive/archive.h"

int ReadDeltaMemberHeader(const MemberRef& delta, DeltaHeader* header) {
  uint8_t* workspace = static_cast<uint8_t*>(AllocateBlock(kMemberReaderWorkspace, false));
  if (!workspace) return 0;
  MemberReader reader;
  OpenMemberReader(&reader, *delta.entry, FetchFromMemory, const_cast<uint8_t*>(delta.stored), workspace);
  uint8_t bytes[kDeltaHeaderSize];
  uint32_t have = 0;
  while (have < kDeltaHeaderSize) {
    const uint8_t* piece;
    uint32_t count = 0;
    if (NextMemberPiece(&reader, &piece, &count) != PieceStatus::Piece) break;
    const uint32_t n = count < kDeltaHeaderSize - have ? count : kDeltaHeaderSize - have;
    std::memcpy(bytes + have, piece, n);
    have += n;
  }
  FreeBlock(workspace);
  return ParseDeltaHeader(bytes, have, header);
}

FileHandle OpenDeltaBase(const char* path) {
  FileHandle file = OpenFileForRead(path);
  if (file != kInvalidFile && (FileLinkCount(file) != 1 || !FileReachedAs(file, path))) {
    CloseFile(file);
    return kInvalidFile;
  }
  return file;
}

int FileIsDeltaBase(const char* path, const DeltaHeader& header) {
  constexpr uint32_t kBlock = 256u << 10;
  FileHandle file = OpenDeltaBase(path);
  if (file == kInvalidFile) return 0;
  uint8_t* blocks = FileSizeLow(file) == header.baseSize ? static_cast<uint8_t*>(AllocateBlock(2 * kBlock, false))
                                                         : nullptr;
  DigestHandle digest = blocks ? BeginDigest() : nullptr;
  int ok = digest != nullptr;
  uint64_t left = header.baseSize;
  // Two blocks take turns: the digest may still read the one before.
  for (int turn = 0; ok && left; turn ^= 1) {
    uint8_t* block = blocks + turn * kBlock;
    const uint32_t want = left < kBlock ? uint32_t(left) : kBlock;
    uint32_t done = 0;
    ok = ReadFromFile(file, block, want, &done) && done == want && UpdateDigest(digest, block, want);
    left -= want;
  }
  uint8_t actual[kDigestSize];
  if (digest && !FinishDigest(digest, actual)) ok = 0;
  CloseFile(file);
  FreeBlock(blocks);
  return ok && std::memcmp(actual, header.baseDigest, kDigestSize) == 0;
}
