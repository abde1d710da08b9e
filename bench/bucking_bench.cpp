// Time per call of the bucking exports on a 30 m five-term stem, and of the
// exact optimiser on the tables where the breadth-first search gives up.
//
// Each case runs twice in the same binary: with the evaluation cache, as
// shipped (argument 1, label "cached"), and with it turned off through its
// test hook (argument 0, "direct": every diameter, height search and
// integral worked out afresh), so the ratio of the pair is measured under the
// same conditions. Each case also reports "allocations", the allocations of
// one call that pass the allocation-failure hook, and BM_AllocationCheck
// times one pass through that hook: their product against the time of the
// call is what the hook costs.
#include <benchmark/benchmark.h>

#include "bucking_cases.h"
#include "fault_injection.h"
#include "taper/evaluation.h"

namespace {

void runCase(benchmark::State &state, const char *name, bool exact = false) {
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

void BM_AllocationCheck(benchmark::State &state) {
  xylotrak::fault::failAllocationAt(0);
  for (auto _ : state) benchmark::DoNotOptimize(xylotrak::fault::allocationAllowed());
}
BENCHMARK(BM_AllocationCheck);

}  // namespace
