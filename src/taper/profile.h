// The taper model's mathematics: the diameter at a height, the height search,
// the resolution of section limits and the closed-form integral of the
// squared profile. Pure functions of their arguments: nothing here counts
// calls or knows about the exports.
#pragma once

#include <cmath>
#include <cstdint>

#include "abi.h"

namespace xylotrak::taper {

// pi/40000: a squared diameter in cm^2 to an area in m^2.
constexpr double kAreaFactor = 7.853981633974483e-05;

// One stem. `terms` is n, the number of power terms after the constant one,
// already read from the low 16 bits of the caller's int.
struct Model {
  double dbh;
  double totalHeight;
  const double *coefs;
  const double *exps;
  int terms;
};

// Stem diameter (cm) at a height (m): dbh times the profile, reported as 0
// where it would be negative; NaN passes through. The constant term is
// coefs[0] (exps[0] is not read); with n <= 0 the relative height is never
// formed.
inline double diameter(const Model &m, double height) noexcept {
  double s = m.coefs[0];
  if (m.terms >= 1) {
    const double r = height / m.totalHeight;
    for (int k = 1; k <= m.terms; ++k) s = s + std::pow(r, m.exps[k]) * m.coefs[k];
  }
  const double d = s * m.dbh;
  if (0 > d) return 0;
  return d;
}

// The result of a height search and the number of diameters it evaluated.
struct HeightSearch {
  double height;
  int rounds;
};

// The height where the stem has tapered to targetDiam: a bisection of 100
// rounds at most. It starts at mid-stem with a step of the whole height,
// halves the step before each move (so the first move reaches an end of the
// stem), clamps every move into [0, totalHeight], and stops at once on an
// exact hit or a NaN comparison. The height after the last move is returned
// without being evaluated. `diameterAt` supplies the diameter at a height.
template <class DiameterAt>
HeightSearch searchHeight(double totalHeight, double targetDiam, DiameterAt &&diameterAt) {
  double h = totalHeight * 0.5;
  double step = totalHeight;
  int rounds = 0;
  while (rounds < 100) {
    const double d = diameterAt(h);
    ++rounds;
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
  if (0 > h) h = 0;
  return {h, rounds};
}

inline HeightSearch heightAt(const Model &m, double targetDiam) noexcept {
  return searchHeight(m.totalHeight, targetDiam, [&m](double h) { return diameter(m, h); });
}

// The five section limits of the volume and log-count exports, in argument
// order. A limit of 0 or below (or NaN) is absent; so is a lowerDiam of 999
// or above.
struct Limits {
  double lowerHeight;
  double upperHeight;
  double lowerDiam;
  double upperDiam;
  double logLength;
};

struct Section {
  double lower;
  double upper;
};

// Turns the limits into a lower and an upper height: the higher of
// lowerHeight and the height of lowerDiam, the lower of upperHeight and the
// height of upperDiam (totalHeight without either). The lower-end search, if
// any, runs before the upper-end one. `heightAt` maps a diameter to a height.
template <class HeightAt>
Section resolveSection(double totalHeight, const Limits &l, HeightAt &&heightAt) {
  const double lowerFromDiam =
      (l.lowerDiam > 0 && kNoLimit > l.lowerDiam) ? heightAt(l.lowerDiam) : 0;
  const double lower =
      (l.lowerHeight > 0 && l.lowerHeight > lowerFromDiam) ? l.lowerHeight : lowerFromDiam;
  const double upperFromDiam = (l.upperDiam > 0) ? heightAt(l.upperDiam) : totalHeight;
  const double upper =
      (l.upperHeight > 0 && upperFromDiam > l.upperHeight) ? l.upperHeight : upperFromDiam;
  return {lower, upper};
}

// The top of a section cut down to whole multiples of logLength from its
// lower end: never raised, unchanged without a positive logLength.
double wholeLogsTop(Section s, double logLength) noexcept;

// Whole logs of logLength in a section: 0 for an empty or inverted section
// or without a positive logLength; saturated at 2147483647 (also for +inf);
// 0 for inf / inf, which has no integer value.
std::int32_t wholeLogs(Section s, double logLength) noexcept;

// The volume of a section from the integrals to its two ends: their
// difference when positive, otherwise (empty, inverted or NaN) 0.
inline double sectionVolume(double fromGroundToUpper, double fromGroundToLower) noexcept {
  if (fromGroundToUpper > fromGroundToLower) return fromGroundToUpper - fromGroundToLower;
  return 0;
}

// Volume (m^3) from the ground to height h: the squared profile expanded
// into its terms, each integrated in closed form, added into one running
// sum in the order diagonal 0, cross terms 0-1 .. 0-n, diagonal 1, ...
// Term 0 enters with its exponent exps[0]. Needs m.terms >= 0.
double volumeFromGround(const Model &m, double h) noexcept;

// The same integral with everything that does not depend on the height
// worked out once per model: each term's coefficient and exponent, and each
// distinct exponent's power of the height computed once. The arithmetic on
// every term is the same as volumeFromGround's, so the results are the same
// doubles. Holds models of up to kMaxTerms power terms; prepare() answers
// false for larger ones (and for a negative count).
class ClosedForm {
 public:
  static constexpr int kMaxTerms = 15;
  static constexpr int kMaxParts = (kMaxTerms + 1) * (kMaxTerms + 2) / 2;

  bool prepare(const Model &m) noexcept;
  double fromGround(double h) const noexcept;

 private:
  // Only the first parts_ and distinct_ entries are ever read, and
  // prepare() writes them: the arrays are left unset until then, so that an
  // evaluator on the stack costs nothing to make.
  double dbh_ = 0;
  int parts_ = 0;
  int distinct_ = 0;
  double coef_[kMaxParts];
  double divisor_[kMaxParts];
  std::uint8_t power_[kMaxParts];  // index into exponent_ of each part
  double exponent_[kMaxParts];     // the distinct exponents of x
};

// Form factor of a relative profile: the squared profile integrated over the
// relative height 0 to 1, the last diagonal term added last. Needs terms >= 0.
double formFactor(const double *coefs, const double *exps, int terms) noexcept;

}  // namespace xylotrak::taper
