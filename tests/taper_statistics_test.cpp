// Fits through the tip, the covariance of fitted coefficients, intervals of
// diameters and volumes (their coverage checked by simulation), the REML fit
// of a mixed-effects model and the calibration of such a model to one tree.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

#include "fault_injection.h"
#include "xylotrak.h"

namespace {

// A realistic taper curve that ends at 0 at the tip (its coefficients sum to 0).
const std::vector<double> kExps = {0, 1, 2, 3};
const std::vector<double> kBeta = {1.25, -1.9, 2.2, -1.55};
// Random tree effects on the constant and the first power.
const std::vector<int32_t> kRandom = {0, 1};
const std::array<double, 4> kD = {0.004, -0.003, -0.003, 0.004};
constexpr double kSigma = 0.02;

double profile(const std::vector<double> &c, const std::vector<double> &e, double x) {
  double y = 0;
  for (std::size_t k = 0; k < c.size(); ++k) y += c[k] * (e[k] == 0 ? 1.0 : std::pow(x, e[k]));
  return y;
}

struct Stems {
  std::vector<double> dbh, height, h, d;
  std::vector<int64_t> tree;
  std::vector<std::vector<double>> coefs;  // each tree's own
  int64_t rows() const { return static_cast<int64_t>(d.size()); }
};

// One tree's random effects drawn from N(0, kD).
std::array<double, 2> drawEffects(std::mt19937_64 &rng) {
  std::normal_distribution<double> z(0, 1);
  const double l00 = std::sqrt(kD[0]);
  const double l10 = kD[2] / l00;
  const double l11 = std::sqrt(kD[3] - l10 * l10);
  const double a = z(rng), b = z(rng);
  return {l00 * a, l10 * a + l11 * b};
}

Stems simulate(int trees, int perTree, unsigned seed, bool randomEffects = true) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> dbh(12, 60), total(12, 38), rel(0.01, 0.98);
  std::normal_distribution<double> noise(0, kSigma);
  Stems s;
  for (int t = 0; t < trees; ++t) {
    const double D = dbh(rng), H = total(rng);
    std::vector<double> c = kBeta;
    if (randomEffects) {
      const auto b = drawEffects(rng);
      c[0] += b[0];
      c[1] += b[1];
    }
    s.coefs.push_back(c);
    for (int k = 0; k < perTree; ++k) {
      const double h = rel(rng) * H;
      s.dbh.push_back(D);
      s.height.push_back(H);
      s.h.push_back(h);
      s.d.push_back(D * (profile(c, kExps, h / H) + noise(rng)));
      s.tree.push_back(t);
    }
  }
  return s;
}

struct LsFit {
  int32_t code = -1;
  std::vector<double> coefs, se, cov;
  int64_t df = -1;
  xylotrak_fit_stats stats{};
};

LsFit fitLs(const Stems &s, const std::vector<double> &exps, int flags) {
  LsFit f;
  const std::size_t p = exps.size();
  f.coefs.assign(p, 7.0);
  f.se.assign(p, 7.0);
  f.cov.assign(p * p, 7.0);
  f.code = PHFcDll(s.dbh.data(), s.height.data(), s.h.data(), s.d.data(), s.rows(), exps.data(),
                   static_cast<int>(p) - 1, flags, f.coefs.data(), f.se.data(), f.cov.data(), &f.df,
                   &f.stats);
  return f;
}

struct MixedFit {
  int32_t code = -1;
  std::vector<double> coefs, se, cov, d;
  xylotrak_mixed_stats stats{};
};

MixedFit fitMixed(const Stems &s, const std::vector<double> &exps,
                  const std::vector<int32_t> &random) {
  MixedFit f;
  const std::size_t p = exps.size(), q = random.size();
  f.coefs.assign(p, 7.0);
  f.se.assign(p, 7.0);
  f.cov.assign(p * p, 7.0);
  f.d.assign(q * q, 7.0);
  f.code = PHFmDll(s.dbh.data(), s.height.data(), s.h.data(), s.d.data(), s.tree.data(), s.rows(),
                   exps.data(), static_cast<int>(p) - 1, random.data(), static_cast<int>(q),
                   f.coefs.data(), f.se.data(), f.cov.data(), f.d.data(), &f.stats);
  return f;
}

xylotrak_taper_fit recordOf(const std::vector<double> &coefs, const std::vector<double> &exps,
                            const std::vector<double> &cov, double sigma2, double df) {
  xylotrak_taper_fit r{};
  r.coefs = coefs.data();
  r.exps = exps.data();
  r.covariance = cov.data();
  r.residualVariance = sigma2;
  r.degreesOfFreedom = df;
  r.termCount = static_cast<int32_t>(coefs.size()) - 1;
  return r;
}

