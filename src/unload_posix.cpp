// POSIX: the usage report runs when the shared library leaves the process,
// at dlclose or at exit, from the library's destructor.
#include "accounting/accounting.h"

__attribute__((destructor)) static void xylotrakUnload() {
  xylotrak::accounting::writeUsageReport();
  xylotrak::accounting::shutdown();
}
