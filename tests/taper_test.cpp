// Diameter, height, volume, form factor and log count on known stems.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "xylotrak.h"

namespace {

// The cone: profile 1 - h/20 on a 30 cm, 20 m tree.
struct Cone {
  double dbh = 30, height = 20;
  double coefs[2] = {1, -1};
  double exps[2] = {0, 1};
  int terms = 1;
  double d(double h) const { return PHDiDll(dbh, height, coefs, exps, terms, h); }
  double hAt(double diam) const { return PHHiDll(dbh, height, coefs, exps, terms, diam); }
  double v(double lh, double uh, double ld, double ud, double len) const {
    return PHViDll(dbh, height, coefs, exps, terms, lh, uh, ld, ud, len);
  }
  int count(double lh, double uh, double ld, double ud, double len, int n = 1) const {
    return PHCTDll(dbh, height, coefs, exps, n, lh, uh, ld, ud, len);
  }
};

constexpr double kPi = 3.141592653589793;
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// Whole-cone volume from the ground to h: 0.15 pi (1 - (1 - h/20)^3).
double coneVolume(double h) { return 0.15 * kPi * (1 - std::pow(1 - h / 20, 3)); }

TEST(Diameter, ConeValues) {
  Cone c;
  EXPECT_EQ(c.d(10), 15.0);
  EXPECT_EQ(c.d(5), 22.5);
  EXPECT_EQ(c.d(0), 30.0);
  EXPECT_EQ(c.d(25), 0.0) << "negative polynomial floors at 0";
}

TEST(Diameter, ConstantProfileReadsOnlyTheFirstCoefficient) {
  const double coefs[1] = {1};
  const double *noExps = nullptr;  // never read for a constant profile
  EXPECT_EQ(PHDiDll(30, 20, coefs, noExps, 0, 7), 30.0);
  EXPECT_EQ(PHDiDll(30, 20, coefs, noExps, 65535, 7), 30.0) << "65535 reads as -1";
  EXPECT_EQ(PHDiDll(30, 0, coefs, noExps, 0, 0), 30.0) << "relative height is never formed";
}

TEST(Diameter, SixteenBitTermCount) {
  Cone c;
  EXPECT_EQ(PHDiDll(30, 20, c.coefs, c.exps, 65537, 10), 15.0) << "65537 reads as 1";
  EXPECT_EQ(PHDiDll(30, 20, c.coefs, c.exps, 0x7FFF0001, 10), 15.0);
}

TEST(Diameter, NaNPropagates) {
  Cone c;
  EXPECT_TRUE(std::isnan(PHDiDll(30, 0, c.coefs, c.exps, 1, 0))) << "0/0 relative height";
  EXPECT_TRUE(std::isnan(c.d(kNaN)));
  const double half[2] = {0, 0.5};
  EXPECT_TRUE(std::isnan(PHDiDll(30, 20, c.coefs, half, 1, -4)))
      << "negative base, fractional power";
}

TEST(Height, ExactHitAtMidStem) {
  Cone c;
  EXPECT_EQ(c.hAt(15), 10.0);
}

TEST(Height, FullBisection) {
  Cone c;
  EXPECT_EQ(c.hAt(7), 15.333333333333332);
}

TEST(Height, StemEndsAndOutOfRangeTargets) {
  Cone c;
  EXPECT_EQ(c.hAt(0), 20.0) << "first move reaches the top, where the diameter is 0";
  EXPECT_EQ(c.hAt(40), 0.0) << "thicker than the butt";
  EXPECT_EQ(c.hAt(-1), 20.0) << "thinner than any diameter";
  EXPECT_EQ(PHHiDll(30, 0, c.coefs, c.exps, 1, 7), 0.0);
}

TEST(Height, NaNTargetStopsAtTheFirstComparison) {
  Cone c;
  EXPECT_EQ(c.hAt(kNaN), 10.0);
}

TEST(Height, ResultInvertsTheDiameter) {
  // A 5-term profile that narrows upward: the search lands where D equals the target.
  const double coefs[5] = {1.14, -1.23, 1.68, -3.14, 1.55};
  const double exps[5] = {0, 1, 2, 3, 4};
  for (double target = 2; target < 36; target += 1.5) {
    const double h = PHHiDll(32, 30, coefs, exps, 4, target);
    ASSERT_GE(h, 0.0);
    ASSERT_LE(h, 30.0);
    if (h > 0 && h < 30) {
      EXPECT_NEAR(PHDiDll(32, 30, coefs, exps, 4, h), target, 1e-9);
    }
  }
}

TEST(Volume, WholeStemAndDiameterLimits) {
  Cone c;
  EXPECT_DOUBLE_EQ(c.v(0, 0, 0, 0, 0), 0.47123889803846897);
  EXPECT_NEAR(c.v(0, 0, 15, 0, 0), 0.01875 * kPi, 1e-14);
  EXPECT_EQ(c.v(0, 0, 999, 0, 0), c.v(0, 0, 0, 0, 0)) << "999 is no limit";
  EXPECT_DOUBLE_EQ(c.v(0, 0, 998, 0, 0), c.v(0, 0, 0, 0, 0)) << "998 is searched and gives 0";
  EXPECT_EQ(c.v(0, 0, 0, 999, 0), 0.0) << "upperDiam 999 is searched: empty section";
}

TEST(Volume, SectionsAndWholeLogs) {
  Cone c;
  const double top = 46.0 / 3.0;
  EXPECT_NEAR(c.v(0.3, 0, 0, 7, 0), coneVolume(top) - coneVolume(0.3), 1e-13);
  EXPECT_NEAR(c.v(0.3, 0, 0, 7, 0), 0.444363, 1e-6);
  EXPECT_NEAR(c.v(0.3, 0, 0, 7, 2.5), coneVolume(15.3) - coneVolume(0.3), 1e-13);
  EXPECT_NEAR(c.v(0.3, 0, 0, 7, 2.5), 0.444234, 1e-6);
  EXPECT_NEAR(c.v(0.5, 5.49, 0, 0, 2.5), coneVolume(3.0) - coneVolume(0.5), 1e-13);
  EXPECT_NEAR(c.v(0.5, 5.5, 0, 0, 2.5), coneVolume(5.5) - coneVolume(0.5), 1e-13);
  EXPECT_EQ(c.v(10, 5, 0, 0, 0), 0.0) << "inverted section";
  EXPECT_EQ(c.v(25, 0, 0, 0, 0), 0.0) << "lower height above the tree";
}

TEST(Volume, NaNLimitsCountAsAbsent) {
  Cone c;
  EXPECT_EQ(c.v(kNaN, kNaN, kNaN, kNaN, kNaN), c.v(0, 0, 0, 0, 0));
}

TEST(Volume, NegativeTermCountGivesZero) {
  Cone c;
  EXPECT_EQ(PHViDll(30, 20, c.coefs, c.exps, -1, 0, 0, 0, 0, 0), 0.0);
  EXPECT_EQ(PHViDll(30, 20, c.coefs, c.exps, 65535, 2, 5, 0, 0, 0), 0.0);
}

TEST(Volume, Cylinder) {
  const double coefs[1] = {1}, exps[1] = {0};
  EXPECT_NEAR(PHViDll(30, 20, coefs, exps, 0, 2, 5, 0, 0, 0), 0.0675 * kPi, 1e-14);
}

TEST(Volume, AgreesWithFormFactor) {
  const double coefs[5] = {1.14, -1.23, 1.68, -3.14, 1.55};
  const double exps[5] = {0, 1, 2, 3, 4};
  const double whole = PHViDll(32, 30, coefs, exps, 4, 0, 0, 0, 0, 0);
  const double viaForm = 7.853981633974483e-05 * 32 * 32 * 30 * PHFFDll(coefs, exps, 4);
  EXPECT_NEAR(whole, viaForm, 1e-12 * whole);
}

TEST(Volume, AdditiveOverAdjacentSections) {
  const double coefs[5] = {1.14, -1.23, 1.68, -3.14, 1.55};
  const double exps[5] = {0, 1, 2, 3, 4};
  auto v = [&](double a, double b) { return PHViDll(32, 30, coefs, exps, 4, a, b, 0, 0, 0); };
  EXPECT_NEAR(v(1, 7) + v(7, 19), v(1, 19), 1e-13);
}

TEST(FormFactor, KnownProfiles) {
  const double one[1] = {1}, zero[1] = {0}, half[1] = {0.5}, two[1] = {2};
  EXPECT_EQ(PHFFDll(one, zero, 0), 1.0);
  EXPECT_EQ(PHFFDll(one, half, 0), 0.5);
  EXPECT_EQ(PHFFDll(two, zero, 0), 4.0);
  Cone c;
  EXPECT_DOUBLE_EQ(PHFFDll(c.coefs, c.exps, 1), 1.0 / 3.0);
  const double sqrtExps[2] = {0, 0.5};
  EXPECT_EQ(PHFFDll(c.coefs, sqrtExps, 1), 0.16666666666666674);
}

TEST(FormFactor, NegativeTermCountGivesZero) {
  const double *none = nullptr;  // nothing may be read
  EXPECT_EQ(PHFFDll(none, none, -1), 0.0);
  EXPECT_EQ(PHFFDll(none, none, 65535), 0.0);
}

TEST(LogCount, HeightLimits) {
  Cone c;
  EXPECT_EQ(c.count(0.5, 5.5, 0, 0, 2.5), 2);
  EXPECT_EQ(c.count(0.5, 5.49, 0, 0, 2.5), 1);
  EXPECT_EQ(c.count(10, 5, 0, 0, 2.5), 0);
}

TEST(LogCount, DiameterLimits) {
  Cone c;
  EXPECT_EQ(c.count(0.3, 0, 0, 7, 2.5), 6);
  EXPECT_EQ(c.count(0, 0, 15, 7, 2.5), 2);
  EXPECT_EQ(c.count(0, 0, 0, 0, 2.5), 8);
  EXPECT_EQ(c.count(0, 0, 0, 0, 2.5, -1), 8) << "a negative count searches a constant profile";
  EXPECT_EQ(c.count(0, 0, 0, 0, 0), 0);
  EXPECT_EQ(c.count(0, 0, 0, 0, kNaN), 0);
}

TEST(LogCount, SaturatesInsteadOfOverflowing) {
  Cone c;
  EXPECT_EQ(c.count(0, 0, 0, 0, 1e-9), 2147483647);
  EXPECT_EQ(c.count(0, 0, 0, 0, 5e-324), 2147483647) << "quotient is +inf";
  EXPECT_EQ(c.count(0, 0, 0, 0, 20.0 / 1073741824.0), 1073741824)
      << "large counts still convert exactly";
}

TEST(LogCount, InfiniteLogsInAnInfiniteSectionCountZero) {
  // The quotient is inf / inf, NaN: no count, rather than an undefined conversion.
  Cone c;
  c.height = std::numeric_limits<double>::infinity();
  const double inf = c.height;
  EXPECT_EQ(c.count(1, 0, 0, 0, inf), 0);
  EXPECT_EQ(c.count(0, 0, 0, 0, inf), 0);
  EXPECT_EQ(c.count(0, 0, 0, 0, 1), 2147483647) << "a finite length still saturates";
}

TEST(LogCount, MatchesVolumeShortening) {
  // The volume's top is the lower of U and k * logLength + L.
  Cone c;
  const int k = c.count(0.3, 0, 0, 7, 2.5);
  EXPECT_NEAR(c.v(0.3, 0, 0, 7, 2.5), coneVolume(0.3 + k * 2.5) - coneVolume(0.3), 1e-13);
}

}  // namespace