xylotrak_taper_fit recordOf(const MixedFit &f) {
  xylotrak_taper_fit r =
      recordOf(f.coefs, kExps, f.cov, f.stats.residualSd * f.stats.residualSd, 0);
  r.randomTerms = kRandom.data();
  r.randomCovariance = f.d.data();
  r.randomCount = static_cast<int32_t>(kRandom.size());
  return r;
}

struct Bounds {
  int32_t code = -1;
  double value = 7, lower = 7, upper = 7;
  bool holds(double truth) const { return lower <= truth && truth <= upper; }
};

Bounds diameterAt(const xylotrak_taper_fit &f, double dbh, double H, double h, int kind,
                  double level = 0.95) {
  Bounds b;
  b.code = PHDcDll(&f, dbh, H, h, kind, level, &b.value, &b.lower, &b.upper);
  return b;
}

Bounds volumeOf(const xylotrak_taper_fit &f, double dbh, double H, int kind, double lh = 0,
                double uh = 0, double ld = 0, double ud = 0, double len = 0) {
  Bounds b;
  b.code = PHVcDll(&f, dbh, H, lh, uh, ld, ud, len, kind, 0.95, &b.value, &b.lower, &b.upper);
  return b;
}

// The binomial standard deviation of a coverage of 95% over n cases is
// sqrt(0.95 * 0.05 / n), 0.0049 for n = 2000: three of them are allowed.
constexpr double kCoverageTolerance = 0.015;

// One mixed fit shared by the tests that need it (300 trees x 12 rows).
const MixedFit &sharedMixedFit() {
  static const MixedFit fit = fitMixed(simulate(300, 12, 11), kExps, kRandom);
  return fit;
}

// ---------------------------------------------------------------- through the tip

TEST(TipZero, RecoversATipZeroModelFromExactDataAndEndsAtZero) {
  Stems s = simulate(30, 10, 3, false);
  for (std::size_t i = 0; i < s.d.size(); ++i)
    s.d[i] = s.dbh[i] * profile(kBeta, kExps, s.h[i] / s.height[i]);
  const LsFit f = fitLs(s, kExps, XYLOTRAK_FIT_TIP_ZERO);
  ASSERT_EQ(f.code, XYLOTRAK_FIT_OK);
  for (std::size_t k = 0; k < kBeta.size(); ++k) EXPECT_NEAR(f.coefs[k], kBeta[k], 1e-10) << k;
  EXPECT_NEAR(std::accumulate(f.coefs.begin(), f.coefs.end(), 0.0), 0.0, 1e-14);
  EXPECT_EQ(f.df, s.rows() - 3);
}

TEST(TipZero, NoisyDataEndAtZeroWhereTheFreeFitDoesNot) {
  const Stems s = simulate(60, 10, 4, false);
  const LsFit tip = fitLs(s, kExps, XYLOTRAK_FIT_TIP_ZERO);
  const LsFit free = fitLs(s, kExps, 0);
  ASSERT_EQ(tip.code, XYLOTRAK_FIT_OK);
  ASSERT_EQ(free.code, XYLOTRAK_FIT_OK);
  const double tipSum = std::accumulate(tip.coefs.begin(), tip.coefs.end(), 0.0);
  const double freeSum = std::accumulate(free.coefs.begin(), free.coefs.end(), 0.0);
  EXPECT_NEAR(tipSum, 0.0, 1e-14);
  EXPECT_GT(std::fabs(freeSum), 1e-6);
  // The constrained estimator's covariance annihilates the constraint: C 1 = 0,
  // and the tip's variance 1'C1 is 0, where the free fit's is not.
  const std::size_t p = kExps.size();
  for (std::size_t i = 0; i < p; ++i) {
    double row = 0;
    for (std::size_t j = 0; j < p; ++j) row += tip.cov[i * p + j];
    EXPECT_NEAR(row, 0.0, 1e-12 * tip.cov[i * p + i]) << i;
    EXPECT_DOUBLE_EQ(tip.se[i], std::sqrt(tip.cov[i * p + i]));
  }
  // The constraint holds for this model, so both fits estimate the same: the
  // constrained one within the free one's standard errors.
  for (std::size_t k = 0; k < p; ++k) EXPECT_LT(std::fabs(tip.coefs[k] - kBeta[k]), 4 * tip.se[k]);
  EXPECT_GE(tip.stats.residualStdError * tip.stats.residualStdError * double(tip.df),
            free.stats.residualStdError * free.stats.residualStdError * double(free.df));
  const xylotrak_taper_fit r = recordOf(tip.coefs, kExps, tip.cov, 0, double(tip.df));
  // The tip's variance is rounding, whose square root is about 1e-8 of the
  // curve's standard error elsewhere (a free fit's would be of its size).
  const Bounds atTip = diameterAt(r, 30, 20, 20, XYLOTRAK_INTERVAL_CONFIDENCE);
  const Bounds midStem = diameterAt(r, 30, 20, 10, XYLOTRAK_INTERVAL_CONFIDENCE);
  EXPECT_LT(atTip.upper - atTip.lower, 1e-6 * (midStem.upper - midStem.lower));
}

