// Price-matrix products on measured stems: log values worked by hand, the
// admission rules (classes, cells, grades, bark), the sequential bucking by
// hand, and the exact optimiser against every cutting of small stems.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <utility>
#include <vector>

#include "xylotrak.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// A stem and the arrays its record points into.
struct Stem {
  std::vector<double> positions, diameters, barkPositions, bark, gradeStarts;
  std::vector<int32_t> grades;
  xylotrak_measured_stem record() const {
    xylotrak_measured_stem s{};
    s.positions = positions.data();
    s.diameters = diameters.data();
    s.barkPositions = barkPositions.data();
    s.barkThickness = bark.data();
    s.gradeStarts = gradeStarts.data();
    s.grades = grades.data();
    s.pointCount = static_cast<int32_t>(positions.size());
    s.barkCount = static_cast<int32_t>(barkPositions.size());
    s.gradeCount = static_cast<int32_t>(gradeStarts.size());
    return s;
  }
};

struct Product {
  Product(std::vector<double> d, std::vector<double> l, std::vector<double> p)
      : dLimits(std::move(d)), lLimits(std::move(l)), prices(std::move(p)) {}
  std::vector<double> dLimits, lLimits, prices;
  std::vector<int8_t> cells;
  std::vector<int32_t> grades;
  double dMax = 1000, lMax = 1000;
  int16_t position = XYLOTRAK_DIAMETER_TOP, classUnder = 0, basis = XYLOTRAK_PRICE_PER_M3,
          rule = XYLOTRAK_VOLUME_SOLID, volumeLength = XYLOTRAK_VOLUME_LENGTH_PHYSICAL,
          volumeUnder = 0;
  xylotrak_matrix_product record() const {
    xylotrak_matrix_product p{};
    p.diameterLimits = dLimits.data();
    p.lengthLimits = lLimits.data();
    p.prices = prices.data();
    p.cells = cells.empty() ? nullptr : cells.data();
    p.grades = grades.data();
    p.diameterMax = dMax;
    p.lengthMax = lMax;
    p.diameterClassCount = static_cast<int32_t>(dLimits.size());
    p.lengthClassCount = static_cast<int32_t>(lLimits.size());
    p.gradeCount = static_cast<int32_t>(grades.size());
    p.diameterPosition = position;
    p.diameterUnderBark = classUnder;
    p.priceBasis = basis;
    p.volumeRule = rule;
    p.volumeLength = volumeLength;
    p.volumeUnderBark = volumeUnder;
    return p;
  }
};

// A cone-like stem: 300 mm at 0 falling 10 mm a metre, measured every 10 cm.
Stem cone(double lengthCm = 1000) {
  Stem s;
  for (double x = 0; x <= lengthCm; x += 10) {
    s.positions.push_back(x);
    s.diameters.push_back(300 - x / 10);
  }
  return s;
}

double cylinder(double dMm, double lCm) { return kPi / 4 * (dMm * dMm * 1e-6) * (lCm * 1e-2); }

