// Fuzzes sequential bucking: any taper model, any scalars, and a product
// table of up to eight records decoded from the input (NaN, infinities,
// negative and enormous values, every 16-bit code), with productCount up to
// the table size. The call must return exactly 1.0, write the stump row, and
// keep to the host's fields (see BuckingHost::checkShared).
#include "bucking_host.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static fuzz::BuckingHost host(/*maxTerms=*/4, /*maxProducts=*/8);
  fuzz::Reader in(data, size);
  host.decodeCall(in);
  host.decodeTable(in);

  const double result = host.call(xylotrak::support::Bucking::kSequential, 0);
  FUZZ_CHECK(fuzz::sameBits(result, 1.0));
  const int logs = host.checkShared();

  // The stump row: from the ground to the stump, trimmed at the stump cut.
  const LogEntry &stump = host.logs[0];
  FUZZ_CHECK(stump.logNumber == 0 && stump.productNumber == 0);
  FUZZ_CHECK(fuzz::sameBits(stump.baseHeight, 0.0));
  FUZZ_CHECK(fuzz::sameBits(stump.topHeight, host.stumpHeight));
  const double stumpTop = host.stumpHeight + host.stumpTrim;
  FUZZ_CHECK(fuzz::sameValue(stump.trimTopHeight, stumpTop));
  // The first log begins at startHeight when that lies above the stump's trim top.
  if (logs >= 1)
    FUZZ_CHECK(fuzz::sameValue(host.logs[1].baseHeight,
                               host.startHeight > stumpTop ? host.startHeight : stumpTop));
  return 0;
}