// Nearly equal exponents make the constrained design ill-conditioned: the
// variances must still be variances. Formed as N G N', the first
// coefficient's variance cancelled to -189058 and its standard error to 0,
// beside variances of 1e21 (rows that taper_stats_fuzz found; rows with a
// height outside the stem are skipped).
TEST(TipZero, AnIllConditionedFitHasNoNegativeVariance) {
  const double rows[][4] = {{24, 18, 7.4000000000000004, 0},
                            {24, 18, 0.98272678721293971, 0},
                            {24, 18, 35.6, 1.0303654535744258},
                            {24, 18, 35.6, 14},
                            {28, 20.000007271766663, 0.98272678721293971, 14},
                            {28, 20, 0, 1.0289158464942396},
                            {28, 20, 0, 71},
                            {28, 20.000000000000028, 0, 71},
                            {32, 22, 0, 1.0289158464942396},
                            {32, 22, 0, 0},
                            {32, 22, 0, 0},
                            {32, 22, 0.98344396124208444, 0},
                            {36, 24, 0, 0},
                            {36, 24, 0, 0},
                            {36, 2.0837116269406775e-230, 0, 0},
                            {36, 8, 0, 1.0303654535744258}};
  Stems s;
  for (const auto &r : rows) {
    s.dbh.push_back(r[0]);
    s.height.push_back(r[1]);
    s.h.push_back(r[2]);
    s.d.push_back(r[3]);
  }
  const std::vector<double> exps = {1.2000000000000002, 6.5125810635538262, 6.3088197146562912,
                                    6.3000000000000007};
  const LsFit tip = fitLs(s, exps, XYLOTRAK_FIT_TIP_ZERO);
  ASSERT_EQ(tip.code, XYLOTRAK_FIT_OK);
  const std::size_t p = exps.size();
  for (std::size_t i = 0; i < p; ++i) {
    EXPECT_GE(tip.cov[i * p + i], 0.0) << i;
    EXPECT_GT(tip.se[i], 0.0) << i;
  }
}

TEST(TipZero, TheFreeFitIsBitForBitThatOfPHFtDll) {
  const Stems s = simulate(40, 8, 5, true);
  const LsFit f = fitLs(s, kExps, 0);
  std::vector<double> coefs(4), se(4);
  xylotrak_fit_stats st{};
  ASSERT_EQ(PHFtDll(s.dbh.data(), s.height.data(), s.h.data(), s.d.data(), s.rows(), kExps.data(),
                    3, coefs.data(), se.data(), &st),
            XYLOTRAK_FIT_OK);
  EXPECT_EQ(f.coefs, coefs);
  EXPECT_EQ(f.se, se);
  EXPECT_EQ(f.stats.residualStdError, st.residualStdError);
  for (std::size_t k = 0; k < 4; ++k) EXPECT_DOUBLE_EQ(f.cov[k * 4 + k], se[k] * se[k]);
}

TEST(TipZero, StepwiseSelectionFitsEveryModelThroughTheTip) {
  const std::vector<double> c = {1.0, -0.9, -0.1};
  const std::vector<double> e = {0, 2, 30};
  Stems s = simulate(200, 10, 8, false);
  std::mt19937_64 rng(9);
  std::normal_distribution<double> noise(0, 0.01);
  for (std::size_t i = 0; i < s.d.size(); ++i)
    s.d[i] = s.dbh[i] * (profile(c, e, s.h[i] / s.height[i]) + noise(rng));
  std::vector<double> exps(8, 7), coefs(8, 7), se(8, 7), cov(64, 7);
  int32_t n = -1;
  int64_t df = -1;
  xylotrak_fit_stats st{};
  ASSERT_EQ(PHFwDll(s.dbh.data(), s.height.data(), s.h.data(), s.d.data(), s.rows(), nullptr, 0, 8,
                    XYLOTRAK_FIT_TIP_ZERO, exps.data(), coefs.data(), se.data(), cov.data(), &n,
                    &df, &st),
            XYLOTRAK_FIT_OK);
  ASSERT_EQ(n, 2);
  EXPECT_EQ(exps[1], 2.0);
  EXPECT_EQ(exps[2], 30.0);
  EXPECT_NEAR(coefs[0] + coefs[1] + coefs[2], 0.0, 1e-14);
  EXPECT_EQ(df, s.rows() - 2);
  for (std::size_t k = 3; k < 64; ++k) EXPECT_EQ(cov[k < 9 ? 0 : k], k < 9 ? cov[0] : 0.0) << k;
}