TEST(MatrixLog, VolumesByEachRuleWorkedByHand) {
  const Stem stem = cone();
  const auto s = stem.record();
  Product p{{100, 200}, {300, 400}, {10, 20, 30, 40}};
  xylotrak_matrix_log log{};
  // Log 100..450 cm: top 255 mm, mid 272.5 mm, butt 290 mm, length 350.
  p.rule = XYLOTRAK_VOLUME_TOP;
  auto r = p.record();
  ASSERT_EQ(PHMlDll(&s, &r, 3, 100, 350, 0, &log), XYLOTRAK_LOG_ADMISSIBLE);
  EXPECT_EQ(log.product, 3);
  EXPECT_EQ(log.classDiameterMm, 255);
  EXPECT_EQ(log.diameterClass, 1);  // 255 floors to 200
  EXPECT_EQ(log.lengthClass, 0);    // 350 floors to 300
  EXPECT_EQ(log.diameterClassMm, 200);
  EXPECT_EQ(log.lengthClassCm, 300);
  EXPECT_NEAR(log.volume, cylinder(255, 350), 1e-15);
  EXPECT_NEAR(log.value, 30 * cylinder(255, 350), 1e-13);

  p.rule = XYLOTRAK_VOLUME_MID;
  r = p.record();
  PHMlDll(&s, &r, 0, 100, 350, 0, &log);
  EXPECT_NEAR(log.volume, cylinder(272.5, 350), 1e-15);
  // The class length as volume length; by dm rounded down.
  p.volumeLength = XYLOTRAK_VOLUME_LENGTH_CLASS;
  r = p.record();
  PHMlDll(&s, &r, 0, 100, 350, 0, &log);
  EXPECT_NEAR(log.volume, cylinder(272.5, 300), 1e-15);
  p.volumeLength = XYLOTRAK_VOLUME_LENGTH_DM;
  r = p.record();
  PHMlDll(&s, &r, 0, 100, 357, 0, &log);
  EXPECT_NEAR(log.volume, cylinder(300 - 278.5 / 10, 350), 1e-15);

  // Solid volume of a cone frustum, exact for the linear profile.
  p.rule = XYLOTRAK_VOLUME_SOLID;
  p.volumeLength = XYLOTRAK_VOLUME_LENGTH_PHYSICAL;
  r = p.record();
  PHMlDll(&s, &r, 0, 100, 350, 0, &log);
  const double frustum = kPi * 3.5 * (0.29 * 0.29 + 0.29 * 0.255 + 0.255 * 0.255) / 12;
  EXPECT_NEAR(log.volume, frustum, 1e-13);

  // Per log: the price alone.
  p.basis = XYLOTRAK_PRICE_PER_LOG;
  r = p.record();
  PHMlDll(&s, &r, 0, 100, 350, 0, &log);
  EXPECT_EQ(log.value, 30);
}

TEST(MatrixLog, ClassesFloorToTheirLowerLimitAndEndBelowTheMaximum) {
  const Stem stem = cone();
  const auto s = stem.record();
  Product p{{100, 200}, {300, 400}, {1, 2, 3, 4}};
  p.dMax = 280;
  p.lMax = 500;
  p.position = XYLOTRAK_DIAMETER_BUTT;
  auto r = p.record();
  xylotrak_matrix_log log{};
  // Butt at 200 cm: 280 mm, at the maximum: outside.
  EXPECT_EQ(PHMlDll(&s, &r, 0, 200, 300, 0, &log), XYLOTRAK_LOG_OUTSIDE_DIAMETER);
  EXPECT_EQ(log.value, 0);
  EXPECT_EQ(log.diameterClass, -1);
  EXPECT_GT(log.volume, 0);  // the volume is there, the price is not
  // Butt at 210 cm: 279 mm, class 200.
  EXPECT_EQ(PHMlDll(&s, &r, 0, 210, 400, 0, &log), XYLOTRAK_LOG_ADMISSIBLE);
  EXPECT_EQ(log.diameterClass, 1);
  EXPECT_EQ(log.lengthClass, 1);  // exactly the lower limit 400
  EXPECT_EQ(PHMlDll(&s, &r, 0, 210, 500, 0, &log), XYLOTRAK_LOG_OUTSIDE_LENGTH);
  EXPECT_EQ(PHMlDll(&s, &r, 0, 210, 299, 0, &log), XYLOTRAK_LOG_OUTSIDE_LENGTH);
  // Top at the end of the stem (200 mm) is inside; a centimetre more is beyond.
  p.position = XYLOTRAK_DIAMETER_TOP;
  r = p.record();
  EXPECT_EQ(PHMlDll(&s, &r, 0, 700, 300, 0, &log), XYLOTRAK_LOG_ADMISSIBLE);
  EXPECT_EQ(log.diameterClass, 1);
  EXPECT_EQ(PHMlDll(&s, &r, 0, 701, 300, 0, &log), XYLOTRAK_LOG_BEYOND_STEM);
  EXPECT_EQ(PHMlDll(&s, &r, 0, -1, 300, 0, &log), XYLOTRAK_LOG_BEYOND_STEM);
  // Below the first diameter limit: top at 950 cm is 205 mm.
  p.dLimits = {210, 240};
  r = p.record();
  EXPECT_EQ(PHMlDll(&s, &r, 0, 650, 300, 0, &log), XYLOTRAK_LOG_OUTSIDE_DIAMETER);
}

