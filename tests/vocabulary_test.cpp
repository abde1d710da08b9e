// The words and defaults the front ends take from the library.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "xylotrak.h"

namespace {

std::string word(int vocabulary, int index) {
  const int32_t n = xylotrak_words(vocabulary, index, nullptr, 0);
  if (n < 0) return "<none>";
  std::vector<xylotrak_char16> text(static_cast<size_t>(n) + 1, 0xFFFF);
  EXPECT_EQ(xylotrak_words(vocabulary, index, text.data(), n + 1), n);
  EXPECT_EQ(text[static_cast<size_t>(n)], 0);
  return std::string(text.begin(), text.begin() + n);
}

TEST(Vocabulary, NamesEachFindingBitFitCodeAndColumn) {
  EXPECT_EQ(word(XYLOTRAK_WORDS_FINDING, 0), "volume-ill-conditioned");
  EXPECT_EQ(word(XYLOTRAK_WORDS_FINDING, 3), "nonzero-tip");
  EXPECT_EQ(word(XYLOTRAK_WORDS_FINDING, 6), "bad-term-count");
  EXPECT_EQ(word(XYLOTRAK_WORDS_FINDING, 7), "<none>");
  EXPECT_EQ(word(XYLOTRAK_WORDS_FINDING_TEXT, 7), "<none>");
  EXPECT_EQ(word(XYLOTRAK_WORDS_FIT_STATUS, XYLOTRAK_FIT_TOO_FEW_ROWS), "too_few_rows");
  EXPECT_EQ(word(XYLOTRAK_WORDS_FIT_STATUS, XYLOTRAK_FIT_NOT_CONVERGED), "not_converged");
  EXPECT_EQ(word(XYLOTRAK_WORDS_FIT_MESSAGE, XYLOTRAK_FIT_NOT_CONVERGED + 1), "<none>");
  EXPECT_EQ(word(XYLOTRAK_WORDS_LOG_COLUMN, 1), "logNumber");
  EXPECT_EQ(word(XYLOTRAK_WORDS_LOG_COLUMN, 12), "value");
  EXPECT_EQ(word(XYLOTRAK_WORDS_TOTALS_COLUMN, 3), "productVolume");
  EXPECT_EQ(word(XYLOTRAK_WORDS_TOTALS_COLUMN, 11), "servedByExact");
  EXPECT_EQ(word(XYLOTRAK_WORDS_TOTALS_COLUMN, 12), "<none>");
  EXPECT_EQ(word(-1, 0), "<none>");
  EXPECT_EQ(word(XYLOTRAK_WORDS_MATRIX_MESSAGE, XYLOTRAK_MATRIX_TOO_LARGE),
            "the stem is too long for the grid");
  EXPECT_EQ(word(XYLOTRAK_WORDS_MATRIX_MESSAGE, XYLOTRAK_MATRIX_TOO_LARGE + 1), "<none>");
  EXPECT_EQ(word(XYLOTRAK_WORDS_CALIBRATION_FLAG, 1), "<none>");
  EXPECT_EQ(word(XYLOTRAK_WORDS_CONVERGENCE, XYLOTRAK_MIXED_ITERATION_LIMIT), "iteration_limit");
  EXPECT_EQ(word(XYLOTRAK_WORDS_CONVERGENCE, XYLOTRAK_MIXED_NONFINITE), "nonfinite");
  EXPECT_EQ(word(XYLOTRAK_WORDS_CONVERGENCE_MESSAGE, XYLOTRAK_MIXED_NONFINITE + 1), "<none>");
  for (int reason = XYLOTRAK_MIXED_CONVERGED; reason <= XYLOTRAK_MIXED_NONFINITE; ++reason)
    EXPECT_NE(word(XYLOTRAK_WORDS_CONVERGENCE_MESSAGE, reason), "<none>") << reason;
  // Every code of the fitting, the intervals and the matrix calls has a message.
  for (int code = XYLOTRAK_FIT_OK; code <= XYLOTRAK_FIT_NOT_CONVERGED; ++code)
    EXPECT_NE(word(XYLOTRAK_WORDS_INTERVAL_MESSAGE, code), "<none>") << code;
  for (int code = XYLOTRAK_MATRIX_OK; code <= XYLOTRAK_MATRIX_TOO_LARGE; ++code)
    EXPECT_NE(word(XYLOTRAK_WORDS_MATRIX_MESSAGE, code), "<none>") << code;
  EXPECT_EQ(word(XYLOTRAK_WORDS_FINDING, -1), "<none>");
}

// The message of the code an interval call returns names what was wrong.
TEST(Vocabulary, AnIntervalRefusalIsExplainedByItsMessage) {
  const double coefs[] = {1.1, -1.0}, exps[] = {0, 1}, covariance[4] = {1e-4, 0, 0, 1e-4};
  xylotrak_taper_fit fit{};
  fit.coefs = coefs;
  fit.exps = exps;
  fit.covariance = covariance;
  fit.residualVariance = 1e-4;
  fit.degreesOfFreedom = 50;
  fit.termCount = 1;
  double d = 0, lo = 0, hi = 0;
  const int level = PHDcDll(&fit, 30, 20, 5, XYLOTRAK_INTERVAL_CONFIDENCE, 1.0, &d, &lo, &hi);
  EXPECT_NE(word(XYLOTRAK_WORDS_INTERVAL_MESSAGE, level).find("a level outside (0, 1)"),
            std::string::npos);
  const int height = PHDcDll(&fit, 30, 20, 25, XYLOTRAK_INTERVAL_CONFIDENCE, 0.9, &d, &lo, &hi);
  EXPECT_NE(word(XYLOTRAK_WORDS_INTERVAL_MESSAGE, height).find("outside the stem"),
            std::string::npos);
}

TEST(Vocabulary, CutsAWordToTheRoomGivenAndNeverWritesPastIt) {
  xylotrak_char16 text[8];
  for (auto &c : text) c = 0xFFFF;
  EXPECT_EQ(xylotrak_words(XYLOTRAK_WORDS_FINDING, 0, text, 5), 22);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t *>(text), 4), u"volu");
  EXPECT_EQ(text[4], 0);
  EXPECT_EQ(text[5], 0xFFFF);
  // An unknown word leaves an empty text where there is room.
  EXPECT_EQ(xylotrak_words(XYLOTRAK_WORDS_FINDING, 99, text, 8), -1);
  EXPECT_EQ(text[0], 0);
  EXPECT_EQ(xylotrak_words(XYLOTRAK_WORDS_FINDING, 0, text, 0), 22);
  EXPECT_EQ(text[0], 0);
}