TEST(TipZero, NeedsATermBesideTheConstant) {
  const Stems s = simulate(5, 5, 1, false);
  const LsFit f = fitLs(s, {0}, XYLOTRAK_FIT_TIP_ZERO);
  EXPECT_EQ(f.code, XYLOTRAK_FIT_BAD_ARGUMENT);
  for (double v : f.coefs) EXPECT_EQ(v, 0.0);
  for (double v : f.cov) EXPECT_EQ(v, 0.0);
  EXPECT_EQ(fitLs(s, kExps, 0x02).code, XYLOTRAK_FIT_BAD_ARGUMENT);
}

// ---------------------------------------------------------------- intervals

TEST(Intervals, TheVolumeGradientIsExact) {
  // The volume is quadratic in the coefficients: central differences are
  // exact but for rounding, at any step.
  const std::vector<double> c = {1.2, -1.5, 1.1, -0.8};
  const std::vector<double> cov(16, 0.0);
  const double dbh = 35, H = 27;
  for (int j = 0; j < 4; ++j) {
    std::vector<double> unit(16, 0.0);
    unit[static_cast<std::size_t>(j * 4 + j)] = 1;
    const xylotrak_taper_fit r = recordOf(c, kExps, unit, 0, 0);
    // With C the unit matrix of term j the half-width is |dV/dc_j| t.
    const Bounds b = volumeOf(r, dbh, H, XYLOTRAK_INTERVAL_CONFIDENCE, 2, 20);
    ASSERT_EQ(b.code, XYLOTRAK_FIT_OK);
    const double t = 1.959963984540054;
    const double analytic = (b.upper - b.value) / t;
    std::vector<double> up = c, down = c;
    up[static_cast<std::size_t>(j)] += 0.01;
    down[static_cast<std::size_t>(j)] -= 0.01;
    const double diff = (PHViDll(dbh, H, up.data(), kExps.data(), 3, 2, 20, 0, 0, 0) -
                         PHViDll(dbh, H, down.data(), kExps.data(), 3, 2, 20, 0, 0, 0)) /
                        0.02;
    EXPECT_NEAR(analytic, std::fabs(diff), 1e-9 * std::fabs(diff)) << j;
    EXPECT_EQ(b.value, PHViDll(dbh, H, c.data(), kExps.data(), 3, 2, 20, 0, 0, 0));
  }
}

TEST(Intervals, ConfidenceIntervalsOfALeastSquaresFitCoverTheTrueCurve) {
  // 2000 data sets of 25 trees x 4 rows: the 95% interval of the diameter at
  // 30% of the height must hold the true diameter in about 95% of them.
  const double dbh = 30, H = 25, h = 7.5;
  const double truth = dbh * profile(kBeta, kExps, h / H);
  int inside = 0, volumeInside = 0;
  const int runs = 2000;
  const double trueVolume = PHViDll(dbh, H, kBeta.data(), kExps.data(), 3, 0, 0, 0, 0, 0);
  for (int run = 0; run < runs; ++run) {
    const Stems s = simulate(25, 4, 1000 + static_cast<unsigned>(run), false);
    const LsFit f = fitLs(s, kExps, 0);
    ASSERT_EQ(f.code, XYLOTRAK_FIT_OK);
    const double s2 = f.stats.residualStdError * f.stats.residualStdError;
    const xylotrak_taper_fit r = recordOf(f.coefs, kExps, f.cov, s2, double(f.df));
    if (diameterAt(r, dbh, H, h, XYLOTRAK_INTERVAL_CONFIDENCE).holds(truth)) ++inside;
    if (volumeOf(r, dbh, H, XYLOTRAK_INTERVAL_CONFIDENCE).holds(trueVolume)) ++volumeInside;
  }
  EXPECT_NEAR(inside / double(runs), 0.95, kCoverageTolerance);
  EXPECT_NEAR(volumeInside / double(runs), 0.95, kCoverageTolerance);
}

