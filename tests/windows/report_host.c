/* A Windows host: loads the DLL with LoadLibrary, makes known calls through
 * GetProcAddress and unloads it with FreeLibrary, which runs the usage report.
 * Usage: report_host [path of xylotrak.dll]
 * Exit status: 0 when every call answered as expected, 2 when the DLL or an
 * export is missing, 3 when a result or counter is wrong. */
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

typedef double (*DiameterFn)(double, double, const double *, const double *, int, double);
typedef double (*VolumeFn)(double, double, const double *, const double *, int, double, double,
                           double, double, double);
typedef int (*CountFn)(double, double, const double *, const double *, int, double, double, double,
                       double, double);
typedef double (*FormFn)(const double *, const double *, int);
typedef int (*TallyFn)(int);

static HMODULE dll;
static int failures;

static void (*entry(const char *name))(void) {
  FARPROC p = GetProcAddress(dll, name);
  if (p == NULL) {
    printf("missing export %s\n", name);
    exit(2);
  }
  return (void (*)(void))p;
}

static void expectNumber(const char *what, double got, double want) {
  if (got != want) {
    printf("%s: got %.17g, want %.17g\n", what, got, want);
    ++failures;
  }
}

int main(int argc, char **argv) {
  const char *path = argc > 1 ? argv[1] : "xylotrak.dll";
  dll = LoadLibraryA(path);
  if (dll == NULL) {
    printf("LoadLibrary(%s) failed: %lu\n", path, (unsigned long)GetLastError());
    return 2;
  }
  DiameterFn diameter = (DiameterFn)entry("PHDiDll");
  DiameterFn height = (DiameterFn)entry("PHHiDll");
  VolumeFn volume = (VolumeFn)entry("PHViDll");
  FormFn form = (FormFn)entry("PHFFDll");
  CountFn count = (CountFn)entry("PHCTDll");
  TallyFn tallyCount = (TallyFn)entry("tally_count");

  /* A cone: 30 cm at the ground, 20 m tall. */
  const double coefs[2] = {1, -1}, exps[2] = {0, 1};
  expectNumber("PHDiDll(10)", diameter(30, 20, coefs, exps, 1, 10), 15);
  expectNumber("PHDiDll(5)", diameter(30, 20, coefs, exps, 1, 5), 22.5);
  /* The first evaluation, at mid-stem, hits 15 cm exactly. */
  expectNumber("PHHiDll(15)", height(30, 20, coefs, exps, 1, 15), 10);
  const double cone = volume(30, 20, coefs, exps, 1, 0, 0, 0, 0, 0);
  if (!(cone > 0.4712388 && cone < 0.4712389)) {
    printf("PHViDll: got %.17g\n", cone);
    ++failures;
  }
  expectNumber("PHFFDll", form(coefs, exps, 1) * 3, 1);
  for (int i = 0; i < 4; ++i)
    expectNumber("PHCTDll", count(30, 20, coefs, exps, 1, 0.5, 5.5, 0, 0, 2.5), 2);

  /* Slots 0 to 6: 0, 0, 1, 3 (two calls and one inside PHHiDll), 1, 1, 4. */
  const int want[7] = {0, 0, 1, 3, 1, 1, 4};
  for (int slot = 0; slot < 7; ++slot) {
    char what[32];
    snprintf(what, sizeof what, "tally_count(%d)", slot);
    expectNumber(what, tallyCount(slot), want[slot]);
  }

  if (!FreeLibrary(dll)) {
    printf("FreeLibrary failed: %lu\n", (unsigned long)GetLastError());
    return 2;
  }
  /* Without the log folder the report is skipped and stderr stays usable. */
  fputs("report_host: stderr still open\n", stderr);
  fflush(stderr);
  printf("report_host: %d failure(s)\n", failures);
  return failures == 0 ? 0 : 3;
}
