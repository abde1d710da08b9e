// Call accounting under threads: the cost of a counted diameter call with one
// thread, and the calls per second that one and two threads reach together.
// With counters that threads share, two threads would fight over the same
// cache line and run no faster than one; here each counts in its own block.
#include <benchmark/benchmark.h>

#include "xylotrak.h"

namespace {

const double kCoefs[2] = {1, -1}, kExps[2] = {0, 1};

void BM_DiameterCalls(benchmark::State &state) {
  if (state.thread_index() == 0) tally_start();
  double h = 0.1 * state.thread_index();
  for (auto _ : state) {
    benchmark::DoNotOptimize(PHDiDll(30, 20, kCoefs, kExps, 1, h));
    h = h < 19 ? h + 0.37 : 0.1;
  }
  state.SetItemsProcessed(state.iterations());
}
// Real time, so items_per_second is the throughput of all threads together.
BENCHMARK(BM_DiameterCalls)->Threads(1)->Threads(2)->UseRealTime();

}  // namespace
