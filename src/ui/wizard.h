// The update wizard: one modal dialog from template 100 (no agreement) or
// 101 (with the agreement text, two radio buttons and an edit control). Its
// page logic lives here; the system's dialog procedure only translates window
// messages into WizardInitialise, WizardCommand and WizardSetCursor.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "update/update.h"

// Control identifiers of both templates.
constexpr int kNextButton = 1;
constexpr int kAbortButton = 2;
constexpr int kBackButton = 4;
constexpr int kAgreementEdit = 1000;
constexpr int kInfoText = 1001;
constexpr int kAgreeRadio = 1002;
constexpr int kDisagreeRadio = 1003;
constexpr int kTemplatePlain = 100;
constexpr int kTemplateAgreement = 101;

struct WizardState {
  int32_t pageCounter; // 0 first page, 1 confirmation, 2 engine has run, 3 closed
  int32_t busy;        // 1 while a Next or Back press is being handled
};

// One run of the wizard. `engine`, when set, replaces PerformUpdate (tests).
struct WizardSession {
  WizardState state;
  const char* caption;
  UpdateContext update;
  void (*engine)(WindowHandle dialog, const UpdateContext& context);
};

// Runs the whole update for the wizard `dialog` (perform.cpp): plans it,
// runs the plan and shows what it comes to. Returns with the dialog open
// after a free-space refusal (Back and Abort enabled) or after success (Next
// relabelled and focused); on any failure it has shown its messages and
// ended the dialog with -1.
void PerformUpdate(WindowHandle dialog, const UpdateContext& context);

// Opens the modal wizard (template 101 when the description carries an
// agreement text, else 100) and returns its result: 0 when finished, -1 when
// aborted, failed or not created. The error boxes are owned by the wizard
// while it is open and by nothing afterwards.
intptr_t RunWizard(ModuleHandle module, WizardSession& session);

// The dialog procedure's three messages.
void WizardInitialise(WindowHandle dialog);
void WizardCommand(WindowHandle dialog, int control, int notification);
int WizardSetCursor(WindowHandle dialog);

// The information text (control 1001), formatted into 1024 bytes.
void ShowInfoText(WindowHandle dialog, const char* format, ...);
// A finished text shown as it stands ("%%" shows as "%").
void ShowInfoTextVerbatim(WindowHandle dialog, const char* text);
// Back = v, Next disabled, Abort = v, in that order.
void SetButtonStates(WindowHandle dialog, int enabled);
