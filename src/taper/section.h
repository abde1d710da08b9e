// Turning the five section limits of the volume and log-count exports into
// a lower and an upper height.
#pragma once

namespace xylotrak::taper {

struct Section {
  double lower;
  double upper;
};

// Resolves the height and diameter limits (0 or below, or NaN, is absent;
// lowerDiam of 999 or above is absent too). The lower-end search runs before
// the upper-end search; each is a full PHHiDll call.
Section resolveSection(double dbh, double totalHeight, const double *coefs, const double *exps,
                       int termCount, double lowerHeight, double upperHeight, double lowerDiam,
                       double upperDiam) noexcept;

// Volume (m^3) of the stem from the ground to height h: the squared profile
// integrated term by term in closed form, in one running sum.
double volumeFromGround(double dbh, double totalHeight, const double *coefs, const double *exps,
                        int terms, double h) noexcept;

}  // namespace xylotrak::taper
