// The two error boxes and their state: the owner window (the wizard while it
// is open, else none) and the current window caption.
#include "platform/platform.h"

namespace {
WindowHandle gOwner = nullptr;
const char* gCaption = "UPDATE";
} // namespace

void SetErrorBoxOwner(WindowHandle owner) { gOwner = owner; }
WindowHandle ErrorBoxOwner() { return gOwner; }
void SetErrorBoxCaption(const char* caption) { gCaption = caption ? caption : "UPDATE"; }
const char* ErrorBoxCaption() { return gCaption; }

void ShowSetupError(const char* text) { MessageBoxText(gOwner, text, "INSTCMMN", kBoxError); }
void ShowCaptionError(const char* text) { MessageBoxText(gOwner, text, gCaption, kBoxError); }
