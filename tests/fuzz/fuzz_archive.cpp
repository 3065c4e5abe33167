// Opening an archive and writing every member to disk through the test
// machine, whatever the bytes.
//
// Input: one byte of switches, then the archive (the embedded resource).
//   bit 0   an allocation fails while the directory is loaded
//   bit 1   each destination exists beforehand, holding "old"
//   bit 2   ... and is newer than any member (else older)
//   bit 3   ... and is read-only
//   bit 4   the newer-only rule is on
//   bit 5   which allocation fails (with bit 0): the directory block or the
//           working copy of a compressed directory
//   bit 6   the disk fills halfway through each member's write
//   bit 7   an allocation fails while each member is extracted
//
// Checks: no sanitizer report; a member that is written is written whole (its
// stated size, its time stamp, and the bytes an independent unscramble and
// decode of its stored bytes give); a failed extraction leaves the
// destination as it was; only the updater's own messages are shown; nothing is
// written outside the output folder and no temporary file is left; no block
// or handle is held afterwards.
#include <algorithm>
#include <memory>

#include "fuzz/fuzz_support.h"
#include "update/update.h"

using namespace fuzz_support;

namespace {

// One member written over `destination` by the engine's rules for one line
// ("u" when `newerOnly`, else plain): judged, staged beside it, moved into
// place and stamped. 1 when written or left alone as newer; on failure the
// first text the player would see in *shown.
int WriteLine(const ArchiveImage& image, const char* name, const char* destination, int newerOnly, std::string* shown) {
  UpdateEntry entry{newerOnly ? kOperationUpdate : kOperationPlain, {}, 0};
  CopyText(entry.relativePath, sizeof entry.relativePath, name);
  entry.baseNameOffset = BaseNameOffset(entry.relativePath);
  MemberRef member{};
  const int found = LocateMember(image, name, &member);
  StagedUpdate none;
  none.count = 0;
  LineFacts facts;
  LookAt(destination, none, &facts);
  char drive[3] = {};
  uint64_t shortfall = 0;
  if (!found || !MemberShortfall(destination, member.entry->uncompressedSize, &shortfall, drive)) shortfall = 0;
  const Judgement j = JudgeLine(entry, 0, facts, found ? member.entry : nullptr, shortfall);
  if (j.decision == Decision::KeepNewer) return 1;
  if (j.decision == Decision::Fail) {
    Notices notices{};
    FailureNotices(j.fault, destination, drive, shortfall, &notices);
    *shown = notices.texts[0];
    return 0;
  }
  char staged[kPathBuffer];
  StagingNameBeside(destination, 's', 0, ".new", staged);
  uint32_t error = 0;
  MemberProblem problem = MemberProblem::None;
  int written = WriteMemberFile(image, member, staged, &member.entry->timeStamp, &error, &problem) == 1;
  if (written && facts.attributes != kAttrMissing && (facts.attributes & kAttrReadOnly))
    WriteAttributes(destination, kAttrNormal);
  written = written && ReplaceFile(staged, destination);
  if (!written) {
    RemoveFile(staged);
    return 0;
  }
  StampTimesAtPath(destination, &member.entry->timeStamp);
  return 1;
}

// The drive's free space. A member needs at least as much room as its size,
// so no extraction asks for a larger block than this.
constexpr uint64_t kFreeSpace = uint64_t(64) << 20;
// Members looked at per input: every lookup walks the directory from the top.
constexpr uint32_t kMaxMembers = 64;
constexpr FileTime kEarliest = {1, 0};
constexpr FileTime kLatest = {0xFFFFFFFFu, 0x7FFFFFFFu};

const std::vector<const char*> kKnownTexts = {
    "Can't Find File in Resource !!", "Can't Allocate Memory !!",
    "ディスク容量が足りません。%s ドライブに %llu バイトの空き容量が必要です",
    "「%s」のデータが壊れています（チェックサムが一致しません）", // against the archive's digest table
};

// What the member holds, decoded apart from the extraction code; false when
// its stored bytes do not give its stated size.
bool DecodeMember(const ArchiveEntry& entry, const uint8_t* stored, std::string* out) {
  std::vector<uint8_t> bytes(stored, stored + entry.storedSize);
  if (entry.scrambleMarker == kScrambled) ScrambleBuffer(bytes.data(), entry.storedSize);
  if (!(entry.storageFlags & kMemberCompressed)) {
    if (entry.uncompressedSize != entry.storedSize) return false;
    out->assign(bytes.begin(), bytes.begin() + entry.uncompressedSize);
    return true;
  }
  std::unique_ptr<uint8_t[]> decoded(new uint8_t[size_t(entry.uncompressedSize) + 1]);
  if (!DecompressStreamBounded(decoded.get(), entry.uncompressedSize, bytes.data(), bytes.size())) return false;
  out->assign(reinterpret_cast<const char*>(decoded.get()), entry.uncompressedSize);
  return true;
}

void CheckBoxes() {
  for (const fake::BoxCall& box : fake::Boxes()) {
    FUZZ_CHECK(MatchesAny(kKnownTexts, box.text), "unexpected message: " + box.text);
    FUZZ_CHECK(box.style == kBoxError, box.text);
  }
}

void ExtractOne(const ArchiveImage& image, uint32_t index, uint8_t switches) {
  const ArchiveEntry& entry = image.entries[index];
  char name[kNameCapacity + 1] = {};
  std::memcpy(name, entry.name, kNameCapacity);

  char destination[32];
  std::snprintf(destination, sizeof destination, "C:\\OUT\\M%u", unsigned(index));
  const bool existed = switches & 0x02;
  if (existed)
    fake::AddFile(destination, "old", (switches & 0x04) ? kLatest : kEarliest,
                  (switches & 0x08) ? kAttrReadOnly : kAttrArchive);

  // The member a lookup by this name finds (the first of that name), and what
  // it should give.
  MemberRef member{};
  const bool located = LocateMember(image, name, &member);
  std::string expected;
  // A member larger than the free space is refused before it is decoded.
  const bool decodable = located && member.entry->uncompressedSize <= kFreeSpace &&
                         DecodeMember(*member.entry, member.stored, &expected);

  if (switches & 0x40) fake::SetWriteBudget(located ? member.entry->uncompressedSize / 2 : 0);
  if (switches & 0x80) fake::FailAllocationAfter(index % 2);
  std::string shown;
  const int result = WriteLine(image, name, destination, switches & 0x10, &shown);
  fake::SetWriteBudget(-1);
  fake::FailAllocationAfter(-1);

  const bool exists = fake::Exists(destination);
  const std::string content = fake::Content(destination);
  if (result == 1) {
    // Success writes a member that decodes, or leaves a newer file alone
    // (which the newer-only rule decides before the member is decoded).
    FUZZ_CHECK(located, destination);
    const FileTime before = (switches & 0x04) ? kLatest : kEarliest;
    const bool leftAlone = existed && (switches & 0x10) &&
                           FileTimeValue(before) > FileTimeValue(member.entry->timeStamp);
    FUZZ_CHECK(leftAlone || decodable, destination);
    FUZZ_CHECK(exists, destination);
    if (leftAlone) {
      FUZZ_CHECK(content == "old", destination);
      FUZZ_CHECK(FileTimeValue(fake::FileTimes(destination).write) == FileTimeValue(before), destination);
    } else {
      // Written whole, and stamped with the member's time.
      FUZZ_CHECK(content == expected, destination);
      FUZZ_CHECK(FileTimeValue(fake::FileTimes(destination).write) == FileTimeValue(member.entry->timeStamp),
                 destination);
    }
  } else {
    // Failed: the destination is as it was (a read-only one may have lost
    // that attribute, nothing more).
    FUZZ_CHECK(exists == existed, destination);
    if (existed) FUZZ_CHECK(content == "old", destination);
    if (!located) FUZZ_CHECK(shown == kMemberMissingText, destination);
  }

  // The in-memory lookup of the same name.
  if (located && (member.entry->storageFlags & kMemberCompressed) && member.entry->uncompressedSize > kFreeSpace)
    fake::FailAllocationAfter(0); // the system refuses a block of this size
  uint32_t size = 0xDEADBEEF;
  MemberProblem problem = MemberProblem::None;
  const uint8_t* bytes = FindMember(image, name, &size, &problem);
  fake::FailAllocationAfter(-1);
  if (bytes != nullptr) {
    FUZZ_CHECK(located, name);
    FUZZ_CHECK(size == member.entry->uncompressedSize, name);
    const bool inImage = bytes >= image.base && bytes < image.base + image.size;
    if (!(member.entry->storageFlags & kMemberCompressed)) {
      FUZZ_CHECK(inImage || size == 0, name);
    } else {
      FUZZ_CHECK(!inImage, name);
      FreeBlock(const_cast<uint8_t*>(bytes));
    }
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t switches = data[0];
  fake::Reset();
  fake::SetFreeSpace('C', kFreeSpace);
  fake::AddDirectory("C:\\OUT");
  SetErrorBoxCaption("UPDATE");
  // An exact-size copy of the bytes, so any read past the end is seen.
  fake::SetResource(std::vector<uint8_t>(data + 1, data + size));

  ArchiveImage image;
  image.base = LoadArchiveResource(nullptr, &image.size);
  if (image.base == nullptr) {
    FUZZ_CHECK(size == 1, "a resource of bytes was not mapped");
    return 0;
  }
  FUZZ_CHECK(image.size == size - 1, "resource size");

  if (switches & 0x01) fake::FailAllocationAfter((switches >> 5) & 1);
  uint8_t* directory = OpenArchive(image);
  fake::FailAllocationAfter(-1);
  if (directory == nullptr) {
    CheckNothingHeld();
    FUZZ_CHECK(fake::Boxes().empty(), "the reader shows nothing");
    return 0;
  }
  AttachDirectory(image, directory);
  FUZZ_CHECK(std::memcmp(directory, image.base, kHeaderSize) == 0, "header copy");

  const uint32_t count = std::min(DirectoryEntryCount(image), kMaxMembers);
  for (uint32_t i = 0; i < count; ++i) {
    (void)MemberDataOffset(image, i);
    ExtractOne(image, i, switches);
  }
  CloseArchive(image);
  FUZZ_CHECK(image.directory == nullptr && image.entries == nullptr, "closed");
  CheckBoxes();
  CheckNothingHeld();
  CheckFilesBelow({"C:\\OUT\\"});
  return 0;
}