TEST(MatrixLog, CellsAndGrades) {
  Stem stem = cone();
  stem.gradeStarts = {0, 400, 700};
  stem.grades = {1, 2, 3};
  const auto s = stem.record();
  Product p{{100}, {300, 400}, {50, 60}};
  p.cells = {XYLOTRAK_CELL_HAND_ONLY, XYLOTRAK_CELL_FORBIDDEN};
  p.grades = {1, 2};
  auto r = p.record();
  xylotrak_matrix_log log{};
  // 0..350: grade 1, hand-only cell: admissible only with hand cells, priced either way.
  EXPECT_EQ(PHMlDll(&s, &r, 0, 0, 350, 0, &log), XYLOTRAK_LOG_HAND_ONLY);
  EXPECT_GT(log.value, 0);
  EXPECT_EQ(PHMlDll(&s, &r, 0, 0, 350, 1, &log), XYLOTRAK_LOG_ADMISSIBLE);
  // A forbidden cell stays forbidden by hand too, and has no value.
  EXPECT_EQ(PHMlDll(&s, &r, 0, 0, 450, 1, &log), XYLOTRAK_LOG_FORBIDDEN);
  EXPECT_EQ(log.value, 0);
  // 350..700 touches zones 1 and 2 only (ends where zone 3 starts).
  EXPECT_EQ(PHMlDll(&s, &r, 0, 350, 350, 1, &log), XYLOTRAK_LOG_ADMISSIBLE);
  // 351..701 reaches into grade 3, which the product does not permit.
  EXPECT_EQ(PHMlDll(&s, &r, 0, 351, 350, 1, &log), XYLOTRAK_LOG_GRADE);
  EXPECT_GT(log.value, 0);
  // Zone 1 alone: a product permitting grade 2 only refuses the butt log.
  p.grades = {2};
  r = p.record();
  EXPECT_EQ(PHMlDll(&s, &r, 0, 0, 350, 1, &log), XYLOTRAK_LOG_GRADE);
  EXPECT_EQ(PHMlDll(&s, &r, 0, 400, 300, 1, &log), XYLOTRAK_LOG_ADMISSIBLE);
}

TEST(MatrixLog, UnderBarkFromTheDoubleBarkThickness) {
  Stem stem = cone();
  stem.barkPositions = {0, 1000};
  stem.bark = {20, 10};  // 20 mm at the butt, 10 mm at 10 m
  const auto s = stem.record();
  Product p{{100}, {100}, {1}};
  p.classUnder = 1;
  p.volumeUnder = 1;
  p.rule = XYLOTRAK_VOLUME_TOP;
  auto r = p.record();
  xylotrak_matrix_log log{};
  ASSERT_EQ(PHMlDll(&s, &r, 0, 0, 500, 0, &log), XYLOTRAK_LOG_ADMISSIBLE);
  EXPECT_DOUBLE_EQ(log.classDiameterMm, 250 - 15);
  EXPECT_NEAR(log.volume, cylinder(235, 500), 1e-15);
  // Solid under bark: the integral of the under-bark cone (285 at 0 ... ).
  p.rule = XYLOTRAK_VOLUME_SOLID;
  r = p.record();
  PHMlDll(&s, &r, 0, 0, 500, 0, &log);
  const double a = 0.280, b = 0.235;
  EXPECT_NEAR(log.volume, kPi * 5 * (a * a + a * b + b * b) / 12, 1e-13);
  // Without a bark model an under-bark product is refused, never read over bark.
  Stem bare = cone();
  const auto sb = bare.record();
  EXPECT_EQ(PHMlDll(&sb, &r, 0, 0, 500, 0, &log), -XYLOTRAK_MATRIX_NO_BARK);
  EXPECT_EQ(log.volume, 0);
}

