// Fuzzes the fitting exports with arbitrary measurements (NaN, infinities,
// huge and tiny values, rows outside the stem), exponents and counts, and for
// about one input in eight the k-th allocation (k = 1..8) made to fail. Every
// input and output array ends at a guard page, so a read or write past the
// entries the counts name faults; the inputs must hold what they held. The
// answer is always one of the documented codes: on success the coefficients
// are finite and R^2 at most 1, on failure the outputs are cleared, and the
// row counts always add up to the rows passed.
#include <algorithm>
#include <cmath>

#include "abi.h"
#include "fault_injection.h"
#include "fuzz_support.h"

namespace {

constexpr int kMaxRows = 40;
constexpr int kMaxTerms = 6;

bool knownCode(int32_t code) { return code >= XYLOTRAK_FIT_OK && code <= XYLOTRAK_FIT_OVERFLOW; }

void checkStats(const xylotrak_fit_stats &s, int32_t code, std::int64_t rows) {
  // Rows are counted once read: a bad pointer or count stops a call before,
  // a bad exponent after; running out of memory leaves nothing to tell.
  if (code == XYLOTRAK_FIT_OUT_OF_MEMORY ||
      (code == XYLOTRAK_FIT_BAD_ARGUMENT && s.rowsUsed == 0 && s.rowsSkipped == 0)) {
    FUZZ_CHECK(s.rowsUsed == 0 && s.rowsSkipped == 0);
  } else {
    FUZZ_CHECK(s.rowsUsed >= 0 && s.rowsSkipped >= 0 && s.rowsUsed + s.rowsSkipped == rows);
  }
  if (code == XYLOTRAK_FIT_OK) {
    FUZZ_CHECK(!(s.rSquared > 1) && !(s.residualStdError < 0));
  } else {
    FUZZ_CHECK(s.rSquared == 0 && s.residualStdError == 0 && s.bias == 0 && s.diameterRmse == 0 &&
               s.diameterBias == 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static fuzz::InputArray dbhArray(kMaxRows), heightArray(kMaxRows), hArray(kMaxRows),
      dArray(kMaxRows), expArray(kMaxTerms + 1), candidateArray(kMaxTerms + 1);
  static fuzz::OutputArray coefs(kMaxTerms + 1), errors(kMaxTerms + 1), selected(kMaxTerms + 1);
  fuzz::Reader in(data, size);

  const std::int64_t rows = in.byte() % (kMaxRows + 1);
  const auto n = static_cast<std::size_t>(rows);
  const double *dbh = dbhArray.fill(n, [&] { return in.real(0, 80); });
  const double *height = heightArray.fill(n, [&] { return in.real(0, 40); });
  const double *h = hArray.fill(n, [&] { return in.real(-2, 45); });
  const double *d = dArray.fill(n, [&] { return in.real(-5, 90); });
  const int termCount = in.count(kMaxTerms);
  const int terms = xylotrak::low16(termCount);
  const std::size_t entries = terms >= 0 ? static_cast<std::size_t>(terms) + 1 : 0;
  const double *exps = expArray.fill(entries, [&] { return in.real(-0.5, 10); });
  const int candidateCount = in.count(kMaxTerms + 1);
  const int pool = xylotrak::low16(candidateCount);
  const std::size_t poolEntries = pool > 0 ? static_cast<std::size_t>(pool) : 0;
  const double *candidates = candidateArray.fill(poolEntries, [&] { return in.real(-0.5, 40); });
  const int maxTerms = in.count(kMaxTerms + 1);
  const int room = xylotrak::low16(maxTerms);
  const std::size_t roomEntries = room > 0 ? static_cast<std::size_t>(room) : 0;
  const std::uint8_t failAt = in.byte();
  const long failK = failAt < 32 ? 1 + failAt % 8 : 0;

  xylotrak::fault::failAllocationAt(failK);
  xylotrak_fit_stats stats{};
  double *c = coefs.place(entries);
  double *se = errors.place(entries);
  const int32_t code = PHFtDll(dbh, height, h, d, rows, exps, termCount, c, se, &stats);
  xylotrak::fault::failAllocationAt(0);
  FUZZ_CHECK(knownCode(code));
  if (failK == 0) FUZZ_CHECK(code != XYLOTRAK_FIT_OUT_OF_MEMORY);
  checkStats(stats, code, rows);
  if (code == XYLOTRAK_FIT_OK) {
    FUZZ_CHECK(coefs.allFinite());
  } else if (terms >= 0) {
    FUZZ_CHECK(coefs.allZero() && errors.allZero());
  }
  coefs.checkSlack();
  errors.checkSlack();

  xylotrak::fault::failAllocationAt(failK);
  int32_t chosen = -1;
  double *e = selected.place(roomEntries);
  c = coefs.place(roomEntries);
  const int32_t picked = PHFsDll(dbh, height, h, d, rows, candidates, candidateCount, maxTerms, e,
                                 c, nullptr, &chosen, &stats);
  xylotrak::fault::failAllocationAt(0);
  FUZZ_CHECK(knownCode(picked));
  if (failK == 0) FUZZ_CHECK(picked != XYLOTRAK_FIT_OUT_OF_MEMORY);
  checkStats(stats, picked, rows);
  if (picked == XYLOTRAK_FIT_OK) {
    FUZZ_CHECK(chosen >= 0 && chosen < room);
    FUZZ_CHECK(e[0] == 0);
    for (int k = 2; k <= chosen; ++k) FUZZ_CHECK(e[k - 1] < e[k]);
    FUZZ_CHECK(coefs.allFinite());
  } else {
    FUZZ_CHECK(chosen == 0 && selected.allZero() && coefs.allZero());
  }
  selected.checkSlack();
  coefs.checkSlack();

  for (const fuzz::InputArray *a :
       {&dbhArray, &heightArray, &hArray, &dArray, &expArray, &candidateArray})
    a->checkUnchanged();
  return 0;
}