TEST(Intervals, PredictionIntervalsOfAMixedFitCoverNewTrees) {
  // 2000 new trees drawn from the model: their diameter at 40% of the height,
  // measured with the residual error, and their volume must fall inside the
  // 95% prediction intervals about 95% of the time.
  const MixedFit &fit = sharedMixedFit();
  ASSERT_EQ(fit.code, XYLOTRAK_FIT_OK);
  const xylotrak_taper_fit r = recordOf(fit);
  std::mt19937_64 rng(77);
  std::normal_distribution<double> noise(0, kSigma);
  const double dbh = 32, H = 26, h = 0.4 * H;
  const Bounds d = diameterAt(r, dbh, H, h, XYLOTRAK_INTERVAL_PREDICTION);
  const Bounds v = volumeOf(r, dbh, H, XYLOTRAK_INTERVAL_PREDICTION);
  const Bounds vc = volumeOf(r, dbh, H, XYLOTRAK_INTERVAL_CONFIDENCE);
  ASSERT_EQ(d.code, XYLOTRAK_FIT_OK);
  ASSERT_EQ(v.code, XYLOTRAK_FIT_OK);
  EXPECT_GT(v.upper - v.lower, 3 * (vc.upper - vc.lower));
  int dInside = 0, vInside = 0;
  const int trees = 2000;
  for (int t = 0; t < trees; ++t) {
    const auto b = drawEffects(rng);
    std::vector<double> c = kBeta;
    c[0] += b[0];
    c[1] += b[1];
    if (d.holds(dbh * (profile(c, kExps, h / H) + noise(rng)))) ++dInside;
    if (v.holds(PHViDll(dbh, H, c.data(), kExps.data(), 3, 0, 0, 0, 0, 0))) ++vInside;
  }
  EXPECT_NEAR(dInside / double(trees), 0.95, kCoverageTolerance);
  EXPECT_NEAR(vInside / double(trees), 0.95, kCoverageTolerance);
}

TEST(Intervals, PredictionIsWiderThanConfidenceAndLevelsNest) {
  const MixedFit &fit = sharedMixedFit();
  const xylotrak_taper_fit r = recordOf(fit);
  const Bounds c90 = diameterAt(r, 30, 24, 6, XYLOTRAK_INTERVAL_CONFIDENCE, 0.90);
  const Bounds c95 = diameterAt(r, 30, 24, 6, XYLOTRAK_INTERVAL_CONFIDENCE, 0.95);
  const Bounds p95 = diameterAt(r, 30, 24, 6, XYLOTRAK_INTERVAL_PREDICTION, 0.95);
  EXPECT_EQ(c95.value, PHDiDll(30, 24, fit.coefs.data(), kExps.data(), 3, 6));
  EXPECT_LT(c95.lower, c90.lower);
  EXPECT_GT(c95.upper, c90.upper);
  EXPECT_LT(p95.lower, c95.lower);
  EXPECT_GT(p95.upper, c95.upper);
  // A least-squares fit's volume prediction adds sigma^2 (dV/dc0)^2.
  const std::vector<double> zero(16, 0.0);
  const xylotrak_taper_fit ls = recordOf(kBeta, kExps, zero, 0.0004, 100);
  const Bounds vp = volumeOf(ls, 30, 24, XYLOTRAK_INTERVAL_PREDICTION);
  EXPECT_GT(vp.upper, vp.value);
  EXPECT_EQ(volumeOf(ls, 30, 24, XYLOTRAK_INTERVAL_CONFIDENCE).upper, vp.value);
}

TEST(Intervals, BadArgumentsClearTheOutputs) {
  const std::vector<double> cov(16, 0.0);
  xylotrak_taper_fit r = recordOf(kBeta, kExps, cov, 0.0004, 10);
  EXPECT_EQ(diameterAt(r, 30, 24, 6, XYLOTRAK_INTERVAL_CONFIDENCE).code, XYLOTRAK_FIT_OK);
  const auto cleared = [](const Bounds &b) {
    return b.code == XYLOTRAK_FIT_BAD_ARGUMENT && b.value == 0 && b.lower == 0 && b.upper == 0;
  };
  EXPECT_TRUE(cleared(diameterAt(r, 30, 24, 6, 2)));
  EXPECT_TRUE(cleared(diameterAt(r, 30, 24, 6, 0, 1.0)));
  EXPECT_TRUE(cleared(diameterAt(r, 30, 24, 25, 0)));
  EXPECT_TRUE(cleared(diameterAt(r, 0, 24, 6, 0)));
  EXPECT_TRUE(cleared(volumeOf(r, 30, -1, 0)));
  const std::vector<int32_t> twice = {1, 1};
  const std::vector<double> d(4, 0.001);
  r.randomTerms = twice.data();
  r.randomCovariance = d.data();
  r.randomCount = 2;
  EXPECT_TRUE(cleared(diameterAt(r, 30, 24, 6, 0)));
  r.randomCount = 0;
  r.residualVariance = -1;
  EXPECT_TRUE(cleared(volumeOf(r, 30, 24, 0)));
  EXPECT_TRUE(cleared([] {
    Bounds b;
    b.code = PHDcDll(nullptr, 30, 24, 6, 0, 0.95, &b.value, &b.lower, &b.upper);
    return b;
  }()));
}