TEST(MatrixLog, RefusesBadRecords) {
  const Stem stem = cone();
  auto s = stem.record();
  Product p{{100}, {100}, {1}};
  auto r = p.record();
  xylotrak_matrix_log log{};
  r.volumeRule = 7;
  EXPECT_EQ(PHMlDll(&s, &r, 0, 0, 100, 0, &log), -XYLOTRAK_MATRIX_UNSUPPORTED_RULE);
  r = p.record();
  r.lengthMax = 100;  // not above the last limit
  EXPECT_EQ(PHMlDll(&s, &r, 0, 0, 100, 0, &log), -XYLOTRAK_MATRIX_BAD_ARGUMENT);
  r = p.record();
  s.pointCount = 1;
  EXPECT_EQ(PHMlDll(&s, &r, 0, 0, 100, 0, &log), -XYLOTRAK_MATRIX_BAD_ARGUMENT);
  Stem unordered = cone();
  unordered.positions[3] = unordered.positions[2];
  s = unordered.record();
  EXPECT_EQ(PHMlDll(&s, &r, 0, 0, 100, 0, &log), -XYLOTRAK_MATRIX_BAD_ARGUMENT);
  Stem nan = cone();
  nan.diameters[5] = std::nan("");
  s = nan.record();
  EXPECT_EQ(PHMlDll(&s, &r, 0, 0, 100, 0, &log), -XYLOTRAK_MATRIX_BAD_ARGUMENT);
}

// Saw logs (top >= 200 mm, 300..500 cm, per m3 by class) then pulp (top >=
// 100 mm, 200..500 cm, per log), on the 10 m cone in whole 10 cm steps.
std::vector<Product> sawAndPulp() {
  Product saw{{200, 240}, {300, 400}, {500, 550, 600, 700}};
  saw.lMax = 500;
  Product pulp{{100}, {200}, {9}};
  pulp.lMax = 500;
  pulp.basis = XYLOTRAK_PRICE_PER_LOG;
  return {saw, pulp};
}

int buck(const Stem &stem, const std::vector<Product> &products, int method, int resolution,
         std::vector<xylotrak_matrix_log> &logs, double &total, int flags = 0) {
  std::vector<xylotrak_matrix_product> records;
  for (const auto &p : products) records.push_back(p.record());
  const auto s = stem.record();
  xylotrak_matrix_params params{0, method, resolution, flags, 0};
  logs.assign(200, xylotrak_matrix_log{});
  int32_t count = -1;
  const int rc = PHMbDll(&s, records.data(), static_cast<int>(records.size()), &params, logs.data(),
                         200, &count, &total);
  logs.resize(rc == XYLOTRAK_MATRIX_OK ? static_cast<size_t>(count) : 0);
  return rc;
}

