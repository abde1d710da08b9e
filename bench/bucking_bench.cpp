// Time per call of the bucking exports on a 30 m five-term stem, of the
// exact optimiser on the tables where the breadth-first search gives up, and
// of the exact optimiser on the shapes whose log ends fall on tens of
// thousands of distinct heights (bucking_cases.h).
//
// Each case runs twice in the same binary: with the evaluation cache, as
// shipped (argument 1, label "cached"), and with it turned off through its
// test hook (argument 0, "direct": every diameter, height search and
// integral worked out afresh), so the ratio of the pair is measured under the
// same conditions (the shapes with many heights run cached only: direct, one
// call takes seconds). Each case also reports "allocations", the allocations
// of one call that pass the allocation-failure hook, what the evaluator
// worked out ("diameters" and "integrals": each distinct height once while
// the cache holds them all) and its memory at the peak ("cache_kB"), and
// BM_AllocationCheck times one pass through that hook: their product against
// the time of the call is what the hook costs.
#include <benchmark/benchmark.h>

#include "bucking_cases.h"
#include "fault_injection.h"
#include "taper/evaluation.h"

namespace {

void runCase(benchmark::State &state, const char *name, bool exact = false) {
  const bool cached = state.range(0) != 0;
  xylotrak::taper::setCacheEntriesForTesting(cached ? -1 : 0);
  bucking_bench::Case c;
  bucking_bench::caseByName(name, c);
  exact = exact || c.exact;
  bucking_bench::Result result{};
  for (auto _ : state) {
    bucking_bench::run(c.tree, c.products, c.objective, result, exact);
    benchmark::DoNotOptimize(result.code);
    benchmark::ClobberMemory();
  }
  xylotrak::fault::failAllocationAt(0);  // counts from here, fails nothing
  bucking_bench::run(c.tree, c.products, c.objective, result, exact);
  state.counters["allocations"] = static_cast<double>(xylotrak::fault::allocationsChecked());
  const xylotrak::taper::EvaluationWork work = xylotrak::taper::lastEvaluationWorkForTesting();
  state.counters["diameters"] = static_cast<double>(work.diameters);
  state.counters["integrals"] = static_cast<double>(work.integrals);
  state.counters["cache_kB"] = static_cast<double>(work.peakBytes) / 1024;
  xylotrak::taper::setCacheEntriesForTesting(-1);
  state.counters["result"] = result.code;
  state.SetLabel(cached ? "cached" : "direct");
}

void BM_SequentialFourProducts(benchmark::State &state) { runCase(state, "sequential"); }
void BM_OptimisedNearLimit(benchmark::State &state) { runCase(state, "near-limit"); }
void BM_OptimisedGiveUpFiftyProducts(benchmark::State &state) { runCase(state, "give-up"); }

BENCHMARK(BM_SequentialFourProducts)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OptimisedNearLimit)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OptimisedGiveUpFiftyProducts)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_ExactThreeProducts(benchmark::State &state) { runCase(state, "give-up-3", true); }
void BM_ExactTenProducts(benchmark::State &state) { runCase(state, "give-up-10", true); }
void BM_ExactFiftyProducts(benchmark::State &state) { runCase(state, "give-up", true); }
BENCHMARK(BM_ExactThreeProducts)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExactTenProducts)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExactFiftyProducts)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_ExactFixedFifty(benchmark::State &state) { runCase(state, "fixed-50"); }
void BM_ExactFixedHundred(benchmark::State &state) { runCase(state, "fixed-100"); }
void BM_ExactSixRanges(benchmark::State &state) { runCase(state, "ranges-6"); }
void BM_ExactFixedFiftyFortyMetres(benchmark::State &state) { runCase(state, "fixed-50-40m"); }
BENCHMARK(BM_ExactFixedFifty)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExactFixedHundred)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExactSixRanges)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExactFixedFiftyFortyMetres)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_AllocationCheck(benchmark::State &state) {
  xylotrak::fault::failAllocationAt(0);
  for (auto _ : state) benchmark::DoNotOptimize(xylotrak::fault::allocationAllowed());
}
BENCHMARK(BM_AllocationCheck);

}  // namespace
