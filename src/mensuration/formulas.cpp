// The basic-formula exports: basal area, quadratic mean diameter and the log
// volume formulas.
//
// Each export tests its arguments first (a negative or NaN argument answers
// -1.0 uncounted), then runs the slot-7 accounting prologue, then asks the
// formula. The log volumes take their basal areas from the gDll export
// itself, so every basal area is a counted call of its own.
#include "mensuration/formulas.h"

#include "accounting/accounting.h"
#include "xylotrak.h"

using namespace xylotrak;
using namespace xylotrak::mensuration;

namespace {

constexpr double kRejected = -1.0;

// An argument is accepted only when it compares >= 0: NaN fails, -0.0 passes.
constexpr bool rejected(double x) noexcept { return !(x >= 0); }

}  // namespace

extern "C" {

XYLOTRAK_API double gDll(double diameter) {
  if (rejected(diameter)) return kRejected;
  accounting::enterFormula();
  return basalArea(diameter);
}

XYLOTRAK_API double dgDll(double basalArea, double treeCount) {
  if (rejected(basalArea) || rejected(treeCount)) return kRejected;
  accounting::enterFormula();
  return quadraticMeanDiameter(basalArea, treeCount);
}

XYLOTRAK_API double VTHuDll(double diameter, double length) {
  if (rejected(diameter) || rejected(length)) return kRejected;
  accounting::enterFormula();
  return huber(gDll(diameter), length);
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
  return smalian(g1, g2, length);
}

XYLOTRAK_API double VTNwDll(double diameter1, double midDiameter, double diameter2, double length) {
  if (rejected(diameter1) || rejected(midDiameter) || rejected(diameter2) || rejected(length)) {
    return kRejected;
  }
  accounting::enterFormula();
  const double g1 = gDll(diameter1);
  const double gm = gDll(midDiameter);
  const double g2 = gDll(diameter2);
  return newton(g1, gm, g2, length);
}

XYLOTRAK_API double VTNeDll(double diameter1, double diameter2, double length) {
  if (rejected(diameter1) || rejected(diameter2) || rejected(length)) return kRejected;
  accounting::enterFormula();
  const double g1 = gDll(diameter1);
  const double g2 = gDll(diameter2);
  return neiloid(g1, g2, length);
}

XYLOTRAK_API double VTCoDll(double diameter1, double diameter2, double length) {
  if (rejected(diameter1) || rejected(diameter2) || rejected(length)) return kRejected;
  accounting::enterFormula();
  const double g1 = gDll(diameter1);
  const double g2 = gDll(diameter2);
  return cone(g1, g2, length);
}

}  // extern "C"
