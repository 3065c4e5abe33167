// The plan of one run, in the engine's order:
//
//   1. RequiredDiskSpace against the install drive: too little keeps the
//      wizard open (nothing else is read);
//   2. UpdateFile00.. read until the first absent or empty key: "e" lines
//      checked whatever their mode (the first that fails refuses the update,
//      and the copy list is not read), lines of another mode dropped;
//   3. CopyFile00.. read the same way (a line of another mode does not end
//      the list);
//   4. neither list holds a line: refused;
//   5. a line with nowhere to go, or leading outside its folder or through a
//      link, refuses the update before anything is written (update lines
//      first);
//   6. each update line judged in turn (judge.cpp), seeing what the lines
//      before it stage; the first that fails stops the run there;
//   7. each copy line: the disc it needs, asked for when it is not in a
//      drive when the line is reached.
//
// Nothing is written: the description is read, the game looked at.
#include <cstring>

#include "update/update.h"


namespace {

constexpr const char* kSection = "UPDATE";

// A value of section UPDATE as a number; 0 when absent or empty.
int32_t ReadUpdateNumber(const char* key) {
  char text[kPathCapacity];
  if (!ReadDescriptionValue(kSection, key, text, sizeof text)) return 0;
  return LeadingInteger(text);
}

void Stop(UpdatePlan* plan, PlanResult result, int key) {
  plan->result = result;
  plan->stoppedKey = key;
}

void CopyRefusal(const CopyEntry& entry, Notices* notices) {
  char text[kTextCapacity];
  FormatText(text, sizeof text, kCopyFailedFormat, entry.relativePath);
  AddNotice(notices, text);
}

// Steps 2 and 3: every key as read, and the accepted lines. 0 at a failed
// "e" check.
int ReadKeys(const UpdateContext& context, UpdatePlan* plan) {
  const InstalledGame& game = *context.game;
  plan->updates.count = 0;
  for (int index = 0; index < kUpdateListCapacity; ++index) {
    char key[16], value[kUpdateValueCapacity];
    FormatText(key, sizeof key, "UpdateFile%02i", index);
    if (!ReadDescriptionValue(kSection, key, value, sizeof value)) break;
    PlannedUpdate& p = plan->updateLines[plan->updateKeys++];
    std::memset(&p, 0, sizeof p);
    p.entry = -1;
    p.attributes = kAttrMissing;
    ParseUpdateLine(value, &p.line);
    if (KindOf(p.line.operation).check) {
      // Checked whatever the mode field says; a passed check leaves no entry.
      const int passes = ExistenceCheckPasses(game.installPath, p.line.path);
      p.decision = passes ? Decision::CheckPasses : Decision::CheckFails;
      if (!passes) {
        AddNotice(&plan->notices, context.description->existErrorMessage[0] ? context.description->existErrorMessage
                                                                            : kVersionErrorText);
        Stop(plan, PlanResult::Refused, index);
        return 0;
      }
      continue;
    }
    if (!UpdateLineSelected(p.line, game.installMode)) {
      p.decision = Decision::NotSelected;
      continue;
    }
    p.decision = Decision::NotReached;
    p.entry = plan->updates.count;
    EntryOfLine(p.line, &plan->updates.entries[plan->updates.count++]);
  }
  plan->copies.count = 0;
  for (int index = 0; index < kCopyListCapacity; ++index) {
    char key[16], value[kCopyValueCapacity];
    FormatText(key, sizeof key, "CopyFile%02i", index);
    if (!ReadDescriptionValue(kSection, key, value, sizeof value)) break;
    PlannedCopy& c = plan->copyLines[plan->copyKeys++];
    std::memset(&c, 0, sizeof c);
    c.entry = -1;
    c.wellFormed = ParseCopyLine(value, &c.line); // a malformed line is kept, to be refused
    if (!CopyLineSelected(c.line, game.installMode)) {
      c.decision = Decision::NotSelected;
      continue;
    }
    c.decision = Decision::NotReached;
    c.entry = plan->copies.count;
    CopyEntry& entry = plan->copies.entries[plan->copies.count++];
    entry.discNumber = c.line.discNumber;
    CopyText(entry.relativePath, sizeof entry.relativePath, c.line.path);
  }
  return 1;
}

PlannedUpdate* LineOfEntry(UpdatePlan* plan, int entry) {
  for (int i = 0; i < plan->updateKeys; ++i)
    if (plan->updateLines[i].entry == entry) return &plan->updateLines[i];
  return nullptr;
}
PlannedCopy* CopyOfEntry(UpdatePlan* plan, int entry) {
  for (int i = 0; i < plan->copyKeys; ++i)
    if (plan->copyLines[i].entry == entry) return &plan->copyLines[i];
  return nullptr;
}

// Step 5. 0 when a line refuses the update.
int CheckRefusals(const UpdateContext& context, UpdatePlan* plan) {
  const ListRefusal refusal = FindListRefusal(context, plan->updates, plan->copies);
  switch (refusal.fault) {
    case ListFault::None: return 1;
    case ListFault::NoFolder:
    case ListFault::TooLong:
    case ListFault::Outside:
    case ListFault::Link: {
      PlannedUpdate& p = *LineOfEntry(plan, refusal.index);
      p.decision = Decision::Refuse;
      p.fault = LineFault(int(LineFault::NoFolder) + int(refusal.fault) - int(ListFault::NoFolder));
      char text[kTextCapacity];
      FormatLineRefusal(refusal, plan->updates, text, sizeof text);
      AddNotice(&plan->notices, text);
      Stop(plan, PlanResult::Refused, int(&p - plan->updateLines));
      return 0;
    }
    case ListFault::CopyNoDisc:
    case ListFault::CopyOutside:
    case ListFault::CopyLink: {
      PlannedCopy& c = *CopyOfEntry(plan, refusal.index);
      c.decision = Decision::Refuse;
      c.fault = LineFault(int(LineFault::NoFolder) + int(refusal.fault) - int(ListFault::NoFolder));
      CopyRefusal(plan->copies.entries[refusal.index], &plan->notices);
      Stop(plan, PlanResult::Refused, plan->updateKeys + int(&c - plan->copyLines));
      return 0;
    }
  }
  return 1;
}

// The folders the run makes, one level each, before it stages into them.
struct MadeFolders {
  char paths[kUpdateListCapacity][kPathBuffer];
  int count;
  bool Has(const char* path) const {
    for (int i = 0; i < count; ++i)
      if (CompareNoCase(paths[i], path) == 0) return true;
    return false;
  }
};

bool IsFolderAt(const char* path, const MadeFolders& made) {
  const uint32_t a = ReadAttributes(path);
  return (a != kAttrMissing && (a & kAttrDirectory)) || made.Has(path);
}

// The folder part of `path`, up to its last single-byte backslash.
void ParentOf(const char* path, char parent[kPathBuffer]) {
  CopyText(parent, kPathBuffer, path);
  const int32_t cut = BaseNameOffset(parent);
  parent[cut > 0 ? cut - 1 : 0] = 0;
}

// Bytes the run stages, by drive letter, and what each drive had free.
struct DriveRoom {
  uint64_t staged[27];
  uint64_t available[27];
  int8_t known[27]; // 1 known, -1 unknown, 0 not asked yet
};
int DriveIndex(const char* path) {
  const char c = path[0];
  if (path[1] != ':') return 26;
  if (c >= 'a' && c <= 'z') return c - 'a';
  if (c >= 'A' && c <= 'Z') return c - 'A';
  return 26;
}

// Step 6: one accepted line, after the ones before it.
void PlanEntry(const UpdateContext& context, UpdatePlan* plan, PlannedUpdate& p, StagedUpdate* run, MadeFolders* made,
               DriveRoom* room) {
  const UpdateEntry& entry = plan->updates.entries[p.entry];
  char folder[kPathBuffer], parent[kPathBuffer];
  UpdateFolder(entry, context, folder);
  ParentOf(folder, parent);
  if (ReadAttributes(folder) == kAttrMissing && IsFolderAt(parent, *made) && !made->Has(folder)) {
    p.makesFolder = 1;
    CopyText(made->paths[made->count++], kPathBuffer, folder);
  }
  LineFacts facts;
  LookAt(p.destination, *run, &facts);
  p.attributes = facts.attributes;
  p.installedTimeKnown = facts.timeKnown;
  p.installedTime = facts.time;
  LineMember member;
  FindLineMember(*context.archive, entry, &member);
  const ArchiveEntry* judged = JudgedMember(member);
  const int found = judged != nullptr;
  if (found) {
    p.memberSize = WrittenSize(member);
    p.memberTime = judged->timeStamp;
  }
  const int d = DriveIndex(p.destination);
  if (!room->known[d]) {
    const char drive[3] = {p.destination[0], d < 26 ? ':' : '\0', 0};
    room->known[d] = FreeBytesAvailable(drive, &room->available[d]) ? 1 : -1;
  }
  p.available = room->available[d];
  const uint64_t need = room->staged[d] + p.memberSize;
  const uint64_t shortfall = room->known[d] > 0 && found && need > room->available[d] ? need - room->available[d] : 0;
  Judgement j = JudgeLine(entry, plan->overwriteOnly, facts, judged, shortfall);
  // Nothing makes a folder inside the relative path.
  ParentOf(p.destination, parent);
  if (j.decision == Decision::Write && !IsFolderAt(parent, *made))
    j = {Decision::Fail, LineFault::NoParent, j.reason, 0};
  if (member.hasDelta) {
    p.deltaHeader = member.header;
    p.deltaStored = member.delta.entry->storedSize;
  }
  // A delta needs its base, or the update is refused before anything is written.
  if (j.decision == Decision::Write) p.delta = ChooseDelta(member, p.destination, facts);
  if (p.delta == DeltaUse::NoBase) j = {Decision::Refuse, LineFault::NotBase, j.reason, 0};
  p.decision = j.decision;
  p.fault = j.fault;
  p.reason = j.reason;
  if (j.decision == Decision::Refuse) {
    FailureNotices(j.fault, p.destination, "", 0, &plan->notices);
    Stop(plan, PlanResult::Refused, int(&p - plan->updateLines));
    return;
  }
  if (j.decision == Decision::Fail) {
    const char drive[3] = {p.destination[0], p.destination[0] ? p.destination[1] : '\0', 0};
    FailureNotices(j.fault, p.destination, drive, shortfall, &plan->notices);
    Stop(plan, PlanResult::Fails, int(&p - plan->updateLines));
    return;
  }
  if (!j.stages) return;
  const uint32_t size = j.decision == Decision::KeepData ? facts.size : p.memberSize;
  room->staged[d] += size;
  p.stagedBytes = room->staged[d];
  StagedFile& f = run->files[run->count++];
  std::memset(&f, 0, sizeof f);
  CopyText(f.destination, sizeof f.destination, p.destination);
  CopyText(f.staged, sizeof f.staged, p.staged);
  f.hasTime = j.decision == Decision::Write;
  f.time = p.memberTime;
  f.size = size;
}

// Step 7: the disc each copy line needs, asked for when the line is
// reached (FindPlanDiscs looks for them now).
void PlanCopies(UpdatePlan* plan) {
  int32_t disc = 0; // the disc of the drive found last, or asked for
  for (int i = 0; i < plan->copyKeys; ++i) {
    PlannedCopy& c = plan->copyLines[i];
    if (c.entry < 0) continue;
    const CopyEntry& entry = plan->copies.entries[c.entry];
    c.decision = Decision::Copy;
    c.askFirst = entry.discNumber != 0;
    if (c.askFirst) disc = entry.discNumber;
    c.disc = disc;
  }
}

} // namespace

