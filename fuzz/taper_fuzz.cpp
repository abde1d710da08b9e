// Fuzzes the taper exports (and the model check and accurate volume) with arbitrary doubles (NaN,
// infinities, huge and tiny values included) and a termCount from the input whose low 16 bits size
// the two arrays. The arrays end at a guard page, so a read past entry termCount faults; afterwards
// they must hold what they held.
#include <algorithm>
#include <cmath>

#include "abi.h"
#include "fuzz_support.h"

namespace {

constexpr int kMaxTerms = 8;  // enough for every code path; more only slows each run

struct Limits {
  double lowerHeight, upperHeight, lowerDiam, upperDiam, logLength;
};

Limits readLimits(fuzz::Reader &in) {
  Limits l{};
  l.lowerHeight = in.real(-5, 60);
  l.upperHeight = in.real(-5, 60);
  l.lowerDiam = in.real(-5, 1200);
  l.upperDiam = in.real(-5, 120);
  l.logLength = in.real(-1, 10);
  return l;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static fuzz::InputArray coefArray(kMaxTerms + 1);
  static fuzz::InputArray expArray(kMaxTerms + 1);
  fuzz::Reader in(data, size);

  const double dbh = in.real(0, 100);
  const double totalHeight = in.real(0, 50);
  const int termCount = in.count(kMaxTerms);
  const int n = xylotrak::low16(termCount);
  const std::size_t entries = static_cast<std::size_t>(std::max(n, 0)) + 1;
  const double *coefs = coefArray.fill(entries, [&] { return in.real(-2, 2); });
  const double *exps = expArray.fill(entries, [&] { return in.real(-1, 8); });
  const double height = in.real(-5, 60);
  const double targetDiam = in.real(-5, 120);
  const Limits v = readLimits(in);
  const Limits c = readLimits(in);

  // A diameter is never negative; NaN passes through.
  const double d = PHDiDll(dbh, totalHeight, coefs, exps, termCount, height);
  FUZZ_CHECK(!(d < 0));

  // The search stays within 0..totalHeight for a non-negative totalHeight.
  const double h = PHHiDll(dbh, totalHeight, coefs, exps, termCount, targetDiam);
  FUZZ_CHECK(!(h < 0));
  if (totalHeight >= 0 && !std::isnan(h)) FUZZ_CHECK(h <= totalHeight);

  // A volume is never negative and never NaN.
  const double vol = PHViDll(dbh, totalHeight, coefs, exps, termCount, v.lowerHeight, v.upperHeight,
                             v.lowerDiam, v.upperDiam, v.logLength);
  FUZZ_CHECK(vol >= 0);

  // A negative termCount answers 0 without reading the arrays.
  const double ff = PHFFDll(coefs, exps, termCount);
  if (n < 0) FUZZ_CHECK(fuzz::sameBits(ff, 0.0));

  const std::int32_t logs = PHCTDll(dbh, totalHeight, coefs, exps, termCount, c.lowerHeight,
                                    c.upperHeight, c.lowerDiam, c.upperDiam, c.logLength);
  FUZZ_CHECK(logs >= 0);

  // The accurate volume is never negative or NaN either.
  const double accurate = PHVaDll(dbh, totalHeight, coefs, exps, termCount, v.lowerHeight,
                                  v.upperHeight, v.lowerDiam, v.upperDiam, v.logLength);
  FUZZ_CHECK(accurate >= 0);
  if (n < 0) FUZZ_CHECK(fuzz::sameBits(accurate, 0.0));

  // The check answers only its seven findings, and 0 to 15 digits.
  std::int32_t digits = -1;
  const std::int32_t findings = PHCkDll(dbh, totalHeight, coefs, exps, termCount, &digits);
  FUZZ_CHECK((findings & ~0x7F) == 0);
  FUZZ_CHECK(digits >= 0 && digits <= 15);
  FUZZ_CHECK(((findings & XYLOTRAK_CHECK_BAD_TERM_COUNT) != 0) == (n < 0 || n != termCount));
  if (findings & XYLOTRAK_CHECK_NONFINITE) FUZZ_CHECK(digits == 0);

  coefArray.checkUnchanged();
  expArray.checkUnchanged();
  return 0;
}
