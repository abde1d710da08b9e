// Cost of the taper exports against the pow calls they cannot avoid.
//
// Every export case has a baseline that times the same number of bare pow
// calls on varied arguments: BM_<export> against BM_<export>_Pow. The ratio
// of the two is the overhead of everything else (the call, the accounting
// prologue, the sums, the search logic). Each case reports "pow_calls", the
// pow evaluations per call.
//
// A height search stops early when it meets the target diameter exactly,
// which happens often once the bisection has converged, so the number of
// diameter evaluations differs from input to input. It is read from the call
// accounting (slot 3) for each input before timing, and the baseline makes
// exactly that many pow calls for the same input.
//
// Independent pow calls overlap in the processor, but each step of a height
// search needs the diameter of the step before. The _PowChained baselines of
// the search cases make the argument of every group of n pow calls (one
// diameter evaluation) depend on the previous group's sum, as in the search.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

#include "xylotrak.h"

namespace {

constexpr double kDbh = 32, kHeight = 30;
// The cone (one power term) and a five-term profile.
const double kConeCoefs[2] = {1, -1}, kConeExps[2] = {0, 1};
const double kCoefs5[6] = {1.21, -0.83, 0.94, -1.52, 0.61, -0.41};
const double kExps5[6] = {0, 0.55, 1.6, 2.7, 4.3, 7.5};
constexpr int kTerms5 = 5;

// Inputs cycle through tables so that no call sees a constant argument.
constexpr unsigned kInputs = 4096;
struct Table {
  double v[kInputs];
  Table(double lo, double hi, std::uint32_t seed) {
    for (double &d : v) {
      seed = seed * 1664525u + 1013904223u;
      d = lo + (hi - lo) * ((seed >> 8) / 16777216.0);
    }
  }
  double operator[](std::uint64_t i) const { return v[i % kInputs]; }
};
const Table kHeights(0.3, 29.7, 1);
const Table kDiams(3, 30, 2);  // reached inside the stem
const Table kRelative(0.01, 0.99, 3);

// Bare pow calls: count of them, arguments as in the five-term profile.
inline void powCalls(int count, std::uint64_t &k) {
  for (int c = 0; c < count; ++c, ++k) {
    benchmark::DoNotOptimize(std::pow(kRelative[k], kExps5[1 + k % kTerms5]));
  }
}

// Diameter evaluations in a row, each of kTerms5 pow calls whose argument
// depends on the sum of the evaluation before (x + (s - s) is x, but only
// once s is known).
inline void chainedEvaluations(int count, std::uint64_t &k, double &s) {
  for (int e = 0; e < count; ++e) {
    const double x = kRelative[k] + (s - s);
    s = 0;
    for (int t = 1; t <= kTerms5; ++t, ++k) s = s + std::pow(x, kExps5[t]);
    benchmark::DoNotOptimize(s);
  }
}

// The pow calls made by one call of an export for one input.
struct PowWork {
  int evaluations = 0;  // diameter evaluations, kTerms5 pow calls each
  int extra = 0;        // pow calls of its own
  int total() const { return evaluations * kTerms5 + extra; }
};

// Counts the diameter evaluations (slot 3) that call(i) makes for every input.
std::vector<PowWork> powWorkPerInput(const std::function<void(std::uint64_t)> &call, int extra) {
  std::vector<PowWork> work(kInputs);
  for (unsigned i = 0; i < kInputs; ++i) {
    const std::uint32_t before = static_cast<std::uint32_t>(tally_count(3));
    call(i);
    const std::uint32_t after = static_cast<std::uint32_t>(tally_count(3));
    work[i] = {static_cast<int>(after - before), extra};
  }
  return work;
}

double meanPowCalls(const std::vector<PowWork> &work) {
  double s = 0;
  for (const PowWork &w : work) s += w.total();
  return s / static_cast<double>(work.size());
}

// The baselines of an export with a height search.
void independentBaseline(benchmark::State &state, const std::vector<PowWork> &work) {
  std::uint64_t i = 0, k = 0;
  for (auto _ : state) powCalls(work[i++ % kInputs].total(), k);
  state.counters["pow_calls"] = meanPowCalls(work);
}
void chainedBaseline(benchmark::State &state, const std::vector<PowWork> &work) {
  std::uint64_t i = 0, k = 0;
  double s = 0;
  for (auto _ : state) {
    const PowWork &w = work[i++ % kInputs];
    chainedEvaluations(w.evaluations, k, s);
    powCalls(w.extra, k);
  }
  state.counters["pow_calls"] = meanPowCalls(work);
}

void heightSearch(std::uint64_t i) {
  benchmark::DoNotOptimize(PHHiDll(kDbh, kHeight, kCoefs5, kExps5, kTerms5, kDiams[i]));
}

// Volume from a varied lower height up to a varied top diameter: one search.
void volume(std::uint64_t i) {
  benchmark::DoNotOptimize(
      PHViDll(kDbh, kHeight, kCoefs5, kExps5, kTerms5, kHeights[i] * 0.1, 0, 0, kDiams[i], 0));
}
// Each of the two closed forms makes two pow calls per term, two per pair of
// terms and one more per term but the last.
constexpr int kVolumeClosedForms =
    2 * (2 * (kTerms5 + 1) + 2 * (kTerms5 * (kTerms5 + 1) / 2) + kTerms5);

// ---- PHDiDll ---------------------------------------------------------------

void BM_PHDiDll_1Term(benchmark::State &state) {
  std::uint64_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(PHDiDll(kDbh, kHeight, kConeCoefs, kConeExps, 1, kHeights[i++]));
  }
  state.counters["pow_calls"] = 1;
}
BENCHMARK(BM_PHDiDll_1Term);

