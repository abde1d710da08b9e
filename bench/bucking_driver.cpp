// Runs one bucking case once and prints its outcome, so that its peak memory
// can be measured from outside (e.g. /usr/bin/time -v).
// Usage: xylotrak_bucking_driver CASE [--exact]
// CASE: sequential, near-limit, give-up (50 products), give-up-3, give-up-10,
// or one of the exact shapes (fixed-50, fixed-100, ranges-6, fixed-50-40m);
// --exact runs the exact optimiser on the optimised cases.
#include <cstdio>
#include <cstring>

#include "bucking_cases.h"

int main(int argc, char **argv) {
  bucking_bench::Case c;
  const bool exact = argc == 3 && std::strcmp(argv[2], "--exact") == 0;
  if (argc < 2 || argc > 3 || (argc == 3 && !exact) || !bucking_bench::caseByName(argv[1], c)) {
    std::fprintf(stderr,
                 "usage: %s sequential|near-limit|give-up|give-up-3|give-up-10|fixed-50|"
                 "fixed-100|ranges-6|fixed-50-40m [--exact]\n",
                 argv[0]);
    return 2;
  }
  bucking_bench::Result result{};
  tally_start();
  bucking_bench::run(c.tree, c.products, c.objective, result, exact || c.exact);
  int logs = 0;
  while (logs + 1 < 100 && result.logs[logs + 1].logNumber != 0) ++logs;
  std::printf("%s: result %g, %d logs, product volume %.6f m3, value %.4f\n", argv[1], result.code,
              logs, result.totals[0], result.totals[7]);
  std::printf("calls: volume %d, diameter %d, height %d\n", tally_count(2), tally_count(3),
              tally_count(4));
  return 0;
}
