// The wizard's pages, buttons and busy state.
//
// Page counter: 0 first page, 1 confirmation page, 2 the engine has run,
// 3 after the closing Next. Next acts on the counter and then adds 1; Back
// first takes 2 away, so from the free-space refusal (counter 2) it shows the
// confirmation page again. While a press is handled the busy flag voids Next,
// Back and Abort, and keeps the wait cursor; message boxes and the shell's
// copy progress run nested message loops that can deliver those presses.
#include "ui/wizard.h"

namespace {

WizardSession* gSession = nullptr;

void Enable(WindowHandle dialog, int control, int enable) { EnableControl(DialogControl(dialog, control), enable); }
void Show(WindowHandle dialog, int control, int show) { ShowControl(DialogControl(dialog, control), show ? 5 : 0); }

void HideAgreement(WindowHandle dialog) {
  Show(dialog, kAgreementEdit, 0);
  Show(dialog, kAgreeRadio, 0);
  Show(dialog, kDisagreeRadio, 0);
}

void ShowConfirmationPage(WindowHandle dialog) {
  ShowInfoText(dialog, "%sを実行します", gSession->update.description->modeText);
  Enable(dialog, kBackButton, 0);
  Enable(dialog, kNextButton, 1);
  Enable(dialog, kAbortButton, 1);
  HideAgreement(dialog);
}

void RunEngine(WindowHandle dialog) {
  if (gSession->engine)
    gSession->engine(dialog, gSession->update);
  else
    PerformUpdate(dialog, gSession->update);
}

void NextOrBack(WindowHandle dialog, bool back) {
  WizardState& state = gSession->state;
  if (state.busy) return;
  state.busy = 1;
  ShowInfoText(dialog, "");
  if (back) state.pageCounter -= 2;
  switch (state.pageCounter) {
    case 0: ShowConfirmationPage(dialog); break;
    case 1: RunEngine(dialog); break;
    case 2: EndModalDialog(dialog, 0); break;
    default: break;
  }
  state.pageCounter += 1;
  state.busy -= 1;
}

} // namespace

void ShowInfoText(WindowHandle dialog, const char* format, ...) {
  char text[kTextCapacity];
  va_list args;
  va_start(args, format);
  FormatTextV(text, sizeof text, format, args);
  va_end(args);
  SetControlText(dialog, kInfoText, text);
}

void ShowInfoTextVerbatim(WindowHandle dialog, const char* text) {
  char shown[kTextCapacity];
  FormatWithoutArguments(shown, sizeof shown, text);
  SetControlText(dialog, kInfoText, shown);
}

void SetButtonStates(WindowHandle dialog, int enabled) {
  Enable(dialog, kBackButton, enabled);
  Enable(dialog, kNextButton, 0);
  Enable(dialog, kAbortButton, enabled);
}

void WizardInitialise(WindowHandle dialog) {
  const UpdateDescription& d = *gSession->update.description;
  SetErrorBoxOwner(dialog);
  gSession->state = WizardState{0, 0};
  SetWindowCaption(dialog, gSession->caption);
  if (d.introText) {
    // An archive member: shown as written, no directive reads an argument.
    ShowInfoTextVerbatim(dialog, d.introText);
  } else {
    ShowInfoText(dialog, "「%s」の%sを開始します", d.modeFlag == 1 ? d.updaterTitle : d.gameTitle, d.modeText);
  }
  Enable(dialog, kBackButton, 0);
  Enable(dialog, kAbortButton, 1);
  if (d.agreementText) {
    Enable(dialog, kNextButton, 0);
    SetControlText(dialog, kAgreementEdit, d.agreementText);
    Enable(dialog, kAgreementEdit, 1);
    Enable(dialog, kAgreeRadio, 1);
    Enable(dialog, kDisagreeRadio, 1);
    CheckRadio(dialog, kAgreeRadio, kDisagreeRadio, kDisagreeRadio);
    Show(dialog, kAgreementEdit, 1);
    Show(dialog, kAgreeRadio, 1);
    Show(dialog, kDisagreeRadio, 1);
  } else {
    Enable(dialog, kNextButton, 1);
    HideAgreement(dialog);
  }
}

void WizardCommand(WindowHandle dialog, int control, int notification) {
  if (notification != 0 || gSession == nullptr) return;
  switch (control) {
    case kNextButton: NextOrBack(dialog, false); break;
    case kBackButton: NextOrBack(dialog, true); break;
    case kAbortButton:
      // Escape and the close box arrive as this command too; like the
      // button they do nothing while it is disabled.
      if (!gSession->state.busy && ControlEnabled(DialogControl(dialog, kAbortButton))) EndModalDialog(dialog, -1);
      break;
    case kAgreeRadio:
      Enable(dialog, kNextButton, 1);
      CheckRadio(dialog, kAgreeRadio, kDisagreeRadio, kAgreeRadio);
      break;
    case kDisagreeRadio:
      Enable(dialog, kNextButton, 0);
      CheckRadio(dialog, kAgreeRadio, kDisagreeRadio, kDisagreeRadio);
      break;
    default: break;
  }
}

int WizardSetCursor(WindowHandle) {
  if (gSession == nullptr || !gSession->state.busy) return 0;
  SetSystemCursor(kCursorWait);
  return 1;
}

intptr_t RunWizard(ModuleHandle module, WizardSession& session) {
  static const DialogHandlers handlers = {WizardInitialise, WizardCommand, WizardSetCursor};
  gSession = &session;
  const int templateId = session.update.description->agreementText ? kTemplateAgreement : kTemplatePlain;
  intptr_t result = RunModalDialog(module, templateId, &handlers);
  SetErrorBoxOwner(nullptr);
  gSession = nullptr;
  return result;
}
