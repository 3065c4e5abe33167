// Running a plan: the update list staged and swapped all or nothing, then
// the disc copies in order. A line the plan found failing stops the run
// when it is reached (each earlier line is staged first, so a failure there
// is told first, as the player would meet it).
#include "update/update.h"

namespace {

// The plain write-failure text after the notices, or the failure's own.
RunResult WriteFailed(const WriteFailure& failure, Notices* notices) {
  char text[kTextCapacity];
  FormatWriteFailure(failure, text, sizeof text);
  AddNotice(notices, text);
  return RunResult::Failed;
}

RunResult RunUpdateList(const UpdatePlan& plan, const UpdateContext& context, Notices* notices) {
  WriteFailure failure{};
  char journal[kPathBuffer];
  if (!JournalPath(context.game->installPath, journal)) return WriteFailed(failure, notices);
  StagedUpdate update;
  ReadOnlyList keptReadOnly;
  if (!StageUpdateList(context, plan, journal, &update, &keptReadOnly, notices)) {
    RemoveJournal(journal);
    return RunResult::Failed;
  }
  if (!SwapStagedFiles(update, journal, &failure)) return WriteFailed(failure, notices);
  for (int i = 0; i < keptReadOnly.count; ++i) WriteAttributes(keptReadOnly.paths[i], kAttrNormal);
  RemoveJournal(journal);
  return RunResult::Done;
}

} // namespace

RunResult ExecutePlan(const UpdatePlan& plan, const UpdateContext& context, const RunHost& host, Notices* notices) {
  notices->count = 0;
  const RunResult written = RunUpdateList(plan, context, notices);
  if (written != RunResult::Done) return written;
  return RunCopyList(plan, context, host, notices);
}
