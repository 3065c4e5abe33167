// The wizard's second Next: the update planned, then run, and every text of
// it shown here, in its order: the free-space refusal (the page stays), the
// page's start, a refusal or failure in the error box, the disc prompts and
// the copy being made, and the page's completion.
#include "ui/wizard.h"

namespace {

struct Progress {
  WindowHandle dialog;
  const UpdateContext* context;
};

void ShowCopying(void* context, const CopyEntry& entry) {
  ShowInfoText(static_cast<Progress*>(context)->dialog, "%s をコピーしています", entry.relativePath);
}

int AskForDisc(void* context, int32_t disc) {
  const Progress& p = *static_cast<Progress*>(context);
  char text[kTextCapacity];
  FormatText(text, sizeof text, "ＣＤ－ＲＯＭドライブに「%s」ディスク %i を入れて下さい",
             p.context->description->gameTitle, int(disc));
  return MessageBoxText(p.dialog, text, ErrorBoxCaption(), kBoxOkCancel) == kAnswerOk;
}

void Refuse(WindowHandle dialog, const Notices& notices) {
  for (int i = 0; i < notices.count; ++i) ShowCaptionError(notices.texts[i]);
  EndModalDialog(dialog, -1);
}

} // namespace

void PerformUpdate(WindowHandle dialog, const UpdateContext& context) {
  const UpdateDescription& description = *context.description;
  UpdatePlan plan;
  PlanUpdate(context, &plan);
  if (plan.result == PlanResult::NoSpace) {
    ShowInfoTextVerbatim(dialog, plan.spaceText);
    SetButtonStates(dialog, 1);
    return;
  }

  ShowInfoText(dialog, "%sを実行しています", description.modeText);
  SetButtonStates(dialog, 0);
  SetSystemCursor(kCursorWait);
  if (plan.result == PlanResult::Refused) return Refuse(dialog, plan.notices);

  Progress progress{dialog, &context};
  const RunHost host{dialog, &progress, ShowCopying, AskForDisc};
  Notices notices;
  switch (ExecutePlan(plan, context, host, &notices)) {
    case RunResult::Done: break;
    case RunResult::Failed: return Refuse(dialog, notices);
    case RunResult::Declined: EndModalDialog(dialog, -1); return;
  }

  ShowInfoText(dialog, "%sは完了しました", description.modeText);
  SetControlText(dialog, kNextButton, "完了");
  WindowHandle next = DialogControl(dialog, kNextButton);
  EnableControl(next, 1);
  FocusControl(next);
  SetSystemCursor(kCursorArrow);
}
