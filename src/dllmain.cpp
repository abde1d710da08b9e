// Library entry: the usage report runs when the library leaves the process.
#include "accounting/accounting.h"

#if defined(_WIN32)
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  switch (reason) {
    case DLL_THREAD_DETACH:
      xylotrak::accounting::detachThread();
      break;
    case DLL_PROCESS_DETACH:
      xylotrak::accounting::writeUsageReport();
      xylotrak::accounting::shutdown();
      break;
    default:
      break;
  }
  return TRUE;
}
#else
// Runs at dlclose and at process exit.
__attribute__((destructor)) static void xylotrakUnload() {
  xylotrak::accounting::writeUsageReport();
  xylotrak::accounting::shutdown();
}
#endif
