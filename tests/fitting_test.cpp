// Fitting taper models: recovery of known models, the statistics, skipped
// rows, the errors that leave the outputs cleared, and stepwise selection.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "fault_injection.h"
#include "xylotrak.h"

namespace {

struct Stems {
  std::vector<double> dbh, height, h, d;
  std::int64_t rows() const { return static_cast<std::int64_t>(d.size()); }
};

double profile(const std::vector<double> &c, const std::vector<double> &e, double x) {
  double y = 0;
  for (std::size_t k = 0; k < c.size(); ++k) y += c[k] * (e[k] == 0 ? 1.0 : std::pow(x, e[k]));
  return y;
}

// `trees` trees of random size, each measured at `perTree` random heights,
// diameters from the model plus Gaussian noise of `sigma` (relative).
Stems measure(const std::vector<double> &c, const std::vector<double> &e, int trees, int perTree,
              double sigma, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> dbh(12, 60), total(12, 38), rel(0, 1);
  std::normal_distribution<double> noise(0, sigma);
  Stems s;
  for (int t = 0; t < trees; ++t) {
    const double D = dbh(rng), H = total(rng);
    for (int k = 0; k < perTree; ++k) {
      const double h = rel(rng) * H;
      s.dbh.push_back(D);
      s.height.push_back(H);
      s.h.push_back(h);
      s.d.push_back(D * (profile(c, e, h / H) + (sigma > 0 ? noise(rng) : 0.0)));
    }
  }
  return s;
}

struct Result {
  int32_t code = -1;
  std::vector<double> coefs, se;
  xylotrak_fit_stats stats{};
};

Result fit(const Stems &s, const std::vector<double> &exps) {
  Result r;
  r.coefs.assign(exps.size(), 7.0);  // not zero, so clearing shows
  r.se.assign(exps.size(), 7.0);
  r.stats.rSquared = 7;
  r.code = PHFtDll(s.dbh.data(), s.height.data(), s.h.data(), s.d.data(), s.rows(), exps.data(),
                   static_cast<int>(exps.size()) - 1, r.coefs.data(), r.se.data(), &r.stats);
  return r;
}

struct Selected {
  int32_t code = -1;
  int32_t n = -1;
  std::vector<double> exps, coefs, se;
  xylotrak_fit_stats stats{};
};

Selected select(const Stems &s, const std::vector<double> &candidates, int maxTerms) {
  Selected r;
  r.exps.assign(static_cast<std::size_t>(maxTerms > 0 ? maxTerms : 1), 7.0);
  r.coefs = r.exps;
  r.se = r.exps;
  r.code =
      PHFsDll(s.dbh.data(), s.height.data(), s.h.data(), s.d.data(), s.rows(),
              candidates.empty() ? nullptr : candidates.data(), static_cast<int>(candidates.size()),
              maxTerms, r.exps.data(), r.coefs.data(), r.se.data(), &r.n, &r.stats);
  return r;
}

void expectCleared(const Result &r) {
  for (double c : r.coefs) EXPECT_EQ(c, 0.0);
  for (double c : r.se) EXPECT_EQ(c, 0.0);
  EXPECT_EQ(r.stats.rSquared, 0.0);
  EXPECT_EQ(r.stats.residualStdError, 0.0);
}

const std::vector<double> kFifthDegreeCoefs = {1.18, -2.05, 4.1, -6.3, 4.95, -1.88};
const std::vector<double> kFifthDegree = {0, 1, 2, 3, 4, 5};

TEST(Fit, RecoversAModelFromExactMeasurements) {
  const Stems s = measure(kFifthDegreeCoefs, kFifthDegree, 40, 12, 0, 1);
  const Result r = fit(s, kFifthDegree);
  ASSERT_EQ(r.code, XYLOTRAK_FIT_OK);
  for (std::size_t k = 0; k < kFifthDegree.size(); ++k) {
    EXPECT_NEAR(r.coefs[k], kFifthDegreeCoefs[k], 1e-9 * std::fabs(kFifthDegreeCoefs[k])) << k;
  }
  EXPECT_LT(r.stats.residualStdError, 1e-12);
  EXPECT_NEAR(r.stats.rSquared, 1.0, 1e-12);
  EXPECT_EQ(r.stats.rowsUsed, 480);
  EXPECT_EQ(r.stats.rowsSkipped, 0);
}

TEST(Fit, NoisyMeasurementsGiveCoefficientsWithinTheirStandardErrors) {
  const double sigma = 0.03;
  const std::vector<double> c = {1.1, -0.9, -0.2, 0.4};
  const std::vector<double> e = {0, 1, 3, 8};
  const Stems s = measure(c, e, 300, 10, sigma, 2);
  const Result r = fit(s, e);
  ASSERT_EQ(r.code, XYLOTRAK_FIT_OK);
  for (std::size_t k = 0; k < e.size(); ++k) {
    EXPECT_GT(r.se[k], 0) << k;
    EXPECT_LT(std::fabs(r.coefs[k] - c[k]), 3.5 * r.se[k]) << k;
  }
  EXPECT_NEAR(r.stats.residualStdError, sigma, 0.05 * sigma);
  EXPECT_NEAR(r.stats.bias, 0.0, 1e-12);  // least squares with a constant term
  EXPECT_GT(r.stats.rSquared, 0.9);
  EXPECT_LT(r.stats.rSquared, 1.0);
  // In cm the residuals scale with each tree's dbh (12 to 60 cm).
  EXPECT_GT(r.stats.diameterRmse, 12 * sigma);
  EXPECT_LT(r.stats.diameterRmse, 60 * sigma);
}

// The residuals of a least-squares fit are orthogonal to every column of the
// design; this holds whatever method found the coefficients.
TEST(Fit, ResidualsAreOrthogonalToTheDesign) {
  const Stems s = measure({1.2, -1.6, 1.2, -0.8}, {0, 1, 2, 3}, 100, 8, 0.02, 3);
  const std::vector<double> e = {0, 0.5, 2, 7};
  const Result r = fit(s, e);
  ASSERT_EQ(r.code, XYLOTRAK_FIT_OK);
  for (double ek : e) {
    double dot = 0, scale = 0;
    for (std::size_t i = 0; i < s.d.size(); ++i) {
      const double x = s.h[i] / s.height[i];
      const double col = ek == 0 ? 1.0 : std::pow(x, ek);
      dot += col * (s.d[i] / s.dbh[i] - profile(r.coefs, e, x));
      scale += std::fabs(col);
    }
    EXPECT_LT(std::fabs(dot), 1e-12 * scale) << ek;
  }
}

TEST(Fit, SkipsAndCountsUnusableRowsAndFitsTheRest) {
  const Stems clean = measure(kFifthDegreeCoefs, kFifthDegree, 20, 6, 0.01, 4);
  Stems dirty = clean;
  const double nan = std::nan(""), inf = INFINITY;
  // dbh, height, h, d of each bad row.
  const std::vector<std::vector<double>> bad = {
      {nan, 20, 5, 20}, {30, nan, 5, 20},  {30, 20, nan, 20},  {30, 20, 5, nan},
      {inf, 20, 5, 20}, {30, 20, 5, -inf}, {0, 20, 5, 20},     {-30, 20, 5, 20},
      {30, 0, 0, 20},   {30, -20, 5, 20},  {30, 20, -0.1, 20}, {30, 20, 20.1, 20}};
  std::size_t at = 0;
  for (const auto &row : bad) {
    at = (at + 7) % dirty.d.size();
    dirty.dbh.insert(dirty.dbh.begin() + static_cast<long>(at), row[0]);
    dirty.height.insert(dirty.height.begin() + static_cast<long>(at), row[1]);
    dirty.h.insert(dirty.h.begin() + static_cast<long>(at), row[2]);
    dirty.d.insert(dirty.d.begin() + static_cast<long>(at), row[3]);
  }
  const Result a = fit(clean, kFifthDegree);
  const Result b = fit(dirty, kFifthDegree);
  ASSERT_EQ(b.code, XYLOTRAK_FIT_OK);
  EXPECT_EQ(b.stats.rowsUsed, clean.rows());
  EXPECT_EQ(b.stats.rowsSkipped, static_cast<std::int64_t>(bad.size()));
  EXPECT_EQ(a.coefs, b.coefs);  // the same rows in the same order: the same bits
  EXPECT_EQ(a.se, b.se);
  // A finite diameter over a subnormal dbh overflows: that row is skipped too.
  Stems tiny = clean;
  tiny.dbh.push_back(1e-315);
  tiny.height.push_back(20);
  tiny.h.push_back(0);
  tiny.d.push_back(71);
  const Result t = fit(tiny, kFifthDegree);
  ASSERT_EQ(t.code, XYLOTRAK_FIT_OK);
  EXPECT_EQ(t.stats.rowsSkipped, 1);
  EXPECT_EQ(t.coefs, a.coefs);
  // Measurements at the ground and at the tip are inside [0, H] and kept.
  Stems ends = clean;
  ends.dbh.insert(ends.dbh.end(), {30, 30});
  ends.height.insert(ends.height.end(), {20, 20});
  ends.h.insert(ends.h.end(), {0, 20});
  ends.d.insert(ends.d.end(), {36, 0});
  EXPECT_EQ(fit(ends, kFifthDegree).stats.rowsUsed, clean.rows() + 2);
}

TEST(Fit, RankDeficientDesignsAndTooFewRowsClearTheOutputs) {
  const Stems s = measure(kFifthDegreeCoefs, kFifthDegree, 10, 5, 0.01, 5);
  const Result duplicate = fit(s, {0, 1, 2, 2});
  EXPECT_EQ(duplicate.code, XYLOTRAK_FIT_RANK_DEFICIENT);
  expectCleared(duplicate);
  EXPECT_EQ(duplicate.stats.rowsUsed, 50);  // the counts still tell what was read

  Stems oneHeight = s;
  for (std::size_t i = 0; i < oneHeight.d.size(); ++i) {
    oneHeight.height[i] = 25;
    oneHeight.h[i] = 5;
  }
  const Result flat = fit(oneHeight, {0, 1, 2});
  EXPECT_EQ(flat.code, XYLOTRAK_FIT_RANK_DEFICIENT);
  expectCleared(flat);
  // A single column is never deficient, even at one height.
  EXPECT_EQ(fit(oneHeight, {0}).code, XYLOTRAK_FIT_OK);

  Stems few = s;
  for (auto *v : {&few.dbh, &few.height, &few.h, &few.d}) v->resize(7);
  EXPECT_EQ(fit(few, kFifthDegree).code, XYLOTRAK_FIT_OK);
  for (auto *v : {&few.dbh, &few.height, &few.h, &few.d}) v->resize(6);
  const Result tooFew = fit(few, kFifthDegree);  // 6 rows, 6 terms: no freedom left
  EXPECT_EQ(tooFew.code, XYLOTRAK_FIT_TOO_FEW_ROWS);
  expectCleared(tooFew);
  EXPECT_EQ(fit(Stems{}, {0, 1}).code, XYLOTRAK_FIT_TOO_FEW_ROWS);
}

// Diameters near the largest double give a relative diameter that is finite
// but whose squares are not: no coefficient or statistic can be trusted.
TEST(Fit, OverflowingMeasurementsAreAnErrorNotInfiniteResults) {
  Stems s = measure(kFifthDegreeCoefs, kFifthDegree, 10, 5, 0.01, 12);
  for (double &d : s.d) d *= 1e306;
  const Result r = fit(s, {0, 1, 2});
  EXPECT_EQ(r.code, XYLOTRAK_FIT_OVERFLOW);
  expectCleared(r);
  EXPECT_EQ(r.stats.rowsUsed, 50);
  const Selected sel = select(s, {}, 4);
  EXPECT_EQ(sel.code, XYLOTRAK_FIT_OVERFLOW);
  EXPECT_EQ(sel.n, 0);
}

TEST(Fit, RejectsBadArgumentsWithoutReadingOrWritingPastThem) {
  const Stems s = measure(kFifthDegreeCoefs, kFifthDegree, 10, 5, 0.01, 6);
  for (double e : std::vector<double>{-0.5, std::nan(""), INFINITY}) {
    const Result r = fit(s, {0, 1, e});
    EXPECT_EQ(r.code, XYLOTRAK_FIT_BAD_ARGUMENT) << e;
    expectCleared(r);
  }
  std::vector<double> coefs(3, 7.0);
  const std::vector<double> e = {0, 1, 2};
  xylotrak_fit_stats st{};
  EXPECT_EQ(PHFtDll(nullptr, s.height.data(), s.h.data(), s.d.data(), s.rows(), e.data(), 2,
                    coefs.data(), nullptr, &st),
            XYLOTRAK_FIT_BAD_ARGUMENT);
  EXPECT_EQ(coefs, std::vector<double>(3, 0.0));
  EXPECT_EQ(PHFtDll(s.dbh.data(), s.height.data(), s.h.data(), s.d.data(), -1, e.data(), 2,
                    coefs.data(), nullptr, nullptr),
            XYLOTRAK_FIT_BAD_ARGUMENT);
  EXPECT_EQ(PHFtDll(s.dbh.data(), s.height.data(), s.h.data(), s.d.data(), s.rows(), nullptr, 2,
                    coefs.data(), nullptr, nullptr),
            XYLOTRAK_FIT_BAD_ARGUMENT);
  // A negative term count names no entries: nothing is written.
  coefs.assign(3, 7.0);
  EXPECT_EQ(PHFtDll(s.dbh.data(), s.height.data(), s.h.data(), s.d.data(), s.rows(), e.data(), -1,
                    coefs.data(), nullptr, nullptr),
            XYLOTRAK_FIT_BAD_ARGUMENT);
  EXPECT_EQ(coefs, std::vector<double>(3, 7.0));
  // Only the low 16 bits of the term count are read: 65538 is 2.
  ASSERT_EQ(PHFtDll(s.dbh.data(), s.height.data(), s.h.data(), s.d.data(), s.rows(), e.data(),
                    65538, coefs.data(), nullptr, nullptr),
            XYLOTRAK_FIT_OK);
  EXPECT_EQ(coefs, fit(s, e).coefs);
}

TEST(Fit, RunningOutOfMemoryAnywhereClearsTheOutputs) {
  const Stems s = measure(kFifthDegreeCoefs, kFifthDegree, 10, 5, 0.01, 7);
  const Result whole = fit(s, kFifthDegree);
  ASSERT_EQ(whole.code, XYLOTRAK_FIT_OK);
  bool sawFailure = false;
  for (long k = 1; k < 40; ++k) {
    xylotrak::fault::failAllocationAt(k);
    const Result r = fit(s, kFifthDegree);
    xylotrak::fault::failAllocationAt(0);
    if (r.code == XYLOTRAK_FIT_OUT_OF_MEMORY) {
      sawFailure = true;
      expectCleared(r);
    } else {
      ASSERT_EQ(r.code, XYLOTRAK_FIT_OK) << k;
      EXPECT_EQ(r.coefs, whole.coefs) << k;
    }
  }
  EXPECT_TRUE(sawFailure);
}

TEST(Select, RecoversTheExponentsOfAModelBuiltFromCandidates) {
  const std::vector<double> c = {1.0, -0.9, -0.1};
  const std::vector<double> e = {0, 2, 30};
  const Stems s = measure(c, e, 200, 10, 0.01, 8);
  const Selected r = select(s, {}, 8);
  ASSERT_EQ(r.code, XYLOTRAK_FIT_OK);
  ASSERT_EQ(r.n, 2);
  EXPECT_EQ(r.exps[0], 0.0);
  EXPECT_EQ(r.exps[1], 2.0);
  EXPECT_EQ(r.exps[2], 30.0);
  for (std::size_t k = 0; k < 3; ++k) EXPECT_LT(std::fabs(r.coefs[k] - c[k]), 4 * r.se[k]);
  for (std::size_t k = 3; k < r.exps.size(); ++k) {
    EXPECT_EQ(r.exps[k], 0.0);  // past the selected terms: cleared
    EXPECT_EQ(r.coefs[k], 0.0);
  }
  // The final model is the plain fit of the selected exponents.
  const Result plain = fit(s, {0, 2, 30});
  EXPECT_EQ(std::vector<double>(r.coefs.begin(), r.coefs.begin() + 3), plain.coefs);
  // Deterministic: the same data selects the same model, bit for bit.
  const Selected again = select(s, {}, 8);
  EXPECT_EQ(again.exps, r.exps);
  EXPECT_EQ(again.coefs, r.coefs);
}

// Once the model is exact, what is left is rounding: no F test may read it
// as signal and take in more terms.
TEST(Select, ExactDataTakesItsOwnTermsAndNoMore) {
  const std::vector<double> e = {0, 2, 30};
  const Stems s = measure({1.0, -0.9, -0.1}, e, 50, 8, 0, 9);
  const Selected r = select(s, {}, 8);
  ASSERT_EQ(r.code, XYLOTRAK_FIT_OK);
  ASSERT_EQ(r.n, 2);
  EXPECT_EQ(std::vector<double>(r.exps.begin(), r.exps.begin() + 3), e);
}

// The three smallest default exponents are nearly collinear: with two of
// them in the model, the part of the third independent of it is below 1e-6 of
// its norm on heights spread over the stem. It is still a different function,
// and data made from all three need all three.
TEST(Select, TakesInNearlyCollinearCandidatesTheDataNeed) {
  const std::vector<double> c = {1.2, -30, 60, -31.2};
  const std::vector<double> e = {0, 0.005, 0.01, 0.05};
  const Stems s = measure(c, e, 40, 12, 0, 13);
  for (const std::vector<double> &candidates :
       {std::vector<double>{}, std::vector<double>{0.005, 0.01, 0.05}}) {
    SCOPED_TRACE(candidates.empty() ? "default candidates" : "the three alone");
    const Selected r = select(s, candidates, 8);
    ASSERT_EQ(r.code, XYLOTRAK_FIT_OK);
    ASSERT_EQ(r.n, 3);
    EXPECT_EQ(std::vector<double>(r.exps.begin(), r.exps.begin() + 4), e);
    for (std::size_t k = 0; k < c.size(); ++k)
      EXPECT_NEAR(r.coefs[k], c[k], 1e-6 * std::fabs(c[k])) << k;
  }
}

// A candidate enters when its partial F exceeds the 95% quantile of F(1, m - p)
// (m rows, p terms after it). Relative diameters y = 1 + t (x - 1/2) + r, with x
// evenly spread and r = +-w in the pattern + - - +, which is orthogonal to 1
// and to x: adding x lowers the residual sum of squares from
// t^2 Sxx + m w^2 to m w^2, so F = t^2 Sxx (m - 2) / (m w^2), set by t. Each
// F below lies between the 90% and 95% quantiles or clearly above the 95%.
TEST(Select, PartialFTestAtFivePercent) {
  struct Case {
    int rows;
    double f;
    bool enters;
  };
  // F(1, 30): 2.881 (90%), 4.171 (95%); F(1, 10): 3.285 (90%), 4.965 (95%).
  const Case cases[] = {{32, 3.5, false}, {32, 5.0, true}, {12, 4.2, false}, {12, 5.8, true}};
  for (const Case &k : cases) {
    SCOPED_TRACE(::testing::Message() << k.rows << " rows, F " << k.f);
    const int m = k.rows;
    const double w = 0.01;
    double sxx = 0;
    for (int i = 0; i < m; ++i) sxx += ((i + 0.5) / m - 0.5) * ((i + 0.5) / m - 0.5);
    const double t = std::sqrt(k.f * m * w * w / (sxx * (m - 2)));
    Stems s;
    for (int i = 0; i < m; ++i) {
      const double x = (i + 0.5) / m;
      const double r = (i % 4 == 0 || i % 4 == 3) ? w : -w;
      s.dbh.push_back(30);
      s.height.push_back(20);
      s.h.push_back(20 * x);
      s.d.push_back(30 * (1 + t * (x - 0.5) + r));
    }
    const Selected r = select(s, {1}, 4);
    ASSERT_EQ(r.code, XYLOTRAK_FIT_OK);
    EXPECT_EQ(r.n, k.enters ? 1 : 0);
    if (k.enters) {
      EXPECT_EQ(r.exps[1], 1.0);
    }
  }
}

// The candidates the front ends are told are the default are the ones a
// selection given none searches.
TEST(Select, TheReportedDefaultCandidatesAreTheOnesSearched) {
  const Stems s = measure({1.0, -0.9, -0.1}, {0, 2, 30}, 200, 10, 0.01, 8);
  const int32_t n = xylotrak_fit_default(XYLOTRAK_FIT_DEFAULT_CANDIDATES, nullptr, 0);
  ASSERT_GT(n, 0);
  std::vector<double> listed(static_cast<std::size_t>(n));
  ASSERT_EQ(xylotrak_fit_default(XYLOTRAK_FIT_DEFAULT_CANDIDATES, listed.data(), n), n);
  const Selected implicit = select(s, {}, 8), given = select(s, listed, 8);
  ASSERT_EQ(implicit.code, XYLOTRAK_FIT_OK);
  EXPECT_EQ(given.exps, implicit.exps);
  EXPECT_EQ(given.coefs, implicit.coefs);
  // Without the 30 among them the same data selects otherwise.
  listed.erase(std::find(listed.begin(), listed.end(), 30.0));
  EXPECT_NE(select(s, listed, 8).exps, implicit.exps);
}

TEST(Select, HonoursTheTermCapAndTheCandidateList) {
  const Stems s = measure(kFifthDegreeCoefs, kFifthDegree, 100, 10, 0.005, 10);
  const Selected capped = select(s, {}, 3);
  ASSERT_EQ(capped.code, XYLOTRAK_FIT_OK);
  EXPECT_LE(capped.n, 2);
  EXPECT_EQ(capped.exps[0], 0.0);
  for (int k = 2; k <= capped.n; ++k) EXPECT_LT(capped.exps[k - 1], capped.exps[k]);
  // Zero and repeats in the list are ignored; only listed exponents enter.
  const std::vector<double> list = {0, 5, 1, 1, 2, 5, 4, 3};
  const Selected r = select(s, list, 8);
  ASSERT_EQ(r.code, XYLOTRAK_FIT_OK);
  for (int k = 1; k <= r.n; ++k) {
    EXPECT_TRUE(r.exps[k] >= 1 && r.exps[k] <= 5 && r.exps[k] == std::floor(r.exps[k]));
  }
  // Only the constant term allowed: the mean relative diameter.
  const Selected one = select(s, {}, 1);
  ASSERT_EQ(one.code, XYLOTRAK_FIT_OK);
  EXPECT_EQ(one.n, 0);
  EXPECT_EQ(one.coefs[0], fit(s, {0}).coefs[0]);
}

TEST(Select, ErrorsClearEveryOutput) {
  const Stems s = measure(kFifthDegreeCoefs, kFifthDegree, 10, 5, 0.01, 11);
  const Selected noRoom = select(s, {}, 0);
  EXPECT_EQ(noRoom.code, XYLOTRAK_FIT_BAD_ARGUMENT);
  const Selected badCandidate = select(s, {1, -2}, 4);
  EXPECT_EQ(badCandidate.code, XYLOTRAK_FIT_BAD_ARGUMENT);
  EXPECT_EQ(badCandidate.n, 0);
  for (double v : badCandidate.exps) EXPECT_EQ(v, 0.0);
  for (double v : badCandidate.coefs) EXPECT_EQ(v, 0.0);
  Stems one = s;
  for (auto *v : {&one.dbh, &one.height, &one.h, &one.d}) v->resize(1);
  EXPECT_EQ(select(one, {}, 4).code, XYLOTRAK_FIT_TOO_FEW_ROWS);
  int32_t n = 9;
  std::vector<double> out(4, 7.0);
  EXPECT_EQ(PHFsDll(s.dbh.data(), s.height.data(), s.h.data(), s.d.data(), s.rows(), nullptr, 0, 4,
                    out.data(), out.data(), nullptr, nullptr, nullptr),
            XYLOTRAK_FIT_BAD_ARGUMENT);
  EXPECT_EQ(out, std::vector<double>(4, 0.0));
  EXPECT_EQ(PHFsDll(nullptr, nullptr, nullptr, nullptr, 0, nullptr, 0, 4, out.data(), out.data(),
                    nullptr, &n, nullptr),
            XYLOTRAK_FIT_TOO_FEW_ROWS);
  EXPECT_EQ(n, 0);
}

}  // namespace