// Degrees of freedom far below 1 put Student's quantile beyond the largest
// double: the interval reaches to infinity (it was reported as out of
// memory when Boost threw), and a curve with no spread still has none.
TEST(Intervals, AnInfiniteQuantileIsAnInfiniteEndNotAnError) {
  std::vector<double> cov(16, 0.0);
  for (int k = 0; k < 4; ++k) cov[static_cast<std::size_t>(k * 5)] = 1e-4;
  const xylotrak_taper_fit r = recordOf(kBeta, kExps, cov, 0.0004, 1e-200);
  const Bounds d = diameterAt(r, 30, 24, 6, XYLOTRAK_INTERVAL_CONFIDENCE, 0.5);
  ASSERT_EQ(d.code, XYLOTRAK_FIT_OK);
  EXPECT_EQ(d.lower, 0.0);
  EXPECT_EQ(d.upper, std::numeric_limits<double>::infinity());
  EXPECT_EQ(d.value, PHDiDll(30, 24, kBeta.data(), kExps.data(), 3, 6));
  const Bounds v = volumeOf(r, 30, 24, XYLOTRAK_INTERVAL_PREDICTION);
  ASSERT_EQ(v.code, XYLOTRAK_FIT_OK);
  EXPECT_EQ(v.upper, std::numeric_limits<double>::infinity());
  // No spread: the interval is the curve itself, which PHDiDll's value (its
  // terms summed in another order) may miss by a rounding; the interval
  // still holds the value, at every height.
  const std::vector<double> none(16, 0.0);
  const xylotrak_taper_fit still = recordOf(kBeta, kExps, none, 0.0, 1e-200);
  int apart = 0;
  for (int i = 0; i <= 480; ++i) {
    const Bounds s = diameterAt(still, 30, 24, i * 0.05, XYLOTRAK_INTERVAL_PREDICTION, 0.5);
    ASSERT_EQ(s.code, XYLOTRAK_FIT_OK);
    EXPECT_LE(s.lower, s.value);
    EXPECT_LE(s.value, s.upper);
    EXPECT_LE(s.upper - s.lower, 1e-12 * 30);  // a rounding of the terms, of order dbh
    apart += s.lower != s.upper;
  }
  EXPECT_GT(apart, 0);  // the case the widening is for does occur
}

// ---------------------------------------------------------------- mixed effects

TEST(Mixed, RemlRecoversKnownVarianceComponents) {
  const MixedFit &f = sharedMixedFit();
  ASSERT_EQ(f.code, XYLOTRAK_FIT_OK);
  EXPECT_EQ(f.stats.convergence, XYLOTRAK_MIXED_CONVERGED);
  EXPECT_EQ(f.stats.trees, 300);
  EXPECT_GT(f.stats.iterations, 0);
  for (std::size_t k = 0; k < 4; ++k) EXPECT_LT(std::fabs(f.coefs[k] - kBeta[k]), 4 * f.se[k]) << k;
  // 300 trees estimate a variance to about 10%: 30% is allowed.
  for (std::size_t k = 0; k < 4; ++k) EXPECT_NEAR(f.d[k], kD[k], 0.3 * std::fabs(kD[k])) << k;
  EXPECT_NEAR(f.stats.residualSd, kSigma, 0.05 * kSigma);
  EXPECT_TRUE(std::isfinite(f.stats.remlLogLik));
  // The REML estimate of the fixed effects beats least squares at nothing
  // here but consistency: their standard errors exceed the naive ones.
  const LsFit ls = fitLs(simulate(300, 12, 11), kExps, 0);
  EXPECT_GT(f.se[0], ls.se[0]);
}

TEST(Mixed, ErrorsAreReportedAndClearTheOutputs) {
  Stems s = simulate(2, 6, 5);
  MixedFit f = fitMixed(s, kExps, kRandom);  // 2 trees cannot estimate a 2 x 2 D
  EXPECT_EQ(f.code, XYLOTRAK_FIT_TOO_FEW_ROWS);
  for (double v : f.d) EXPECT_EQ(v, 0.0);
  for (double v : f.coefs) EXPECT_EQ(v, 0.0);
  s = simulate(20, 6, 5);
  EXPECT_EQ(fitMixed(s, kExps, {1, 1}).code, XYLOTRAK_FIT_BAD_ARGUMENT);
  EXPECT_EQ(fitMixed(s, kExps, {4}).code, XYLOTRAK_FIT_BAD_ARGUMENT);
  EXPECT_EQ(fitMixed(s, {0, 1, 1}, {0}).code, XYLOTRAK_FIT_RANK_DEFICIENT);
}

