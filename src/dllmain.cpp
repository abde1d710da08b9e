// Windows library entry: each thread's counters are folded in when it ends,
// and the usage report runs when the DLL leaves the process.
#include <windows.h>

#include "accounting/accounting.h"

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
