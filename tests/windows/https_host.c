/* A Windows host of the HTTPS request: loads the DLL with LoadLibrary, calls
 * wsGetUrlDll once per triple of arguments, in order, and unloads the DLL.
 * The trace of each call goes to C:\Xylotrak\xtk.txt (when that folder
 * exists), followed by the usage report that FreeLibrary appends.
 *
 * Usage: https_host DLL URL METHOD POST [URL METHOD POST]...
 * Exit status: 0 when every call returned its own url pointer, 2 when the
 * DLL or the export is missing or the arguments are wrong, 3 otherwise. */
#include <stdio.h>
#include <windows.h>

typedef const wchar_t *(*GetUrlFn)(const wchar_t *, const wchar_t *, const wchar_t *);

int wmain(int argc, wchar_t **argv) {
  if (argc < 5 || (argc - 2) % 3 != 0) {
    fprintf(stderr, "usage: https_host DLL URL METHOD POST [URL METHOD POST]...\n");
    return 2;
  }
  HMODULE dll = LoadLibraryW(argv[1]);
  if (dll == NULL) {
    printf("LoadLibrary failed: %lu\n", (unsigned long)GetLastError());
    return 2;
  }
  GetUrlFn getUrl = (GetUrlFn)(void (*)(void))GetProcAddress(dll, "wsGetUrlDll");
  if (getUrl == NULL) {
    printf("missing export wsGetUrlDll\n");
    return 2;
  }
  int failures = 0;
  for (int i = 2; i + 2 < argc; i += 3) {
    const wchar_t *got = getUrl(argv[i], argv[i + 1], argv[i + 2]);
    printf("%ls %ls: %s\n", argv[i + 1], argv[i],
           got == argv[i] ? "url returned" : "WRONG POINTER");
    if (got != argv[i]) ++failures;
  }
  if (!FreeLibrary(dll)) {
    printf("FreeLibrary failed: %lu\n", (unsigned long)GetLastError());
    return 2;
  }
  return failures == 0 ? 0 : 3;
}