TEST(Mixed, RunningOutOfMemoryAnywhereIsReportedAndLeavesOutputsCleared) {
  const Stems s = simulate(12, 5, 6);
  bool sawFailure = false;
  for (long k = 1; k <= 40; ++k) {
    xylotrak::fault::failAllocationAt(k);
    const MixedFit f = fitMixed(s, kExps, kRandom);
    xylotrak::fault::failAllocationAt(0);
    if (f.code == XYLOTRAK_FIT_OUT_OF_MEMORY) {
      sawFailure = true;
      for (double v : f.coefs) EXPECT_EQ(v, 0.0);
      for (double v : f.d) EXPECT_EQ(v, 0.0);
    } else {
      EXPECT_EQ(f.code, XYLOTRAK_FIT_OK) << k;
    }
  }
  EXPECT_TRUE(sawFailure);
}

// ---------------------------------------------------------------- calibration

struct Calibrated {
  int32_t code = -1, flags = -1;
  std::vector<double> coefs, cov;
};

Calibrated calibrate(const xylotrak_taper_fit &r, double dbh, double H,
                     const std::vector<double> &heights, const std::vector<double> &diams) {
  Calibrated c;
  c.coefs.assign(4, 7.0);
  c.cov.assign(16, 7.0);
  c.code = PHCbDll(&r, dbh, H, heights.data(), diams.data(), static_cast<int>(heights.size()),
                   c.coefs.data(), c.cov.data(), &c.flags);
  return c;
}

TEST(Calibration, WithoutMeasurementsItIsTheMeanCurve) {
  const MixedFit &f = sharedMixedFit();
  const xylotrak_taper_fit r = recordOf(f);
  const Calibrated c = calibrate(r, 30, 24, {}, {});
  ASSERT_EQ(c.code, XYLOTRAK_FIT_OK);
  EXPECT_EQ(c.coefs, f.coefs);
  EXPECT_EQ(c.flags, 0);
  // C + E D E': the mean curve's covariance plus the tree's own deviation.
  EXPECT_DOUBLE_EQ(c.cov[0], f.cov[0] + f.d[0]);
  EXPECT_DOUBLE_EQ(c.cov[1], f.cov[1] + f.d[1]);
  EXPECT_DOUBLE_EQ(c.cov[5], f.cov[5] + f.d[3]);
  EXPECT_DOUBLE_EQ(c.cov[10], f.cov[10]);
}

TEST(Calibration, ATreesFullProfileComesCloseToItsOwnFit) {
  const MixedFit &f = sharedMixedFit();
  const xylotrak_taper_fit r = recordOf(f);
  // A new tree measured at 40 heights: its calibrated curve and a least-squares
  // fit of its own random terms (the others held at the fixed effects) agree.
  const Stems tree = simulate(1, 40, 123);
  std::vector<double> hs = tree.h, ds = tree.d;
  const Calibrated c = calibrate(r, tree.dbh[0], tree.height[0], hs, ds);
  ASSERT_EQ(c.code, XYLOTRAK_FIT_OK);
  const LsFit own = fitLs(tree, kExps, 0);
  ASSERT_EQ(own.code, XYLOTRAK_FIT_OK);
  const double H = tree.height[0], D = tree.dbh[0];
  for (double x : {0.1, 0.3, 0.5, 0.7, 0.9}) {
    const double cal = PHDiDll(D, H, c.coefs.data(), kExps.data(), 3, x * H);
    const double mine = PHDiDll(D, H, own.coefs.data(), kExps.data(), 3, x * H);
    const double truth = D * profile(tree.coefs[0], kExps, x);
    EXPECT_NEAR(cal, mine, 0.015 * D) << x;
    EXPECT_NEAR(cal, truth, 0.015 * D) << x;
  }
  // Calibration narrows the tree's curve: a confidence interval of the
  // calibrated tree is narrower than that of the uncalibrated one.
  xylotrak_taper_fit own_r = r;
  own_r.coefs = c.coefs.data();
  own_r.covariance = c.cov.data();
  own_r.flags = XYLOTRAK_TAPER_FIT_CALIBRATED;
  const Calibrated none = calibrate(r, D, H, {}, {});
  xylotrak_taper_fit mean_r = r;
  mean_r.coefs = none.coefs.data();
  mean_r.covariance = none.cov.data();
  mean_r.flags = XYLOTRAK_TAPER_FIT_CALIBRATED;
  const Bounds narrow = volumeOf(own_r, D, H, XYLOTRAK_INTERVAL_PREDICTION);
  const Bounds wide = volumeOf(mean_r, D, H, XYLOTRAK_INTERVAL_PREDICTION);
  EXPECT_LT(narrow.upper - narrow.lower, 0.5 * (wide.upper - wide.lower));
  const double trueVolume = PHViDll(D, H, tree.coefs[0].data(), kExps.data(), 3, 0, 0, 0, 0, 0);
  EXPECT_TRUE(narrow.holds(trueVolume));
}

