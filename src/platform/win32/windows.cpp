// Top-level windows, the modal dialog, message boxes and cursors.
#include "platform/win32/wide.h"

namespace {

// The standard dialog class, by its atom.
constexpr WORD kDialogClassAtom = 0x8002;

// The handlers of the dialog that is running; set for its lifetime.
const DialogHandlers* gHandlers = nullptr;

// A thin translation of window messages into the handlers' calls; the logic
// decides everything (Escape and the close box arrive as command 2).
INT_PTR CALLBACK DialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  const DialogHandlers* handlers = gHandlers;
  if (!handlers) return FALSE;
  switch (message) {
    case WM_INITDIALOG:
      if (handlers->initialise) handlers->initialise(dialog);
      return FALSE; // no initial keyboard focus
    case WM_COMMAND:
      if (handlers->command) handlers->command(dialog, LOWORD(wParam), HIWORD(wParam));
      return FALSE;
    case WM_SETCURSOR:
      if (handlers->setCursor && handlers->setCursor(dialog)) {
        // The cursor is set: stop the default handling from replacing it.
        SetWindowLongPtrW(dialog, DWLP_MSGRESULT, TRUE);
        return TRUE;
      }
      return FALSE;
    default: return FALSE;
  }
}

} // namespace

WindowHandle FindTopWindow(const char* className, const char* title) {
  // Names compare exactly as the game registered them: a name that is not
  // Shift-JIS finds no window.
  const WideOf<kTextCapacity> wideClass(className, true), wideTitle(title, true);
  if ((className && !wideClass.ok()) || (title && !wideTitle.ok())) return nullptr;
  return FindWindowW(className ? wideClass.get() : reinterpret_cast<LPCWSTR>(MAKEINTATOM(kDialogClassAtom)),
                     wideTitle.get());
}

void ShowTopWindow(WindowHandle window, int show) { ShowWindow(AsWindow(window), show); }

void BringToFront(WindowHandle window) { SetForegroundWindow(AsWindow(window)); }

intptr_t RunModalDialog(ModuleHandle module, int templateId, const DialogHandlers* handlers) {
  const DialogHandlers* outer = gHandlers;
  gHandlers = handlers;
  INT_PTR result = DialogBoxParamW(AsModule(module), MAKEINTRESOURCEW(templateId), nullptr, DialogProcedure, 0);
  gHandlers = outer;
  return result;
}

void EndModalDialog(WindowHandle dialog, intptr_t result) { EndDialog(AsWindow(dialog), result); }

WindowHandle DialogControl(WindowHandle dialog, int control) { return GetDlgItem(AsWindow(dialog), control); }

void EnableControl(WindowHandle control, int enable) {
  if (control) EnableWindow(AsWindow(control), enable ? TRUE : FALSE);
}

int ControlEnabled(WindowHandle control) { return control && IsWindowEnabled(AsWindow(control)) ? 1 : 0; }

void SetControlText(WindowHandle dialog, int control, const char* text) {
  SetDlgItemTextW(AsWindow(dialog), control, WideText(text).get());
}

void SetWindowCaption(WindowHandle window, const char* text) { SetWindowTextW(AsWindow(window), WideText(text).get()); }

void CheckRadio(WindowHandle dialog, int first, int last, int checked) {
  CheckRadioButton(AsWindow(dialog), first, last, checked);
}

void FocusControl(WindowHandle control) { SetFocus(AsWindow(control)); }

void ShowControl(WindowHandle control, int show) {
  if (control) ShowWindow(AsWindow(control), show);
}

void SetSystemCursor(int cursor) { SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(cursor))); }

int MessageBoxText(WindowHandle owner, const char* text, const char* caption, uint32_t style) {
  return MessageBoxW(AsWindow(owner), WideText(text).get(), WideText(caption).get(), style);
}
