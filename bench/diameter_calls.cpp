// A fixed amount of counted work for timing whole processes: THREADS threads
// each make CALLS diameter calls (one power term), then the slot-3 count is
// checked. Usage: xylotrak_diameter_calls CALLS [THREADS]
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "xylotrak.h"

int main(int argc, char **argv) {
  const long calls = argc > 1 ? std::atol(argv[1]) : 10000000;
  const int threads = argc > 2 ? std::atoi(argv[2]) : 1;
  if (calls <= 0 || threads <= 0) {
    std::fprintf(stderr, "usage: %s CALLS [THREADS]\n", argv[0]);
    return 2;
  }
  tally_start();
  std::vector<std::thread> workers;
  std::vector<double> sums(static_cast<std::size_t>(threads));
  for (int t = 0; t < threads; ++t)
    workers.emplace_back([calls, t, &sums] {
      static const double coefs[2] = {1, -1}, exps[2] = {0, 1};
      double sum = 0, h = 0.1 * t;
      for (long i = 0; i < calls; ++i) {
        sum += PHDiDll(30, 20, coefs, exps, 1, h);
        h = h < 19 ? h + 0.37 : 0.1;
      }
      sums[static_cast<std::size_t>(t)] = sum;
    });
  for (auto &w : workers) w.join();
  const long counted = static_cast<unsigned>(tally_count(3));
  std::printf("%ld calls counted of %ld\n", counted, calls * threads);
  return counted == (calls * threads) % 4294967296L ? 0 : 1;
}
