// The model check and the accurate volume: each kind of flawed model is
// flagged with its finding, ordinary models pass clean, and the quadrature
// agrees with the closed form where that form is sound and with an
// independent integration where it is not.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <random>
#include <vector>

#include "xylotrak.h"

namespace {

struct Profile {
  std::vector<double> coefs, exps;
  int terms() const { return static_cast<int>(coefs.size()) - 1; }
};

int findings(const Profile &p, int termCount, int *digits = nullptr) {
  int32_t d = -1;
  const int f = PHCkDll(30, 20, p.coefs.data(), p.exps.data(), termCount, &d);
  if (digits != nullptr) *digits = d;
  return f;
}
int findings(const Profile &p, int *digits = nullptr) { return findings(p, p.terms(), digits); }

// p(y) = 1.1 (1 - y) + 0.4 (1 - y)^degree, expanded into powers of y: a curve
// written in powers of (1 - y) as users bring them, with coefficients of
// alternating sign, near 1e9 for degree 34.
Profile expanded(int degree = 34) {
  const auto terms = static_cast<std::size_t>(degree) + 1;
  Profile p{std::vector<double>(terms, 0.0), std::vector<double>(terms)};
  for (int j = 0; j <= degree; ++j) {
    p.exps[j] = j;
    double binomial = 1;  // C(degree, j)
    for (int i = 1; i <= j; ++i) binomial = binomial * (degree - i + 1) / i;
    const double sign = j % 2 == 0 ? 1 : -1;
    p.coefs[j] += 0.4 * binomial * sign;
    if (j <= 1) p.coefs[j] += 1.1 * sign;
  }
  return p;
}

TEST(ModelCheck, EachFlawIsFlaggedAlone) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const char *what;
    Profile profile;
    std::optional<int> termCount;  // the profile's own when not given
    int expected;
  };
  const Case cases[] = {
      {"expanded power of (1 - y)", expanded(), {}, XYLOTRAK_CHECK_VOLUME_ILL_CONDITIONED},
      {"bump", {{1, -1, 0.3, -0.3}, {0, 1, 0.5, 3}}, {}, XYLOTRAK_CHECK_DIAMETER_INCREASES},
      // Below zero from 2/3 up, back to 0 at the tip; the diameter reads 0 there.
      {"dip below zero", {{1, -2.5, 1.5}, {0, 1, 2}}, {}, XYLOTRAK_CHECK_NEGATIVE_DIAMETER},
      {"one term below zero",
       {{1, -1.5}, {0, 2}},
       {},
       XYLOTRAK_CHECK_NEGATIVE_DIAMETER | XYLOTRAK_CHECK_NONZERO_TIP},
      {"nonzero tip", {{1, -0.9}, {0, 1}}, {}, XYLOTRAK_CHECK_NONZERO_TIP},
      {"exps[0] = 1", {{1, -1}, {1, 2}}, {}, XYLOTRAK_CHECK_EXP0_NONZERO},
      {"NaN coefficient", {{1, nan}, {0, 1}}, {}, XYLOTRAK_CHECK_NONFINITE},
      {"infinite exponent",
       {{1, -1}, {0, std::numeric_limits<double>::infinity()}},
       {},
       XYLOTRAK_CHECK_NONFINITE},
      {"65537 terms", {{1, -1}, {0, 1}}, 65537, XYLOTRAK_CHECK_BAD_TERM_COUNT},
      {"negative count", {{1, -1}, {0, 1}}, -1, XYLOTRAK_CHECK_BAD_TERM_COUNT},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(findings(c.profile, c.termCount.value_or(c.profile.terms())), c.expected) << c.what;
  }
}

// The closed form is ill-conditioned with fewer than 6 correct digits: a
// model keeping exactly 6 passes, one keeping 5 is flagged. The expanded
// curves lose digits as their degree grows, through both.
TEST(ModelCheck, VolumeIllConditionedBelowSixDigitsOnly) {
  bool sawSix = false, sawFive = false;
  for (int degree = 2; degree <= 34; ++degree) {
    int digits = -1;
    const int f = findings(expanded(degree), &digits);
    SCOPED_TRACE(::testing::Message() << "degree " << degree << ", " << digits << " digits");
    EXPECT_EQ((f & XYLOTRAK_CHECK_VOLUME_ILL_CONDITIONED) != 0, digits < 6);
    EXPECT_EQ(f & ~XYLOTRAK_CHECK_VOLUME_ILL_CONDITIONED, 0) << "a smooth stem otherwise";
    sawSix = sawSix || digits == 6;
    sawFive = sawFive || digits == 5;
  }
  EXPECT_TRUE(sawSix && sawFive) << "the threshold itself was not reached";
}

