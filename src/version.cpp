// The library's version, as CMake's project() defines it.
#include "xylotrak.h"

extern "C" XYLOTRAK_API const char *xylotrak_version(void) { return XYLOTRAK_VERSION_STRING; }
