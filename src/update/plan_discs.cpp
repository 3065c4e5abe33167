// The discs of a plan looked for now, as a tool shows them: each copy line
// that the player would be asked a disc for finds it in a drive, if it is
// there, and what the shell would be sent; a line with no drive to copy
// from, or whose source is not on the disc, is where the run would stop.
// (The updater looks when it reaches each line, asking until it is there.)
#include "update/update.h"

void FindPlanDiscs(const UpdateContext& context, UpdatePlan* plan) {
  if (plan->result != PlanResult::Runs) return;
  char drive[3] = {};
  for (int i = 0; i < plan->copyKeys; ++i) {
    PlannedCopy& c = plan->copyLines[i];
    if (c.entry < 0) continue;
    const CopyEntry& entry = plan->copies.entries[c.entry];
    if (c.askFirst) {
      drive[0] = 0;
      if (FindDiscDrive(*context.game, c.disc, drive)) c.askFirst = 0;
    }
    CopyText(c.drive, sizeof c.drive, drive);
    if (!drive[0]) {
      if (c.disc != 0) continue; // the player is asked for it; what it holds is not known
      c.fault = LineFault::NoDrive;
    } else if (!PlanCopy(entry, drive, context.game->installPath, &c.copy)) {
      c.fault = LineFault::NoDrive;
    } else if (ReadAttributes(c.copy.source) == kAttrMissing) {
      c.fault = LineFault::NoSource;
    } else {
      continue;
    }
    char text[kTextCapacity];
    FormatText(text, sizeof text, kCopyFailedFormat, entry.relativePath);
    c.decision = Decision::Fail;
    AddNotice(&plan->notices, text);
    plan->result = PlanResult::Fails;
    plan->stoppedKey = plan->updateKeys + i;
    for (int j = i + 1; j < plan->copyKeys; ++j)
      if (plan->copyLines[j].entry >= 0) plan->copyLines[j].decision = Decision::NotReached;
    return;
  }
}