TEST(Vocabulary, BuckingDefaults) {
  EXPECT_EQ(xylotrak_bucking_default(XYLOTRAK_DEFAULT_STUMP_HEIGHT), 0.3);
  EXPECT_EQ(xylotrak_bucking_default(XYLOTRAK_DEFAULT_STUMP_TRIM), 0.0);
  EXPECT_EQ(xylotrak_bucking_default(XYLOTRAK_DEFAULT_START_HEIGHT), 0.0);
  EXPECT_EQ(xylotrak_bucking_default(XYLOTRAK_DEFAULT_TOP_HEIGHT_LIMIT), XYLOTRAK_NO_LIMIT);
  EXPECT_EQ(xylotrak_bucking_default(XYLOTRAK_DEFAULT_HEIGHT_LIMIT), XYLOTRAK_NO_LIMIT);
  EXPECT_TRUE(std::isnan(xylotrak_bucking_default(5)));
}

TEST(Vocabulary, ProductDefaultsFillOnlyTheFieldsThatMayBeLeftOut) {
  ProductSpec p;
  std::memset(&p, 0x5A, sizeof p);
  ProductSpec before = p;
  ASSERT_EQ(xylotrak_product_default(&p), 0);
  EXPECT_EQ(p.maxTopDiam, XYLOTRAK_NO_LIMIT);
  EXPECT_EQ(p.maxBaseDiam, XYLOTRAK_NO_LIMIT);
  EXPECT_EQ(p.minBaseDiam, 0.0);
  EXPECT_EQ(p.priceBasis, 0);
  EXPECT_EQ(p.logPosition, 0);
  EXPECT_EQ(p.heightRule, 0);
  EXPECT_EQ(p.lossFraction, 0.0);
  EXPECT_EQ(p.trimLength, 0.0);
  // The fields a user must give, the padding and the outputs are untouched.
  before.maxTopDiam = p.maxTopDiam;
  before.maxBaseDiam = p.maxBaseDiam;
  before.minBaseDiam = p.minBaseDiam;
  before.priceBasis = p.priceBasis;
  before.logPosition = p.logPosition;
  before.heightRule = p.heightRule;
  before.lossFraction = p.lossFraction;
  before.trimLength = p.trimLength;
  EXPECT_EQ(std::memcmp(&p, &before, sizeof p), 0);
  EXPECT_EQ(xylotrak_product_default(nullptr), -1);
}

