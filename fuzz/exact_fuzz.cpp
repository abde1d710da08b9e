// Fuzzes exact optimal bucking with the inputs of the optimised harness (see
// optimised_fuzz.cpp): any model of up to three power terms, any scalars, a
// table of up to four products, an objective from the input and, for about
// one input in eight, the k-th allocation (k = 1..8) made to fail. The
// result must be exactly 0, 1 or 99, and 99 only when the search's own
// memory could not be had; without a winner nothing but the clearing is
// written. Each call is then made twice more on the restored table, with the
// evaluation cache off and with a cache of one or two entries per table (the
// input picks which): the cache must change nothing, so the three answers
// (result, totals, product records and log table, byte for byte) and the
// calls counted in slots 2, 3, 4 and 8 must agree. A failed allocation of
// the cache is no failure: that call too must answer as if nothing had
// happened.
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static fuzz::BuckingHost host(/*maxTerms=*/3, /*maxProducts=*/4);
  static fuzz::Answer cached, direct, tiny;  // kept across runs: no allocation per run
  fuzz::Reader in(data, size);
  host.decodeCall(in);
  const int objective = in.codeArg();
  const std::uint8_t fault = in.byte();
  const long tinyEntries = 1 + in.byte() % 2;
  host.decodeTable(in);

  // With the normal cache, and perhaps an allocation made to fail.
  const long failAt = fault < 32 ? 1 + fault % 8 : 0;
  xylotrak::fault::failAllocationAt(failAt);
  const double result = host.callAndRecord(xylotrak::support::Bucking::kExact, objective, cached);
  const bool searchFailed = failAt > 0 && xylotrak::fault::allocationsChecked() >= failAt &&
                            !xylotrak::fault::optionalAllocationFailed();
  xylotrak::fault::failAllocationAt(0);
  checkCall(host, objective, result, searchFailed);

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
  if (!searchFailed) fuzz::checkSameAnswer(direct, cached);
  return 0;
}
