// Diameter at a height and height at a diameter.
#include <cmath>

#include "abi.h"
#include "accounting/accounting.h"
#include "xylotrak.h"

using namespace xylotrak;

extern "C" {

XYLOTRAK_API double PHDiDll(double dbh, double totalHeight, const double *coefs,
                            const double *exps, int termCount, double height) {
  accounting::enter(accounting::kDiameter);
  const int n = low16(termCount);
  double s = coefs[0];
  if (n >= 1) {
    const double r = height / totalHeight;
    for (int k = 1; k <= n; ++k) s = s + std::pow(r, exps[k]) * coefs[k];
  }
  const double d = s * dbh;
  if (0 > d) return 0;
  return d;  // NaN passes through
}

XYLOTRAK_API double PHHiDll(double dbh, double totalHeight, const double *coefs,
                            const double *exps, int termCount, double targetDiam) {
  accounting::enter(accounting::kHeight);
  double h = totalHeight * 0.5;
  double step = totalHeight;  // halved before each move: the first move spans half the stem
  for (int round = 0; round < 100; ++round) {
    const double d = PHDiDll(dbh, totalHeight, coefs, exps, termCount, h);
    if (targetDiam > d) {  // the target lies lower on the stem
      step = step * 0.5;
      h = h - step;
      if (0 > h) h = 0;
    } else if (targetDiam < d) {  // the target lies higher
      step = step * 0.5;
      h = step + h;
      if (totalHeight < h) h = totalHeight;
    } else {
      break;  // exact hit, or a NaN comparison
    }
  }
  if (0 > h) return 0;
  return h;
}

}  // extern "C"
