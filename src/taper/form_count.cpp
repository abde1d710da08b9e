// Form factor and log count.
#include <cmath>
#include <cstdint>

#include "abi.h"
#include "accounting/accounting.h"
#include "taper/section.h"
#include "xylotrak.h"

using namespace xylotrak;

extern "C" {

XYLOTRAK_API double PHFFDll(const double *coefs, const double *exps, int termCount) {
  accounting::enter(accounting::kFormFactor);
  const int n = low16(termCount);
  if (n < 0) return 0;  // there is no last term to read
  double sum = 0;
  for (int k = 0; k < n; ++k) {
    sum = sum + (coefs[k] * coefs[k]) / ((exps[k] + exps[k]) + 1);
    for (int j = k + 1; j <= n; ++j)
      sum = sum + ((coefs[k] + coefs[k]) * coefs[j]) / ((exps[k] + exps[j]) + 1);
  }
  return (coefs[n] * coefs[n]) / ((exps[n] + exps[n]) + 1) + sum;
}

XYLOTRAK_API int32_t PHCTDll(double dbh, double totalHeight, const double *coefs,
                             const double *exps, int termCount, double lowerHeight,
                             double upperHeight, double lowerDiam, double upperDiam,
                             double logLength) {
  accounting::enter(accounting::kLogCount);
  const taper::Section section = taper::resolveSection(
      dbh, totalHeight, coefs, exps, termCount, lowerHeight, upperHeight, lowerDiam, upperDiam);
  if (section.upper > section.lower && logLength > 0) {
    const double count = std::floor((section.upper - section.lower) / logLength);
    if (count >= 2147483647.0) return INT32_MAX;  // saturate, also for +inf
    // An infinite section in logs of infinite length: inf / inf is NaN, which
    // has no integer value; no whole log is counted.
    if (std::isnan(count)) return 0;
    return static_cast<int32_t>(count);
  }
  return 0;
}

}  // extern "C"