TEST(MatrixBucking, SequentialWorkedByHand) {
  // Saw from 0: its longest log is 490 cm (under 500), top at 490: 251 mm,
  // class 240 / length class 400: 700 per m3. From 490: 490 cm reaches 980,
  // top 202 mm: class 200 / 400: 550 per m3. From 980 no saw log fits (20 cm
  // left), nor any pulp log.
  std::vector<xylotrak_matrix_log> logs;
  double total = 0;
  const Stem stem = cone();
  ASSERT_EQ(buck(stem, sawAndPulp(), XYLOTRAK_MATRIX_SEQUENTIAL, 10, logs, total),
            XYLOTRAK_MATRIX_OK);
  ASSERT_EQ(logs.size(), 2u);
  EXPECT_EQ(logs[0].startCm, 0);
  EXPECT_EQ(logs[0].lengthCm, 490);
  EXPECT_EQ(logs[0].diameterClassMm, 240);
  EXPECT_EQ(logs[1].startCm, 490);
  EXPECT_EQ(logs[1].lengthCm, 490);
  EXPECT_EQ(logs[1].diameterClassMm, 200);
  const double v1 = kPi * 4.9 * (0.3 * 0.3 + 0.3 * 0.251 + 0.251 * 0.251) / 12;
  const double v2 = kPi * 4.9 * (0.251 * 0.251 + 0.251 * 0.202 + 0.202 * 0.202) / 12;
  EXPECT_NEAR(logs[0].value, 700 * v1, 1e-10);
  EXPECT_NEAR(logs[1].value, 550 * v2, 1e-10);
  EXPECT_EQ(total, logs[0].value + logs[1].value);

  // With the saw log's upper length class forbidden, the saw logs are 390 cm
  // (class 300), tops 261 and 222 mm at 390 and 780; then pulp, 220 cm to the end.
  auto products = sawAndPulp();
  products[0].cells = {0, XYLOTRAK_CELL_FORBIDDEN, 0, XYLOTRAK_CELL_FORBIDDEN};
  ASSERT_EQ(buck(stem, products, XYLOTRAK_MATRIX_SEQUENTIAL, 10, logs, total), XYLOTRAK_MATRIX_OK);
  ASSERT_EQ(logs.size(), 3u);
  EXPECT_EQ(logs[0].lengthCm, 390);
  EXPECT_EQ(logs[0].diameterClassMm, 240);
  EXPECT_EQ(logs[1].lengthCm, 390);
  EXPECT_EQ(logs[1].diameterClassMm, 200);
  EXPECT_EQ(logs[2].product, 1);
  EXPECT_EQ(logs[2].startCm, 780);
  EXPECT_EQ(logs[2].lengthCm, 220);
  EXPECT_EQ(logs[2].value, 9);
}

// Every cutting of the grid: each position either wastes one step or cuts
// an admissible log of any product and length.
double bruteForce(const xylotrak_measured_stem &s, const std::vector<xylotrak_matrix_product> &ps,
                  double start, double end, int step, bool hand) {
  std::function<double(double)> best = [&](double at) -> double {
    if (at + step > end) return 0;
    double b = best(at + step);
    for (size_t p = 0; p < ps.size(); ++p) {
      for (double len = step; at + len <= end; len += step) {
        xylotrak_matrix_log log{};
        if (PHMlDll(&s, &ps[p], static_cast<int32_t>(p), at, len, hand, &log) !=
            XYLOTRAK_LOG_ADMISSIBLE)
          continue;
        b = std::max(b, log.value + best(at + len));
      }
    }
    return b;
  };
  return best(start);
}

