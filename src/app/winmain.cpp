// The process entry of the Windows GUI program. Before anything else, every
// later library load is kept to the system folder (the program's own folder
// may hold planted copies); then everything happens in the main sequence,
// which needs only the module handle; the other arguments (previous
// instance, command line, show state) are not used.
#include "app/app.h"

// The Win32 layer's first act (platform/win32/binding.cpp).
void RestrictLibrarySearch();

extern "C" int __stdcall WinMain(ModuleHandle instance, ModuleHandle, char*, int) {
  RestrictLibrarySearch();
  return RunUpdater(instance);
}
