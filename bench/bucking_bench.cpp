// Time per call of the bucking exports on a 30 m five-term stem, and of the
// exact optimiser on the tables where the breadth-first search gives up.
#include <benchmark/benchmark.h>

#include "bucking_cases.h"

namespace {

void runCase(benchmark::State &state, const char *name, bool exact = false) {
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
  state.counters["result"] = result.code;
}

void BM_SequentialFourProducts(benchmark::State &state) { runCase(state, "sequential"); }
void BM_OptimisedNearLimit(benchmark::State &state) { runCase(state, "near-limit"); }
void BM_OptimisedGiveUpFiftyProducts(benchmark::State &state) { runCase(state, "give-up"); }

BENCHMARK(BM_SequentialFourProducts)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OptimisedNearLimit)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OptimisedGiveUpFiftyProducts)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ExactThreeProducts(benchmark::State &state) { runCase(state, "give-up-3", true); }
void BM_ExactTenProducts(benchmark::State &state) { runCase(state, "give-up-10", true); }
void BM_ExactFiftyProducts(benchmark::State &state) { runCase(state, "give-up", true); }
BENCHMARK(BM_ExactThreeProducts)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExactTenProducts)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExactFiftyProducts)->Unit(benchmark::kMillisecond);

}  // namespace