TEST(ModelCheck, OrdinaryModelsPassWithManyDigits) {
  std::vector<Profile> models = {
      {{1, -1}, {0, 1}},                                            // the cone
      {{1.15, -0.6, 0.9, -1.6, 0.8, -0.65}, {0, 0.5, 1, 2, 3, 5}},  // the benchmark stem
      {{1.21, -0.83, 0.94, -1.52, 0.61, -0.41}, {0, 0.55, 1.6, 2.7, 4.3, 7.5}},
      {{1.2, -1.2 * 0.6, -1.2 * 0.4}, {0, 1, 3}},
  };
  // Fifth-degree polynomials as fits give them: 1.2 (1 - y) (1 + a y + b y^2)
  // expanded, narrowing to 0 at the tip.
  std::mt19937_64 rng(5);
  for (int i = 0; i < 50; ++i) {
    const double a = std::uniform_real_distribution<>(-0.5, 0.3)(rng);
    const double b = std::uniform_real_distribution<>(-0.3, 0.3)(rng);
    const double g = std::uniform_real_distribution<>(-0.2, 0.2)(rng);
    // 1.2 (1 - y)(1 + a y + b y^2 + g y^3 + g y^4)
    const double q[5] = {1, a, b, g, g};
    Profile p{std::vector<double>(6, 0.0), {0, 1, 2, 3, 4, 5}};
    for (int k = 0; k < 5; ++k) p.coefs[k] += 1.2 * q[k], p.coefs[k + 1] -= 1.2 * q[k];
    models.push_back(p);
  }
  int clean = 0;
  for (const Profile &p : models) {
    int digits = -1;
    const int f = findings(p, &digits);
    EXPECT_GE(digits, 12) << p.coefs[1];
    // A drawn polynomial may rise somewhere near its tip; nothing else is
    // ever flagged.
    EXPECT_TRUE(f == 0 || f == XYLOTRAK_CHECK_DIAMETER_INCREASES) << f << " " << p.coefs[1];
    clean += f == 0;
  }
  EXPECT_GE(clean, 45) << "of " << models.size();
  EXPECT_EQ(PHCkDll(30, 20, models[0].coefs.data(), models[0].exps.data(), 1, nullptr), 0);
}

TEST(AccurateVolume, AgreesWithTheClosedFormWhereItIsSound) {
  const Profile p{{1.15, -0.6, 0.9, -1.6, 0.8, -0.65}, {0, 0.5, 1, 2, 3, 5}};
  const double *c = p.coefs.data(), *e = p.exps.data();
  const double limits[][5] = {{0, 0, 0, 0, 0},   {0.3, 0, 0, 7, 0},   {0, 12, 0, 0, 0},
                              {2, 0, 30, 0, 0},  {0.3, 0, 0, 7, 2.5}, {10, 5, 0, 0, 0},
                              {0, 0, 999, 0, 0}, {0.5, 29.5, 0, 0, 0}};
  for (const auto &l : limits) {
    const double closed = PHViDll(35, 30, c, e, 5, l[0], l[1], l[2], l[3], l[4]);
    const double accurate = PHVaDll(35, 30, c, e, 5, l[0], l[1], l[2], l[3], l[4]);
    EXPECT_NEAR(accurate, closed, 1e-10 * closed) << l[0] << " " << l[1] << " " << l[2];
  }
  // A negative count integrates nothing, as the closed form.
  EXPECT_EQ(PHVaDll(35, 30, c, e, -1, 0, 0, 0, 0, 0), 0.0);
}

TEST(AccurateVolume, GetsTheExpandedModelRightWhereTheClosedFormLosesIt) {
  const Profile p = expanded();
  const double *c = p.coefs.data(), *e = p.exps.data();
  // An independent integration of the model as given: Simpson's rule over
  // 20000 panels (its error is far below 1e-12 for this polynomial), the
  // profile by Horner's rule in long double.
  const auto squared = [&](long double y) {
    long double s = 0;
    for (int k = 34; k >= 0; --k) s = s * y + static_cast<long double>(c[k]);
    return s * s;
  };
  const auto reference = [&](double upper) {
    constexpr int kPanels = 20000;
    const long double h = static_cast<long double>(upper) / 20 / kPanels;
    long double sum = squared(0) + squared(static_cast<long double>(upper) / 20);
    for (int i = 1; i < kPanels; ++i) sum += (i % 2 == 1 ? 4 : 2) * squared(i * h);
    return static_cast<double>(sum * h / 3 * 20 * 900 * 7.853981633974483e-05L);
  };
  const double whole = PHVaDll(30, 20, c, e, 34, 0, 0, 0, 0, 0);
  EXPECT_NEAR(whole, reference(20), 1e-9 * whole);
  EXPECT_NEAR(whole, 0.60803, 5e-5);  // of the curve before it was expanded
  EXPECT_EQ(PHViDll(30, 20, c, e, 34, 0, 0, 0, 0, 0), 0.0) << "the cancelling closed form";
  // Up to the 7 cm top, found by the same height search as PHViDll.
  const double top = PHHiDll(30, 20, c, e, 34, 7);
  const double toTop = PHVaDll(30, 20, c, e, 34, 0, 0, 0, 7, 0);
  EXPECT_NEAR(toTop, reference(top), 1e-9 * toTop);
}

TEST(AccurateVolume, CountsItsHeightSearchesOnly) {
  const double c[] = {1, -1}, e[] = {0, 1};
  tally_start();
  PHVaDll(30, 20, c, e, 1, 0, 0, 15, 7, 0);  // two searches: 1 and 100 rounds
  EXPECT_EQ(tally_count(2), 0);
  EXPECT_EQ(tally_count(4), 2);
  EXPECT_EQ(tally_count(3), 101);
  tally_start();
  PHCkDll(30, 20, c, e, 1, nullptr);
  for (int slot = 0; slot <= 8; ++slot) EXPECT_EQ(tally_count(slot), 0) << slot;
}

}  // namespace
