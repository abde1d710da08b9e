// The basic formulas' arithmetic, each in its documented order of
// evaluation, which fixes the last bit of the result. The log volumes take
// the basal areas of their end (and middle) diameters.
#pragma once

#include <cmath>

#include "abi.h"

namespace xylotrak::mensuration {

constexpr double kOneThird = 0.3333333333333333;  // the double nearest 1/3

// Basal area (m^2) of a diameter (cm).
inline double basalArea(double diameter) noexcept { return (diameter * diameter * kPi) / 40000; }

// Quadratic mean diameter (cm) of a basal area (m^2) and a number of trees.
inline double quadraticMeanDiameter(double basalArea, double treeCount) noexcept {
  return std::sqrt((basalArea * 40000) / (treeCount * kPi));
}

inline double huber(double g, double length) noexcept { return g * length; }

inline double smalian(double g1, double g2, double length) noexcept {
  return ((g2 + g1) * 0.5) * length;
}

inline double newton(double g1, double gm, double g2, double length) noexcept {
  return ((g2 + (4 * gm + g1)) / 6) * length;
}

// Cube roots as pow(x, 0.333...) rather than cbrt: the two differ in the
// last bit, and hosts compare these volumes bit for bit.
inline double neiloid(double g1, double g2, double length) noexcept {
  const double root12 = std::pow(g1 * g1 * g2, kOneThird);
  const double root21 = std::pow(g2 * g1 * g2, kOneThird);
  return (((root12 + g1) + root21) + g2) * 0.25 * length;
}

inline double cone(double g1, double g2, double length) noexcept {
  return ((std::sqrt(g2 * g1) + (g2 + g1)) / 3) * length;
}

}  // namespace xylotrak::mensuration
