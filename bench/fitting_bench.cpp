// Fitting taper models: least squares with six exponents on 100 000
// measurements, and stepwise selection from the default candidates on 20 000.
// Peak memory: run one case under /usr/bin/time -v (see the README).
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "xylotrak.h"

namespace {

struct Stems {
  std::vector<double> dbh, height, h, d;
};

// Trees of 10 measurements each on a fifth-degree profile with 2% noise.
Stems stems(std::size_t rows) {
  const double c[] = {1.18, -2.05, 4.1, -6.3, 4.95, -1.88};
  std::mt19937_64 rng(42);
  std::uniform_real_distribution<double> dbh(12, 60), total(12, 38), rel(0, 1);
  std::normal_distribution<double> noise(0, 0.02);
  Stems s;
  double D = 0, H = 0;
  for (std::size_t i = 0; i < rows; ++i) {
    if (i % 10 == 0) D = dbh(rng), H = total(rng);
    const double x = rel(rng),
                 y = c[0] + x * (c[1] + x * (c[2] + x * (c[3] + x * (c[4] + x * c[5]))));
    s.dbh.push_back(D);
    s.height.push_back(H);
    s.h.push_back(x * H);
    s.d.push_back(D * (y + noise(rng)));
  }
  return s;
}

void FitSixExponents(benchmark::State &state) {
  const Stems s = stems(static_cast<std::size_t>(state.range(0)));
  const double exps[] = {0, 1, 2, 3, 4, 5};
  double coefs[6], se[6];
  xylotrak_fit_stats stats{};
  for (auto _ : state) {
    const int32_t code = PHFtDll(s.dbh.data(), s.height.data(), s.h.data(), s.d.data(),
                                 static_cast<int64_t>(s.d.size()), exps, 5, coefs, se, &stats);
    if (code != XYLOTRAK_FIT_OK) state.SkipWithError("fit failed");
    benchmark::DoNotOptimize(coefs);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(FitSixExponents)->Arg(100000)->Unit(benchmark::kMillisecond);

void SelectStepwise(benchmark::State &state) {
  const Stems s = stems(static_cast<std::size_t>(state.range(0)));
  double exps[8], coefs[8];
  int32_t n = 0;
  xylotrak_fit_stats stats{};
  for (auto _ : state) {
    const int32_t code =
        PHFsDll(s.dbh.data(), s.height.data(), s.h.data(), s.d.data(),
                static_cast<int64_t>(s.d.size()), nullptr, 0, 8, exps, coefs, nullptr, &n, &stats);
    if (code != XYLOTRAK_FIT_OK) state.SkipWithError("selection failed");
    benchmark::DoNotOptimize(coefs);
  }
  state.counters["terms"] = n + 1;
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(SelectStepwise)->Arg(20000)->Unit(benchmark::kMillisecond);

}  // namespace
