// The process entry of the Windows GUI program. Everything happens in the
// main sequence, which needs only the module handle; the other arguments
// (previous instance, command line, show state) are not used.
#include "app/app.h"

extern "C" int __stdcall WinMain(ModuleHandle instance, ModuleHandle, char*, int) {
  return RunUpdater(instance);
}
