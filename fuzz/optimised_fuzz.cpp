// Fuzzes optimised bucking like sequential bucking (see sequential_fuzz.cpp),
// with an objective from the input and, for about one input in eight, the
// k-th allocation (k = 1..8) made to fail. The result must be exactly 0, 1
// or 99; without a winner (and after a failed allocation of the search's
// own memory, which must give 99) nothing but the clearing is written. A
// failed allocation of the evaluation cache must change nothing: such a call
// is made again, undisturbed, on the restored table, and both answers
// (result, totals, product records and log table, byte for byte, and the
// calls counted in slots 0, 2, 3 and 4) must agree. So must a last call
// made with the cache held to a memory bound from the input (1.5 kB, too
// little for any table, to 3 MB), where it must replace what it holds. The
// table holds at most four products and the model at most two power terms,
// so that one input rarely costs more than a fraction of a second, while a
// generation of more than 10000 sequences (the give-up path) stays within
// reach.
#include "bucking_host.h"
#include "fault_injection.h"
#include "taper/evaluation.h"

namespace {}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static fuzz::BuckingHost host(/*maxTerms=*/2, /*maxProducts=*/4);
  static fuzz::Answer starved, undisturbed, squeezed;  // kept across runs: no allocation per run
  fuzz::Reader in(data, size);
  host.decodeCall(in);
  const int objective = in.codeArg();
  const std::uint8_t fault = in.byte();
  host.decodeTable(in);
  const long squeezeBytes = 1536L << (in.byte() % 12);

  const long failAt = fault < 32 ? 1 + fault % 8 : 0;
  xylotrak::fault::failAllocationAt(failAt);
  const double result =
      host.callAndRecord(xylotrak::support::Bucking::kOptimised, objective, starved);
  const bool cacheFailed = xylotrak::fault::optionalAllocationFailed();
  const bool failed = failAt > 0 && xylotrak::fault::allocationsChecked() >= failAt && !cacheFailed;
  xylotrak::fault::failAllocationAt(0);

  FUZZ_CHECK(fuzz::sameBits(result, 0.0) || fuzz::sameBits(result, 1.0) ||
             fuzz::sameBits(result, 99.0));
  if (failed) FUZZ_CHECK(result == 99.0);
  const std::int16_t goal = xylotrak::low16(objective);
  if (goal != 0 && goal != 1) FUZZ_CHECK(result != 1.0);  // nothing is ever chosen
  const int logs = host.checkShared();
  if (cacheFailed) {
    // The call went on without the cache; made again with it, it must
    // answer the same.
    host.restore();
    host.callAndRecord(xylotrak::support::Bucking::kOptimised, objective, undisturbed);
    host.checkShared();
    fuzz::checkSameAnswer(undisturbed, starved);
  }
  if (result != 1.0) {
    host.checkCleared();
  } else {
    // A winner has at least one log, the first beginning at the stump's trim top.
    FUZZ_CHECK(logs >= 1);
    const double stumpTop = host.stumpHeight + host.stumpTrim;
    FUZZ_CHECK(fuzz::sameValue(host.logs[0].trimTopHeight, stumpTop));
    FUZZ_CHECK(fuzz::sameValue(host.logs[1].baseHeight, stumpTop));
  }

  // The cache at a memory bound it may soon reach.
  host.restore();
  xylotrak::taper::setCacheBytesForTesting(squeezeBytes);
  host.callAndRecord(xylotrak::support::Bucking::kOptimised, objective, squeezed);
  xylotrak::taper::setCacheBytesForTesting(-1);
  host.checkShared();
  if (!failed) fuzz::checkSameAnswer(squeezed, starved);
  return 0;
}
