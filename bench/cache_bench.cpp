// The bucking exports with and without their evaluation cache, in one
// binary: each case runs cached (as shipped) and direct (every diameter,
// height search and integral worked out afresh, as before the cache), so the
// ratio of the pair is measured under the same conditions.
//
// Each case also reports "allocations", the checked allocations of one call,
// and BM_AllocationCheck times one pass through the allocation-failure test
// hook: their product against the time of the call is what the hook costs.
#include <benchmark/benchmark.h>

#include "bucking_cases.h"
#include "fault_injection.h"
#include "taper/evaluation.h"

namespace {

void runCase(benchmark::State &state, const char *name, bool exact) {
  const bool cached = state.range(0) != 0;
  xylotrak::taper::setCacheEntriesForTesting(cached ? -1 : 0);
  const bucking_bench::Tree tree;
  std::vector<ProductSpec> products;
  int objective = 0;
  bucking_bench::caseByName(name, products, objective);
  bucking_bench::Result result{};
  for (auto _ : state) {
    bucking_bench::run(tree, products, objective, result, exact);
    benchmark::DoNotOptimize(result.code);
    benchmark::ClobberMemory();
  }
  xylotrak::fault::failAllocationAt(0);  // counts from here, fails nothing
  bucking_bench::run(tree, products, objective, result, exact);
  state.counters["allocations"] = static_cast<double>(xylotrak::fault::allocationsChecked());
  xylotrak::taper::setCacheEntriesForTesting(-1);
  state.counters["result"] = result.code;
  state.SetLabel(cached ? "cached" : "direct");
}

void BM_Sequential(benchmark::State &s) { runCase(s, "sequential", false); }
void BM_OptimisedNearLimit(benchmark::State &s) { runCase(s, "near-limit", false); }
void BM_OptimisedGiveUp(benchmark::State &s) { runCase(s, "give-up", false); }
void BM_ExactFiftyProducts(benchmark::State &s) { runCase(s, "give-up", true); }

BENCHMARK(BM_Sequential)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OptimisedNearLimit)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OptimisedGiveUp)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExactFiftyProducts)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_AllocationCheck(benchmark::State &state) {
  xylotrak::fault::failAllocationAt(0);
  for (auto _ : state) benchmark::DoNotOptimize(xylotrak::fault::allocationAllowed());
}
BENCHMARK(BM_AllocationCheck);

}  // namespace
