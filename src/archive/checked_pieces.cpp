// A member's plain bytes handed out piece by piece, each also given to the
// digest when the archive has one for the member; and a member read whole
// into memory that way. Only reads: what takes the pieces decides.
#include <cstring>

#include "archive/archive.h"

int CheckedPieces(const MemberRef& member, const uint8_t* expected, PieceSink sink, void* context, uint8_t* workspace) {
  const ArchiveEntry& entry = *member.entry;
  DigestHandle digest = expected ? BeginDigest() : nullptr;
  // A member the archive's digest does not vouch for is never taken whole.
  int result = expected && !digest ? -2 : 1;
  MemberReader reader;
  OpenMemberReader(&reader, entry, FetchFromMemory, const_cast<uint8_t*>(member.stored), workspace);
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
    if (result == 1 && !sink(context, bytes, count)) result = -1;
  }
  uint8_t actual[kDigestSize];
  if (digest && !FinishDigest(digest, actual) && result == 1) result = -2;
  if (digest && result == 1 && std::memcmp(actual, expected, kDigestSize) != 0) result = -2;
  return result;
}

int ReportedPieces(int result, MemberProblem* problem) {
  if (result == 0) *problem = MemberProblem::Missing; // a damaged stream is a member that cannot be read
  if (result == -2) *problem = MemberProblem::Damaged;
  return result == -2 ? 0 : result;
}

namespace {

// The member's bytes into a block of its size.
struct MemorySink {
  uint8_t* block;
  uint32_t at, size;
};

int ToMemory(void* context, const uint8_t* bytes, uint32_t count) {
  MemorySink& sink = *static_cast<MemorySink*>(context);
  if (count > sink.size - sink.at) return 0; // more than the member holds
  std::memcpy(sink.block + sink.at, bytes, count);
  sink.at += count;
  return 1;
}

} // namespace

uint8_t* ReadMemberBytes(const ArchiveImage& image, const MemberRef& member, MemberProblem* problem) {
  const uint8_t* expected = nullptr;
  if (ExpectedMemberDigest(image, *member.entry, &expected) == DigestTable::Damaged) {
    *problem = MemberProblem::Damaged;
    return nullptr;
  }
  uint8_t* block = static_cast<uint8_t*>(AllocateBlock(size_t(member.entry->uncompressedSize) + 2, true));
  uint8_t* workspace = block ? static_cast<uint8_t*>(AllocateBlock(kMemberReaderWorkspace, false)) : nullptr;
  if (!workspace) {
    FreeBlock(block);
    *problem = MemberProblem::NoMemory;
    return nullptr;
  }
  MemorySink sink{block, 0, member.entry->uncompressedSize};
  int result = CheckedPieces(member, expected, ToMemory, &sink, workspace);
  if (result == -1) result = 0; // more bytes than stated: a member that cannot be read
  result = ReportedPieces(result, problem);
  FreeBlock(workspace);
  if (result == 1) return block;
  FreeBlock(block);
  return nullptr;
}