uint32_t RequiredDiskSpace() {
  // A negative figure stands for 2 GiB or more.
  return uint32_t(ReadUpdateNumber("RequiredDiskSpace"));
}

int OverwriteOnlyRule() { return ReadUpdateNumber("OverwriteOnly") != 0; }

int DiskSpaceShortfall(const char* installPath, uint32_t required, uint64_t* shortfall, char drive[3]) {
  drive[0] = installPath[0];
  drive[1] = installPath[0] ? installPath[1] : '\0';
  drive[2] = 0;
  if (required == 0) return 0;
  uint64_t available = 0;
  if (!FreeBytesAvailable(drive, &available)) return 0; // unknown: go ahead
  if (uint64_t(required) <= available) return 0;
  *shortfall = uint64_t(required) - available;
  return 1;
}

void PlanUpdate(const UpdateContext& context, UpdatePlan* plan) {
  plan->result = PlanResult::Runs;
  plan->stoppedKey = -1;
  plan->notices.count = 0;
  plan->updateKeys = plan->copyKeys = 0;
  plan->updates.count = plan->copies.count = 0;

  // 1.
  plan->requiredSpace = RequiredDiskSpace();
  char drive[3];
  plan->shortfall = 0;
  plan->available = 0;
  plan->spaceKnown = 0;
  if (plan->requiredSpace) {
    DiskSpaceShortfall(context.game->installPath, 0, &plan->shortfall, drive);
    plan->spaceKnown = FreeBytesAvailable(drive, &plan->available);
  }
  if (DiskSpaceShortfall(context.game->installPath, plan->requiredSpace, &plan->shortfall, drive)) {
    FormatText(plan->spaceText, sizeof plan->spaceText,
               "ディスク容量が足りません。\r%s ドライブに %llu バイトの空き容量が必要です", drive,
               (unsigned long long)plan->shortfall);
    plan->result = PlanResult::NoSpace;
    return;
  }
  plan->overwriteOnly = OverwriteOnlyRule();

  // 2-4.
  if (!ReadKeys(context, plan)) return;
  if (plan->updates.count == 0 && plan->copies.count == 0) {
    AddNotice(&plan->notices, kNoEntriesText);
    Stop(plan, PlanResult::Refused, -1);
    return;
  }
  // 5.
  if (!CheckRefusals(context, plan)) return;
  // 6.
  StagedUpdate run;
  MadeFolders made;
  DriveRoom room;
  run.count = 0;
  made.count = 0;
  std::memset(&room, 0, sizeof room);
  // Where every accepted line goes, and its names of this run, reached or not.
  for (int i = 0; i < plan->updateKeys; ++i) {
    PlannedUpdate& p = plan->updateLines[i];
    if (p.entry < 0) continue;
    const UpdateEntry& entry = plan->updates.entries[p.entry];
    char folder[kPathBuffer];
    if (UpdateFolder(entry, context, folder) && UpdateDestination(folder, entry, p.destination)) {
      StagingNameBeside(p.destination, 's', p.entry, ".new", p.staged);
      StagingNameBeside(p.destination, 's', p.entry, ".old", p.backup);
    }
  }
  for (int i = 0; i < plan->updateKeys && plan->result == PlanResult::Runs; ++i)
    if (plan->updateLines[i].entry >= 0) PlanEntry(context, plan, plan->updateLines[i], &run, &made, &room);
  // 7.
  if (plan->result == PlanResult::Runs) PlanCopies(plan);
}