TEST(Vocabulary, FitDefaultsAreCutToTheRoomGiven) {
  double values[8];
  std::fill(std::begin(values), std::end(values), -1.0);
  EXPECT_EQ(xylotrak_fit_default(XYLOTRAK_FIT_DEFAULT_EXPS, values, 4), 6);
  EXPECT_EQ(std::vector<double>(values, values + 5), (std::vector<double>{0, 1, 2, 3, -1}));
  EXPECT_EQ(xylotrak_fit_default(XYLOTRAK_FIT_DEFAULT_EXPS, values, 8), 6);
  EXPECT_EQ(values[5], 5.0);
  EXPECT_EQ(values[6], -1.0);
  EXPECT_EQ(xylotrak_fit_default(XYLOTRAK_FIT_DEFAULT_MAX_TERMS, values, 1), 1);
  EXPECT_EQ(values[0], 8.0);
  EXPECT_EQ(xylotrak_fit_default(XYLOTRAK_FIT_DEFAULT_CANDIDATES, nullptr, 5), 22);
  EXPECT_EQ(xylotrak_fit_default(XYLOTRAK_FIT_DEFAULT_CANDIDATES, values, 0), 22);
  EXPECT_EQ(values[0], 8.0);  // no room: nothing written
  EXPECT_EQ(xylotrak_fit_default(3, values, 8), -1);
  EXPECT_EQ(xylotrak_fit_default(-1, values, 8), -1);
}

TEST(StemZones, CuttingEndTopStartAndLeftoverDiameter) {
  // A cone, 30 cm and 20 m: the volume above height h is V(h) = V(0) (1 - h/20)^3.
  const double coefs[] = {1.0, -1.0}, exps[] = {0.0, 1.0};
  LogEntry logs[XYLOTRAK_LOG_ROWS] = {};
  double totals[8] = {};
  double zones[3] = {-1, -1, -1};
  // No logs, no product volume: everything ends at the stump's trim top.
  ASSERT_EQ(PHZnDll(30, 20, coefs, exps, 1, 0.3, 0.1, logs, totals, zones), 0);
  EXPECT_DOUBLE_EQ(zones[0], 0.4);
  EXPECT_DOUBLE_EQ(zones[1], 0.4);
  EXPECT_EQ(zones[2], 0.0);
  // One log up to 10.1 m and a top holding the volume above 16 m.
  logs[1].logNumber = 1;
  logs[1].trimTopHeight = 10.1;
  totals[0] = 0.5;
  const double whole = PHViDll(30, 20, coefs, exps, 1, 0, 0, 0, 0, 0);
  totals[3] = whole * 0.2 * 0.2 * 0.2;
  ASSERT_EQ(PHZnDll(30, 20, coefs, exps, 1, 0.3, 0.1, logs, totals, zones), 0);
  EXPECT_DOUBLE_EQ(zones[0], 10.1);
  EXPECT_NEAR(zones[1], 16.0, 1e-9);
  EXPECT_NEAR(zones[2], 6.0, 1e-8);  // the cone's diameter at 16 m
  // Product volume but no top volume: the top begins at the tip.
  totals[3] = 0;
  ASSERT_EQ(PHZnDll(30, 20, coefs, exps, 1, 0.3, 0.1, logs, totals, zones), 0);
  EXPECT_EQ(zones[1], 20.0);
  EXPECT_EQ(PHZnDll(30, 20, coefs, exps, 1, 0.3, 0.1, logs, totals, nullptr), -1);
}

}  // namespace

namespace {

TEST(UsableRow, TheFitsRuleAtItsEdges) {
  EXPECT_EQ(PHFuDll(30, 20, 0, 33), 1);
  EXPECT_EQ(PHFuDll(30, 20, 20, 0), 1);  // at the tip
  EXPECT_EQ(PHFuDll(30, 20, 20.000000000000004, 0), 0);
  EXPECT_EQ(PHFuDll(30, 20, -0.0, 30), 1);
  EXPECT_EQ(PHFuDll(30, 20, -1e-300, 30), 0);
  EXPECT_EQ(PHFuDll(0, 20, 5, 10), 0);
  EXPECT_EQ(PHFuDll(30, -20, 5, 10), 0);
  EXPECT_EQ(PHFuDll(30, 20, 5, std::nan("")), 0);
  EXPECT_EQ(PHFuDll(4.9e-324, 20, 5, 10), 0);  // d / dbh overflows
}

}  // namespace
