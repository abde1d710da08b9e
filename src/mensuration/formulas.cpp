// Basal area, quadratic mean diameter and the log volume formulas.
//
// Each export tests its arguments first (a negative or NaN argument answers
// -1.0 uncounted), then runs the slot-7 accounting prologue, then evaluates
// its formula in the written order, which fixes the last bit of the result.
// The log volumes take their basal areas from the gDll export itself, so
// every basal area is a counted call of its own.
#include <cmath>

#include "accounting/accounting.h"
#include "xylotrak.h"

using namespace xylotrak;

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kOneThird = 0.3333333333333333;  // the double nearest 1/3
constexpr double kRejected = -1.0;

// An argument is accepted only when it compares >= 0: NaN fails, -0.0 passes.
constexpr bool rejected(double x) noexcept { return !(x >= 0); }

}  // namespace

extern "C" {

XYLOTRAK_API double gDll(double diameter) {
  if (rejected(diameter)) return kRejected;
  accounting::enterFormula();
  return (diameter * diameter * kPi) / 40000;
}

XYLOTRAK_API double dgDll(double basalArea, double treeCount) {
  if (rejected(basalArea) || rejected(treeCount)) return kRejected;
  accounting::enterFormula();
  return std::sqrt((basalArea * 40000) / (treeCount * kPi));
}

XYLOTRAK_API double VTHuDll(double diameter, double length) {
  if (rejected(diameter) || rejected(length)) return kRejected;
  accounting::enterFormula();
  return gDll(diameter) * length;
}

// The cylinder volume is the Huber arithmetic: one function, two export names
// (on Windows the module definition file aliases them too).
#if defined(__clang__)
XYLOTRAK_API double VTCiDll(double diameter, double length) __attribute__((alias("VTHuDll")));
#else
// GCC wants the alias to repeat the nothrow it infers for the target (clang
// would read nothrow as a noexcept that the header declaration does not have).
XYLOTRAK_API double VTCiDll(double diameter, double length)
    __attribute__((nothrow, alias("VTHuDll")));
#endif

XYLOTRAK_API double VTSmDll(double diameter1, double diameter2, double length) {
  if (rejected(diameter1) || rejected(diameter2) || rejected(length)) return kRejected;
  accounting::enterFormula();
  const double g1 = gDll(diameter1);
  const double g2 = gDll(diameter2);
  return ((g2 + g1) * 0.5) * length;
}

XYLOTRAK_API double VTNwDll(double diameter1, double midDiameter, double diameter2, double length) {
  if (rejected(diameter1) || rejected(midDiameter) || rejected(diameter2) || rejected(length)) {
    return kRejected;
  }
  accounting::enterFormula();
  const double g1 = gDll(diameter1);
  const double gm = gDll(midDiameter);
  const double g2 = gDll(diameter2);
  return ((g2 + (4 * gm + g1)) / 6) * length;
}

XYLOTRAK_API double VTNeDll(double diameter1, double diameter2, double length) {
  if (rejected(diameter1) || rejected(diameter2) || rejected(length)) return kRejected;
  accounting::enterFormula();
  const double g1 = gDll(diameter1);
  const double g2 = gDll(diameter2);
  // Cube roots as pow(x, 0.333...) rather than cbrt: the two differ in the
  // last bit, and hosts compare these volumes bit for bit.
  const double root12 = std::pow(g1 * g1 * g2, kOneThird);
  const double root21 = std::pow(g2 * g1 * g2, kOneThird);
  return (((root12 + g1) + root21) + g2) * 0.25 * length;
}

XYLOTRAK_API double VTCoDll(double diameter1, double diameter2, double length) {
  if (rejected(diameter1) || rejected(diameter2) || rejected(length)) return kRejected;
  accounting::enterFormula();
  const double g1 = gDll(diameter1);
  const double g2 = gDll(diameter2);
  return ((std::sqrt(g2 * g1) + (g2 + g1)) / 3) * length;
}

}  // extern "C"
