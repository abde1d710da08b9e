// Time per call of the two bucking exports on a 30 m five-term stem.
#include <benchmark/benchmark.h>

#include "bucking_cases.h"

namespace {

void runCase(benchmark::State &state, const char *name) {
  const bucking_bench::Tree tree;
  std::vector<ProductSpec> products;
  int objective = 0;
  bucking_bench::caseByName(name, products, objective);
  bucking_bench::Result result{};
  for (auto _ : state) {
    bucking_bench::run(tree, products, objective, result);
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

}  // namespace
