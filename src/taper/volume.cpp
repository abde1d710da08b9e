// Stem volume between limits, and the limit resolution shared with the log count.
#include <cmath>

#include "abi.h"
#include "accounting/accounting.h"
#include "taper/section.h"
#include "xylotrak.h"

namespace xylotrak::taper {

namespace {
// pi/40000: a squared diameter in cm^2 to an area in m^2.
constexpr double kAreaFactor = 7.853981633974483e-05;
}  // namespace

Section resolveSection(double dbh, double totalHeight, const double *coefs, const double *exps,
                       int termCount, double lowerHeight, double upperHeight, double lowerDiam,
                       double upperDiam) noexcept {
  const double lowerFromDiam = (lowerDiam > 0 && 999 > lowerDiam)
                                   ? PHHiDll(dbh, totalHeight, coefs, exps, termCount, lowerDiam)
                                   : 0;
  const double lower =
      (lowerHeight > 0 && lowerHeight > lowerFromDiam) ? lowerHeight : lowerFromDiam;
  const double upperFromDiam = (upperDiam > 0)
                                   ? PHHiDll(dbh, totalHeight, coefs, exps, termCount, upperDiam)
                                   : totalHeight;
  const double upper =
      (upperHeight > 0 && upperFromDiam > upperHeight) ? upperHeight : upperFromDiam;
  return {lower, upper};
}

double volumeFromGround(double dbh, double totalHeight, const double *coefs, const double *exps,
                        int terms, double h) noexcept {
  const double x = h / 10;  // work in tens of metres
  const double t10 = totalHeight / 10;
  double sum = 0;
  for (int i = 0; i <= terms; ++i) {
    const double q = (exps[i] + exps[i]) + 1;
    const double a = coefs[i] / std::pow(t10, exps[i]);
    sum = sum + ((a * a) * std::pow(x, q)) / q;
    if (i < terms) {
      const double twice = (coefs[i] + coefs[i]) / std::pow(t10, exps[i]);
      for (int j = i + 1; j <= terms; ++j) {
        const double qc = (exps[i] + exps[j]) + 1;
        sum = sum + (((twice * coefs[j]) / std::pow(t10, exps[j])) * std::pow(x, qc)) / qc;
      }
    }
  }
  return ((dbh * dbh) * (sum * kAreaFactor)) * 10;
}

}  // namespace xylotrak::taper

using namespace xylotrak;

extern "C" {

XYLOTRAK_API double PHViDll(double dbh, double totalHeight, const double *coefs,
                            const double *exps, int termCount, double lowerHeight,
                            double upperHeight, double lowerDiam, double upperDiam,
                            double logLength) {
  accounting::enter(accounting::kVolume);
  const taper::Section section = taper::resolveSection(
      dbh, totalHeight, coefs, exps, termCount, lowerHeight, upperHeight, lowerDiam, upperDiam);
  const double lower = section.lower;
  double upper = section.upper;
  if (logLength > 0) {  // shorten the top to whole log lengths, never lengthen
    const double whole = std::floor((upper - lower) / logLength) * logLength + lower;
    if (whole < upper) upper = whole;
  }
  const int n = low16(termCount);
  if (n < 0) return 0;
  const double vUpper = taper::volumeFromGround(dbh, totalHeight, coefs, exps, n, upper);
  const double vLower = taper::volumeFromGround(dbh, totalHeight, coefs, exps, n, lower);
  if (vUpper > vLower) return vUpper - vLower;
  return 0;
}

}  // extern "C"