void BM_PHDiDll_1Term_Pow(benchmark::State &state) {
  std::uint64_t k = 0;
  for (auto _ : state) powCalls(1, k);
  state.counters["pow_calls"] = 1;
}
BENCHMARK(BM_PHDiDll_1Term_Pow);

void BM_PHDiDll_5Terms(benchmark::State &state) {
  std::uint64_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(PHDiDll(kDbh, kHeight, kCoefs5, kExps5, kTerms5, kHeights[i++]));
  }
  state.counters["pow_calls"] = kTerms5;
}
BENCHMARK(BM_PHDiDll_5Terms);

void BM_PHDiDll_5Terms_Pow(benchmark::State &state) {
  std::uint64_t k = 0;
  for (auto _ : state) powCalls(kTerms5, k);
  state.counters["pow_calls"] = kTerms5;
}
BENCHMARK(BM_PHDiDll_5Terms_Pow);

// ---- PHHiDll ---------------------------------------------------------------

void BM_PHHiDll_5Terms(benchmark::State &state) {
  const std::vector<PowWork> work = powWorkPerInput(heightSearch, 0);
  std::uint64_t i = 0;
  for (auto _ : state) heightSearch(i++);
  state.counters["pow_calls"] = meanPowCalls(work);
}
BENCHMARK(BM_PHHiDll_5Terms);

void BM_PHHiDll_5Terms_Pow(benchmark::State &state) {
  independentBaseline(state, powWorkPerInput(heightSearch, 0));
}
BENCHMARK(BM_PHHiDll_5Terms_Pow);

void BM_PHHiDll_5Terms_PowChained(benchmark::State &state) {
  chainedBaseline(state, powWorkPerInput(heightSearch, 0));
}
BENCHMARK(BM_PHHiDll_5Terms_PowChained);

// ---- PHViDll ---------------------------------------------------------------

void BM_PHViDll_5Terms(benchmark::State &state) {
  const std::vector<PowWork> work = powWorkPerInput(volume, kVolumeClosedForms);
  std::uint64_t i = 0;
  for (auto _ : state) volume(i++);
  state.counters["pow_calls"] = meanPowCalls(work);
}
BENCHMARK(BM_PHViDll_5Terms);

void BM_PHViDll_5Terms_Pow(benchmark::State &state) {
  independentBaseline(state, powWorkPerInput(volume, kVolumeClosedForms));
}
BENCHMARK(BM_PHViDll_5Terms_Pow);

void BM_PHViDll_5Terms_PowChained(benchmark::State &state) {
  chainedBaseline(state, powWorkPerInput(volume, kVolumeClosedForms));
}
BENCHMARK(BM_PHViDll_5Terms_PowChained);

}  // namespace