TEST(MatrixBucking, ExactMatchesEveryCuttingOfSmallStems) {
  std::mt19937_64 rng(22);
  auto uni = [&](double lo, double hi) { return std::uniform_real_distribution<>(lo, hi)(rng); };
  int improved = 0;
  for (int trial = 0; trial < 60; ++trial) {
    // A stem of 60 to 100 cm with a wobbly profile, grade zones and bark.
    Stem stem;
    const double length = 60 + 10 * static_cast<int>(uni(0, 5));
    for (double x = 0; x <= length; x += uni(7, 30)) {
      stem.positions.push_back(x);
      stem.diameters.push_back(std::max(0.0, 300 - 0.8 * x + uni(-20, 20)));
    }
    stem.barkPositions = {0, length};
    stem.bark = {uni(5, 30), uni(2, 10)};
    stem.gradeStarts = {0, std::floor(uni(20, length))};
    stem.grades = {1, 1 + static_cast<int32_t>(uni(0, 2))};
    std::vector<Product> products;
    for (int i = 0, n = 1 + static_cast<int>(uni(0, 3)); i < n; ++i) {
      Product p{{std::floor(uni(50, 150)), std::floor(uni(160, 250))},
                {std::floor(uni(15, 30)), std::floor(uni(30, 50))},
                {uni(0, 900), uni(0, 900), uni(0, 900), uni(0, 900)}};
      p.lMax = std::floor(uni(55, 80));
      p.position = static_cast<int16_t>(uni(0, 3));
      p.classUnder = static_cast<int16_t>(uni(0, 2));
      p.rule = static_cast<int16_t>(uni(0, 3));
      p.volumeLength = static_cast<int16_t>(uni(0, 3));
      p.volumeUnder = static_cast<int16_t>(uni(0, 2));
      p.basis = static_cast<int16_t>(uni(0, 2));
      p.cells = {static_cast<int8_t>(uni(0, 3)), 0, static_cast<int8_t>(uni(0, 3)), 0};
      if (uni(0, 1) < 0.5) p.grades = {1};
      products.push_back(p);
    }
    std::vector<xylotrak_matrix_product> records;
    for (const auto &p : products) records.push_back(p.record());
    const auto s = stem.record();
    const int step = 10;
    const bool hand = uni(0, 1) < 0.5;
    const double expected = bruteForce(s, records, 0, stem.positions.back(), step, hand);
    std::vector<xylotrak_matrix_log> logs, seq;
    double total = 0, seqTotal = 0;
    ASSERT_EQ(buck(stem, products, XYLOTRAK_MATRIX_EXACT, step, logs, total,
                   hand ? XYLOTRAK_BUCK_HAND_CELLS : 0),
              XYLOTRAK_MATRIX_OK);
    EXPECT_NEAR(total, expected, 1e-9 * (1 + expected)) << "trial " << trial;
    // The logs written are the ones PHMlDll values, adjacent or apart, in order.
    double at = 0, sum = 0;
    for (const auto &log : logs) {
      xylotrak_matrix_log again{};
      EXPECT_EQ(PHMlDll(&s, &records[static_cast<size_t>(log.product)], log.product, log.startCm,
                        log.lengthCm, hand, &again),
                XYLOTRAK_LOG_ADMISSIBLE);
      EXPECT_EQ(again.value, log.value);
      EXPECT_GE(log.startCm, at);
      at = log.startCm + log.lengthCm;
      sum = sum + log.value;
    }
    EXPECT_EQ(sum, total);
    // The sequential bucking is one of the cuttings: never better.
    ASSERT_EQ(buck(stem, products, XYLOTRAK_MATRIX_SEQUENTIAL, step, seq, seqTotal,
                   hand ? XYLOTRAK_BUCK_HAND_CELLS : 0),
              XYLOTRAK_MATRIX_OK);
    EXPECT_LE(seqTotal, total + 1e-9 * (1 + total));
    if (total > seqTotal + 1e-9) ++improved;
  }
  EXPECT_GT(improved, 5);  // the cases do tell the two apart
}

TEST(MatrixBucking, FinerGridsNeverLoseValue) {
  // Every cut of a 20 cm grid lies on the 10 cm and 1 cm grids.
  const Stem stem = cone();
  double previous = 0;
  for (int step : {20, 10, 5, 1}) {
    std::vector<xylotrak_matrix_log> logs;
    double total = 0;
    ASSERT_EQ(buck(stem, sawAndPulp(), XYLOTRAK_MATRIX_EXACT, step, logs, total),
              XYLOTRAK_MATRIX_OK);
    EXPECT_GE(total, previous) << step;
    previous = total;
  }
}

