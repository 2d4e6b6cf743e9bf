// Process attach: the driver keeps its own module handle so that it can find
// the screen dictionary beside its file. Nothing else is set up or torn down.
#if defined(_WIN32)
#include <windows.h>

#include "module_directory.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason,
                               LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) zolv::KeepModuleHandle(instance);
  return TRUE;
}
#endif
