// One rule set decides every accepted update line, in this order:
//
//   1. overwrite-only ("o", or OverwriteOnly=1) and no file there: skip;
//   2. "d" and a file there: it keeps its own bytes (left exactly as it is
//      when the system would not recreate it, or it cannot be read in
//      full; the member is written when it cannot be opened at all);
//   3. the member is not in the archive: fail;
//   4. its drive lacks room for it beside what the run staged: fail;
//   5. a folder stands at the destination: fail;
//   6. "u" and the file there is newer than the member: keep it;
//   7. a hidden or system file is there: fail (the system would not
//      recreate it);
//   8. otherwise the member is written.
//
// "There" is what the run will have made of the destination by then: when
// an earlier line stages a file for the same destination, the later line
// sees that new file (its time, no attributes but the archive bit), as it
// would if every line were written in place in turn. The plan judges each
// line with the facts it looks at; the run judges again, with the facts of
// that moment, right before it stages.
#include "update/update.h"

namespace {

// Newer than any member's time: a "d" file staged with its own bytes gets
// the time of its writing.
constexpr FileTime kWrittenNow = {0xFFFFFFFFu, 0x7FFFFFFFu};

int ExistingFile(uint32_t attributes) { return attributes != kAttrMissing && !(attributes & kAttrDirectory); }

} // namespace

const LineKind kLineKinds[kOperationCount] = {
    // letter, name, data folder, newer only, keeps data, overwrite only, check
    {"", "plain", 0, 0, 0, 0, 0}, {"u", "u", 0, 1, 0, 0, 0}, {"d", "d", 1, 0, 1, 0, 0},
    {"o", "o", 0, 0, 0, 1, 0},    {"e", "e", 0, 0, 0, 0, 1},
};

void LookAt(const char* destination, const StagedUpdate& run, LineFacts* facts) {
  for (int i = run.count - 1; i >= 0; --i) {
    const StagedFile& f = run.files[i];
    if (CompareNoCase(f.destination, destination) != 0) continue;
    facts->attributes = kAttrArchive;
    facts->timeKnown = 1;
    facts->time = f.hasTime ? f.time : kWrittenNow;
    facts->readable = 1;
    facts->size = f.size;
    facts->ownBytes = f.staged;
    return;
  }
  facts->attributes = ReadAttributes(destination);
  facts->timeKnown = 0;
  facts->time = FileTime{};
  facts->readable = 0;
  facts->size = 0;
  facts->ownBytes = destination;
  if (!ExistingFile(facts->attributes)) return;
  FileHandle file = OpenFileForRead(destination);
  if (file == kInvalidFile) return;
  facts->timeKnown = ReadLastWriteTime(file, &facts->time);
  facts->size = FileSizeLow(file);
  facts->readable = facts->size != 0xFFFFFFFFu;
  CloseFile(file);
}

Judgement JudgeLine(const UpdateEntry& entry, int overwriteOnly, const LineFacts& facts, const ArchiveEntry* member,
                    uint64_t shortfall) {
  const LineKind& kind = KindOf(entry.operation);
  const uint32_t a = facts.attributes;
  const bool exists = a != kAttrMissing;
  if ((overwriteOnly || kind.overwriteOnly) && !ExistingFile(a)) return {Decision::Skip, LineFault::None, {}, 0};
  WriteReason reason = !exists ? WriteReason::NewFile : WriteReason::Replace;
  if (kind.keepsData && ExistingFile(a)) {
    if (RefusesRecreate(a)) return {Decision::KeepData, LineFault::None, {}, 0};
    if (facts.readable) return {Decision::KeepData, LineFault::None, {}, 1};
    reason = WriteReason::ReplaceData;
  }
  if (!member) return {Decision::Fail, LineFault::MemberMissing, reason, 0};
  if (shortfall) return {Decision::Fail, LineFault::NoRoom, reason, 0};
  if (exists && (a & kAttrDirectory)) return {Decision::Fail, LineFault::FolderInWay, reason, 0};
  if (exists && kind.newerOnly) {
    const uint64_t installed = FileTimeValue(facts.time), time = FileTimeValue(member->timeStamp);
    if (facts.timeKnown && installed > time) return {Decision::KeepNewer, LineFault::None, reason, 0};
    reason = !facts.timeKnown    ? WriteReason::ReplaceUntimed
             : installed == time ? WriteReason::ReplaceSame
                                 : WriteReason::ReplaceOlder;
  }
  if (exists && (a & (kAttrHidden | kAttrSystem))) return {Decision::Fail, LineFault::Hidden, reason, 0};
  return {Decision::Write, LineFault::None, reason, 1};
}

void FindLineMember(const ArchiveImage& image, const UpdateEntry& entry, LineMember* member) {
  *member = LineMember{};
  member->hasFull = LocateMember(image, MemberNameOf(entry), &member->full);
  char name[kNameCapacity];
  member->hasDelta = DeltaMemberName(MemberNameOf(entry), name) && LocateMember(image, name, &member->delta) &&
                     ReadDeltaMemberHeader(member->delta, &member->header);
}

const ArchiveEntry* JudgedMember(const LineMember& member) {
  return member.hasFull ? member.full.entry : member.hasDelta ? member.delta.entry : nullptr;
}

uint32_t WrittenSize(const LineMember& member) {
  return member.hasFull ? member.full.entry->uncompressedSize : member.hasDelta ? member.header.resultSize : 0;
}

DeltaUse ChooseDelta(const LineMember& member, const char* destination, const LineFacts& facts) {
  if (!member.hasDelta) return DeltaUse::None;
  // Never through a link: the base is read with the updater's rights.
  if (facts.ownBytes == destination && ExistingFile(facts.attributes) && !(facts.attributes & kAttrReparsePoint) &&
      FileIsDeltaBase(destination, member.header))
    return DeltaUse::Delta;
  return member.hasFull ? DeltaUse::FullInstead : DeltaUse::NoBase;
}
