// What can make a taper model's answers meaningless while they are computed
// exactly as specified: checked once per model, and a section volume by a
// method that does not cancel.
#pragma once

#include <cstdint>

#include "taper/profile.h"

namespace xylotrak::taper {

// The findings of a model check, bit by bit (the XYLOTRAK_CHECK_* values of
// the public header).
enum Finding : std::int32_t {
  kVolumeIllConditioned = 0x01,
  kDiameterIncreases = 0x02,
  kNegativeDiameter = 0x04,
  kNonzeroTip = 0x08,
  kExp0Nonzero = 0x10,
  kNonfinite = 0x20,
  kBadTermCount = 0x40,
};

struct ModelCheck {
  std::int32_t findings = 0;
  // Correct significant digits of the closed-form whole-stem volume, as far
  // as the sizes of its terms bound the rounding of their running sum: 0 to
  // 15, and 0 when the model is not checked that far.
  std::int32_t volumeDigits = 0;
};

// Checks the model: `termCount` as the caller passed it (the model reads its
// low 16 bits), the arrays read up to entry n of those bits.
ModelCheck checkModel(double dbh, double totalHeight, const double *coefs, const double *exps,
                      int termCount) noexcept;

// The squared profile integrated from a to b (m) by adaptive Gauss-Kronrod
// quadrature, the profile summed with compensation; in m^3 once scaled by
// pi/40000 dbh^2. Relative tolerance kQuadratureTolerance.
constexpr double kQuadratureTolerance = 1e-12;
double accurateVolumeBetween(const Model &m, double a, double b) noexcept;

}  // namespace xylotrak::taper
