// Plot dimension calculator: area from dimensions or dimensions from area,
// with optional slope correction. Not accounted; keeps no state.
#include <cmath>

#include "abi.h"
#include "xylotrak.h"

using namespace xylotrak;

namespace {

constexpr double kRadiansPerDegree = 0.017453292519943295;

// Square length units in one unit of area.
double conversionFactor(std::int16_t areaUnit, std::int16_t unitScale) noexcept {
  double f = 1;
  if (areaUnit == 2) {
    f = 100;
  } else if (areaUnit == 1) {
    f = 10000;
  }
  return f * (unitScale == 5 ? 10000 : 1);
}

}  // namespace

extern "C" {

XYLOTRAK_API int16_t CalcAreaDll(double area, double length1, double length2, double slope1,
                                 double slope2, int slopeCorrection, int rectangular, int unitScale,
                                 int areaUnit, double *areaOut, double *length1Out,
                                 double *length2Out) {
  const double f = conversionFactor(low16(areaUnit), low16(unitScale));

  // Both angles must be below 90 degrees (a NaN fails) before either factor applies.
  double c1 = 1;
  double c2 = 1;
  if (low16(slopeCorrection) != 0) {
    const double a1 = std::fabs(slope1);
    const double a2 = std::fabs(slope2);
    if (a1 < 90 && a2 < 90) {
      c1 = std::cos(a1 * kRadiansPerDegree);
      c2 = std::cos(a2 * kRadiansPerDegree);
    }
  }

  double l1 = std::fabs(length1);
  double l2 = std::fabs(length2);
  if (low16(rectangular) == 0) {
    if (area > 0) {
      l1 = std::sqrt(((f * area) / c1) / kPi);
    } else if (l1 > 0) {
      area = ((l1 * l1 * kPi) * c1) / f;
    }
  } else if (area > 0) {
    if (l1 > 0) {
      l2 = ((f * area) / (l1 * c1)) / c2;
    } else if (l2 > 0) {
      l1 = ((f * area) / (l2 * c2)) / c1;
    }
  } else if (l1 > 0 && l2 > 0) {
    area = ((l2 * c2) * (l1 * c1)) / f;
  }

  // A null output pointer is skipped rather than written through.
  if (areaOut != nullptr) *areaOut = area;
  if (length1Out != nullptr) *length1Out = l1;
  if (length2Out != nullptr) *length2Out = l2;
  return 1;
}

}  // extern "C"
