// How often the exact optimiser beats the breadth-first search on an
// inventory: generates trees (random diameter, height and a perturbed
// five-term profile), bucks each with both by value against the four-product
// table, and prints the share of trees with a strictly higher value and the
// mean gain. Usage: xylotrak_exact_inventory [TREES] [THREADS]
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

#include "bucking_cases.h"

namespace {

struct Tally {
  long trees = 0, givenUp = 0, bothWin = 0, exactBetter = 0, exactOnly = 0;
  double gainPercentSum = 0;
};

void buckRange(long first, long last, Tally &t) {
  const std::vector<ProductSpec> table = bucking_bench::fourProducts();
  for (long i = first; i < last; ++i) {
    std::mt19937_64 rng(static_cast<unsigned long>(i) * 7919u + 17u);
    auto uni = [&](double lo, double hi) { return std::uniform_real_distribution<>(lo, hi)(rng); };
    bucking_bench::Tree tree;
    tree.dbh = uni(18, 55);
    tree.height = uni(16, 36);
    const double f = uni(0.9, 1.1);  // fuller or slimmer stems
    tree.coefs[1] *= f;
    tree.coefs[2] *= f;
    std::vector<ProductSpec> a = table, b = table;
    bucking_bench::Result ra{}, rb{};
    const double searched = bucking_bench::run(tree, a, 0, ra, false);
    const double exact = bucking_bench::run(tree, b, 0, rb, true);
    ++t.trees;
    if (searched == 99.0) ++t.givenUp;
    if (exact == 1.0 && searched != 1.0) ++t.exactOnly;
    if (exact == 1.0 && searched == 1.0) {
      ++t.bothWin;
      const double va = ra.totals[7], vb = rb.totals[7];
      if (vb > va) {
        ++t.exactBetter;
        t.gainPercentSum += va > 0 ? (vb - va) / va * 100 : 0;
      }
      if (vb < va) std::printf("tree %ld: exact %.17g below searched %.17g\n", i, vb, va);
    }
  }
}

}  // namespace

int main(int argc, char **argv) {
  const long trees = argc > 1 ? std::atol(argv[1]) : 10000;
  const int threads = argc > 2 ? std::max(1, std::atoi(argv[2])) : 2;
  std::vector<Tally> tallies(static_cast<std::size_t>(threads));
  std::vector<std::thread> workers;
  for (int w = 0; w < threads; ++w)
    workers.emplace_back(buckRange, trees * w / threads, trees * (w + 1) / threads,
                         std::ref(tallies[static_cast<std::size_t>(w)]));
  for (auto &w : workers) w.join();
  Tally all;
  for (const Tally &t : tallies) {
    all.trees += t.trees, all.givenUp += t.givenUp, all.bothWin += t.bothWin;
    all.exactBetter += t.exactBetter, all.exactOnly += t.exactOnly;
    all.gainPercentSum += t.gainPercentSum;
  }
  std::printf(
      "trees %ld; breadth-first search gave up on %ld (%.2f%%), exact answered %ld of them\n",
      all.trees, all.givenUp, 100.0 * all.givenUp / all.trees, all.exactOnly);
  std::printf(
      "both answered %ld; exact strictly higher on %ld (%.2f%% of those), mean gain %.3f%%\n",
      all.bothWin, all.exactBetter, 100.0 * all.exactBetter / std::max(1L, all.bothWin),
      all.exactBetter ? all.gainPercentSum / all.exactBetter : 0.0);
  return 0;
}
