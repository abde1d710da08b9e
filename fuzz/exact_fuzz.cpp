// Fuzzes exact optimal bucking with the inputs of the optimised harness (see
// optimised_fuzz.cpp): any model of up to five power terms, any scalars, a
// table of up to 100 products, an objective from the input and, for about
// one input in eight, the k-th allocation (k = 1..32) made to fail. The
// result must be exactly 0, 1 or 99, and 99 only when the search's own
// memory could not be had; without a winner nothing but the clearing is
// written. Each call is then made again on the restored table with the
// evaluation cache squeezed into a memory bound from the input (1.5 kB,
// too little for any table, to 3 MB), where it must replace what it holds;
// for tables of up to eight products also with the cache off and with a
// cache of one or two entries per table (the input picks which). The cache
// must change nothing: the answers (result, totals, product records and log
// table, byte for byte) and the calls counted in slots 2, 3, 4 and 8 must
// agree. A failed allocation of the cache, its first tables or any later
// growth, is no failure: that call too must answer as if nothing had
// happened. (Tables of many products make calls without the cache that take
// seconds; for them the squeezed cache is the one that works most out again.)
// Under libFuzzer a search that tries more than kTries products on its
// states stops there, and its input is skipped.
#include "bucking/search.h"
#include "bucking_host.h"
#include "fault_injection.h"
#include "taper/evaluation.h"

namespace {

// The checks every call must pass, whatever the cache and the allocations
// did. `searchFailed`: an allocation of the search's own memory was made to
// fail, the one thing that may (and must) give 99.
void checkCall(const fuzz::BuckingHost &host, int objective, double result, bool searchFailed) {
  FUZZ_CHECK(fuzz::sameBits(result, 0.0) || fuzz::sameBits(result, 1.0) ||
             fuzz::sameBits(result, 99.0));
  FUZZ_CHECK((result == 99.0) == searchFailed);
  const std::int16_t goal = xylotrak::low16(objective);
  if (goal != 0 && goal != 1) {
    FUZZ_CHECK(result != 1.0);  // nothing is ever chosen
    if (!searchFailed) FUZZ_CHECK(result == 0.0);
  }
  FUZZ_CHECK(tally_count(fuzz::BuckingHost::slotOf(xylotrak::support::Bucking::kExact)) == 1);
  const int logs = host.checkShared();
  if (result != 1.0) {
    host.checkCleared();
    return;
  }
  // A winner has at least one log, the first beginning at the stump's trim top.
  FUZZ_CHECK(logs >= 1);
  const double stumpTop = host.stumpHeight + host.stumpTrim;
  FUZZ_CHECK(fuzz::sameValue(host.logs[0].trimTopHeight, stumpTop));
  FUZZ_CHECK(fuzz::sameValue(host.logs[1].baseHeight, stumpTop));
}

// Under libFuzzer, the most products one search may try on its states: a
// table whose logs advance by millimetres, or back and forth (a negative
// trim), reaches millions of states, a minute under the sanitizers. Such an
// input stops there and is skipped, so that an input costs seconds at most.
// Tables of up to eight products are also searched twice without the cache,
// where every try works its diameters out again. The replay driver (ctest's
// FuzzSeeds) sets no limit: the benchmarks' large shapes replay in full.
constexpr long kTries = 1000000;
constexpr long kTriesUncached = 250000;
bool g_limitTries = false;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  g_limitTries = true;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static fuzz::BuckingHost host(/*maxTerms=*/5, /*maxProducts=*/100);
  const unsigned long stops = xylotrak::bucking::exactTryLimitHitsForTesting();
  const auto stopped = [&] { return xylotrak::bucking::exactTryLimitHitsForTesting() != stops; };
  static fuzz::Answer cached, direct, tiny, squeezed;  // kept across runs: no allocation per run
  fuzz::Reader in(data, size);
  host.decodeCall(in);
  const int objective = in.codeArg();
  const std::uint8_t fault = in.byte();
  const long tinyEntries = 1 + in.byte() % 2;
  host.decodeTable(in);
  if (g_limitTries)
    xylotrak::bucking::setExactTryLimitForTesting(host.tableSize() > 8 ? kTries : kTriesUncached);
  const long squeezeBytes = 1536L << (in.byte() % 12);

  // With the normal cache, and perhaps an allocation made to fail.
  const long failAt = fault < 32 ? 1 + fault : 0;
  xylotrak::fault::failAllocationAt(failAt);
  const double result = host.callAndRecord(xylotrak::support::Bucking::kExact, objective, cached);
  const bool searchFailed = failAt > 0 && xylotrak::fault::allocationsChecked() >= failAt &&
                            !xylotrak::fault::optionalAllocationFailed();
  xylotrak::fault::failAllocationAt(0);
  if (stopped()) return 0;
  checkCall(host, objective, result, searchFailed);

  // With the cache at a memory bound it may soon reach.
  host.restore();
  xylotrak::taper::setCacheBytesForTesting(squeezeBytes);
  host.callAndRecord(xylotrak::support::Bucking::kExact, objective, squeezed);
  xylotrak::taper::setCacheBytesForTesting(-1);
  if (stopped()) return 0;  // the first call failed early, for want of memory
  checkCall(host, objective, squeezed.result, false);
  if (!searchFailed) fuzz::checkSameAnswer(squeezed, cached);
  if (host.tableSize() > 8) return 0;

  // Without the cache: every value worked out where it is needed.
  host.restore();
  xylotrak::taper::setCacheEntriesForTesting(0);
  host.callAndRecord(xylotrak::support::Bucking::kExact, objective, direct);
  xylotrak::taper::setCacheEntriesForTesting(-1);
  checkCall(host, objective, direct.result, false);

  // With a cache so small that it is full almost at once.
  host.restore();
  xylotrak::taper::setCacheEntriesForTesting(tinyEntries);
  host.callAndRecord(xylotrak::support::Bucking::kExact, objective, tiny);
  xylotrak::taper::setCacheEntriesForTesting(-1);
  checkCall(host, objective, tiny.result, false);

  fuzz::checkSameAnswer(direct, tiny);
  fuzz::checkSameAnswer(direct, squeezed);
  return 0;
}
