// The REML fit of random tree effects (PHFmDll): 500 trees of 15
// measurements each on a cubic profile, every tree with its own level and
// slope (random effects on terms 0 and 1) and 1.5% measurement noise,
// simulated with a fixed seed. Reports the time of one fit and, as
// counters, the Nelder-Mead iterations it took and the size of the data.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "xylotrak.h"

namespace {

struct Stems {
  std::vector<double> dbh, height, h, d;
  std::vector<int64_t> tree;
};

Stems stems(int trees, int perTree) {
  const double beta[] = {1.15, -1.2, 0.3, -0.25};
  std::mt19937_64 rng(2026);
  std::uniform_real_distribution<double> dbh(15, 55), total(14, 36), rel(0.01, 0.95);
  std::normal_distribution<double> level(0, 0.05), slope(0, 0.04), noise(0, 0.015);
  Stems s;
  for (int t = 0; t < trees; ++t) {
    const double D = dbh(rng), H = total(rng), b0 = level(rng), b1 = slope(rng);
    for (int j = 0; j < perTree; ++j) {
      const double x = rel(rng);
      const double y = (beta[0] + b0) + x * ((beta[1] + b1) + x * (beta[2] + x * beta[3]));
      s.dbh.push_back(D);
      s.height.push_back(H);
      s.h.push_back(x * H);
      s.d.push_back(D * (y + noise(rng)));
      s.tree.push_back(t);
    }
  }
  return s;
}

void RemlFit(benchmark::State &state) {
  const auto trees = static_cast<int>(state.range(0)), perTree = static_cast<int>(state.range(1));
  const Stems s = stems(trees, perTree);
  const double exps[] = {0, 1, 2, 3};
  const int32_t random[] = {0, 1};
  double coefs[4], se[4], cov[16], d[4];
  xylotrak_mixed_stats stats{};
  for (auto _ : state) {
    const int32_t code =
        PHFmDll(s.dbh.data(), s.height.data(), s.h.data(), s.d.data(), s.tree.data(),
                static_cast<int64_t>(s.d.size()), exps, 3, random, 2, coefs, se, cov, d, &stats);
    if (code != XYLOTRAK_FIT_OK) state.SkipWithError("REML fit failed");
    benchmark::DoNotOptimize(coefs);
  }
  state.counters["nm_iterations"] = stats.iterations;
  state.counters["trees"] = static_cast<double>(stats.trees);
  state.counters["rows"] = static_cast<double>(stats.rowsUsed);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(s.d.size()));
}
BENCHMARK(RemlFit)->Args({500, 15})->Unit(benchmark::kMillisecond);

}  // namespace