TEST(Calibration, OneMeasurementCoversTheTreesCurveAtTheNominalRate) {
  // 2000 new trees, each calibrated from one diameter at 7 m: the 95%
  // confidence interval of the calibrated curve at 60% of the height holds
  // the tree's true diameter about 95% of the time.
  const MixedFit &f = sharedMixedFit();
  const xylotrak_taper_fit r = recordOf(f);
  std::mt19937_64 rng(91);
  std::normal_distribution<double> noise(0, kSigma);
  const double D = 34, H = 28, h = 0.6 * H;
  int inside = 0;
  const int trees = 2000;
  for (int t = 0; t < trees; ++t) {
    const auto b = drawEffects(rng);
    std::vector<double> c = kBeta;
    c[0] += b[0];
    c[1] += b[1];
    const double d7 = D * (profile(c, kExps, 7 / H) + noise(rng));
    const Calibrated cal = calibrate(r, D, H, {7}, {d7});
    ASSERT_EQ(cal.code, XYLOTRAK_FIT_OK);
    xylotrak_taper_fit own = r;
    own.coefs = cal.coefs.data();
    own.covariance = cal.cov.data();
    own.flags = XYLOTRAK_TAPER_FIT_CALIBRATED;
    if (diameterAt(own, D, H, h, XYLOTRAK_INTERVAL_CONFIDENCE).holds(D * profile(c, kExps, h / H)))
      ++inside;
  }
  EXPECT_NEAR(inside / double(trees), 0.95, kCoverageTolerance);
}

TEST(Calibration, AMeasurementFarOutsideTheDataIsFlaggedNotRefused) {
  const xylotrak_taper_fit r = recordOf(sharedMixedFit());
  const double typical = 30 * profile(kBeta, kExps, 7.0 / 24);
  EXPECT_EQ(calibrate(r, 30, 24, {7}, {typical}).flags, 0);
  const Calibrated far = calibrate(r, 30, 24, {7}, {typical * 1.8});
  EXPECT_EQ(far.code, XYLOTRAK_FIT_OK);
  EXPECT_EQ(far.flags, XYLOTRAK_CALIBRATION_OUTLYING);
  const Calibrated bad = calibrate(r, 30, 24, {25}, {typical});
  EXPECT_EQ(bad.code, XYLOTRAK_FIT_BAD_ARGUMENT);
  for (double v : bad.coefs) EXPECT_EQ(v, 0.0);
  for (double v : bad.cov) EXPECT_EQ(v, 0.0);
  xylotrak_taper_fit twice = r;
  twice.flags = XYLOTRAK_TAPER_FIT_CALIBRATED;
  const Calibrated again = calibrate(twice, 30, 24, {7}, {typical});
  EXPECT_EQ(again.code, XYLOTRAK_FIT_BAD_ARGUMENT);
  for (double v : again.coefs) EXPECT_EQ(v, 0.0);
  for (double v : again.cov) EXPECT_EQ(v, 0.0);
}

// A record the library refuses (here a random term named twice, then a
// negative residual variance) leaves no stale numbers in the outputs: they
// are cleared for the record's term count, as on every other error.
TEST(Calibration, ARefusedRecordClearsTheOutputs) {
  const MixedFit &f = sharedMixedFit();
  const xylotrak_taper_fit good = recordOf(f);
  const int32_t repeated[2] = {good.randomTerms[0], good.randomTerms[0]};
  xylotrak_taper_fit bad = good;
  bad.randomTerms = repeated;
  bad.randomCount = 2;
  const double typical = 30 * profile(kBeta, kExps, 7.0 / 24);
  for (int variant = 0; variant < 2; ++variant) {
    if (variant == 1) {
      bad = good;
      bad.residualVariance = -1;
    }
    const Calibrated c = calibrate(bad, 30, 24, {7}, {typical});
    EXPECT_EQ(c.code, XYLOTRAK_FIT_BAD_ARGUMENT);
    EXPECT_EQ(c.flags, 0);
    for (double v : c.coefs) EXPECT_EQ(v, 0.0);
    for (double v : c.cov) EXPECT_EQ(v, 0.0);
  }
}

}  // namespace