TEST(MatrixBucking, ArgumentsAndCapacity) {
  const Stem stem = cone();
  const auto s = stem.record();
  const auto products = sawAndPulp();
  std::vector<xylotrak_matrix_product> records{products[0].record(), products[1].record()};
  xylotrak_matrix_log logs[1];
  int32_t count = -1;
  double total = -1;
  xylotrak_matrix_params params{0, XYLOTRAK_MATRIX_SEQUENTIAL, 10, 0, 0};
  // Two logs do not fit in one: their number and value are still given.
  EXPECT_EQ(PHMbDll(&s, records.data(), 2, &params, logs, 1, &count, &total),
            XYLOTRAK_MATRIX_TOO_MANY_LOGS);
  EXPECT_EQ(count, 2);
  EXPECT_GT(total, 0);
  params.resolutionCm = 0;
  EXPECT_EQ(PHMbDll(&s, records.data(), 2, &params, logs, 1, &count, &total),
            XYLOTRAK_MATRIX_BAD_ARGUMENT);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(total, 0);
  params.resolutionCm = 10;
  params.startCm = 0.5;
  EXPECT_EQ(PHMbDll(&s, records.data(), 2, &params, logs, 1, &count, &total),
            XYLOTRAK_MATRIX_BAD_ARGUMENT);
  params.startCm = 0;
  params.method = 5;
  EXPECT_EQ(PHMbDll(&s, records.data(), 2, &params, logs, 1, &count, &total),
            XYLOTRAK_MATRIX_BAD_ARGUMENT);
  // An unsupported rule fails the call even on a product that would not be chosen.
  params.method = XYLOTRAK_MATRIX_EXACT;
  records[1].volumeLength = 9;
  EXPECT_EQ(PHMbDll(&s, records.data(), 2, &params, logs, 1, &count, &total),
            XYLOTRAK_MATRIX_UNSUPPORTED_RULE);
  // An empty table cuts nothing; productCount is read in its low 16 bits.
  EXPECT_EQ(PHMbDll(&s, records.data(), 0x10000, &params, logs, 1, &count, &total),
            XYLOTRAK_MATRIX_OK);
  EXPECT_EQ(count, 0);
}

TEST(MatrixBucking, TaperStemsThroughTheirSamples) {
  const double coefs[] = {1.0, -1.0}, exps[] = {0.0, 1.0};  // a cone of 30 cm at 0, 0 at 20 m
  std::vector<double> x(300), d(300);
  const int32_t n = PHMtDll(30, 20, coefs, exps, 1, 10, x.data(), d.data(), 300);
  ASSERT_EQ(n, 201);
  EXPECT_EQ(x[200], 2000);
  EXPECT_DOUBLE_EQ(d[0], 300);
  EXPECT_DOUBLE_EQ(d[100], 150);
  EXPECT_EQ(PHMtDll(30, 20, coefs, exps, 1, 30, x.data(), d.data(), 300), 68);  // ..1980, 2000
  EXPECT_EQ(x[67], 2000);
  EXPECT_EQ(PHMtDll(30, 20, coefs, exps, 1, 10, x.data(), d.data(), 5), 201);  // count only
  EXPECT_EQ(PHMtDll(30, 20, coefs, exps, 1, 0, x.data(), d.data(), 5), -1);
  ASSERT_EQ(PHMtDll(30, 20, coefs, exps, 1, 10, x.data(), d.data(), 300), 201);
  Stem stem;
  stem.positions.assign(x.begin(), x.begin() + 201);
  stem.diameters.assign(d.begin(), d.begin() + 201);
  std::vector<xylotrak_matrix_log> logs;
  double total = 0;
  ASSERT_EQ(buck(stem, sawAndPulp(), XYLOTRAK_MATRIX_EXACT, 10, logs, total), XYLOTRAK_MATRIX_OK);
  EXPECT_GT(logs.size(), 1u);
  EXPECT_GT(total, 0);
}

}  // namespace
