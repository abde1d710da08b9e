// Sequential bucking: the greedy pass from the stump upward.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "bucking_support.h"

using namespace bucking_test;

namespace {

constexpr double kPi = 3.141592653589793;

// Volume of the cone dbh (1 - h/H) between heights a and b, in closed form.
double coneVolume(double dbh, double height, double a, double b) {
  const double scale = kPi / 40000 * dbh * dbh * height / 3;
  return scale * (std::pow(1 - a / height, 3) - std::pow(1 - b / height, 3));
}

// The four-log cone: 40 cm, 20 m, one product priced per m^3.
struct WorkedExample {
  Tree tree = cone(40, 20);
  CallArgs setup;
  std::vector<ProductSpec> products;
  WorkedExample() {
    setup.stumpHeight = 0.1;
    ProductSpec p = product(10, 2, 4, 100, 0);
    p.trimLength = 0.1;
    products = {p};
  }
};

TEST(SequentialBucking, WorkedExampleRowByRow) {
  WorkedExample ex;
  Output out;
  tally_start();
  ASSERT_EQ(sequential(ex.tree, ex.setup, ex.products, out), 1.0);
  const long volumes = tally_count(2), diameters = tally_count(3), searches = tally_count(4);
  EXPECT_EQ(tally_count(1), 1);
  EXPECT_EQ(tally_count(0), 0);

  ASSERT_EQ(out.logs(), 4);
  const double base[] = {0.1, 4.2, 8.3, 12.4}, len[] = {4, 4, 4, 2.6};
  const double top[] = {31.8, 23.6, 15.4, 10}, vol[] = {0.404315, 0.240989, 0.119912, 0.032879};
  double weighted = 0;
  for (int k = 1; k <= 4; ++k) {
    const LogEntry &r = out.row(k);
    EXPECT_EQ(r.productNumber, 1);
    EXPECT_NEAR(r.baseHeight, base[k - 1], 1e-12);
    EXPECT_NEAR(r.length, len[k - 1], 1e-12);
    EXPECT_NEAR(r.topDiam, top[k - 1], 1e-12);
    EXPECT_NEAR(r.baseDiam, 40 * (1 - r.baseHeight / 20), 1e-12);
    EXPECT_NEAR(r.trimTopDiam, 40 * (1 - r.trimTopHeight / 20), 1e-12);
    EXPECT_NEAR(r.volume, vol[k - 1], 5e-7);
    expectNearRel(r.volume, coneVolume(40, 20, r.baseHeight, r.topHeight), 1e-12, "log volume");
    EXPECT_DOUBLE_EQ(r.value, 100 * r.volume);
    weighted += r.volume * r.topDiam;
  }
  const LogEntry &stump = out.row(0);
  EXPECT_EQ(stump.length, 0.1);
  EXPECT_EQ(stump.trimTopHeight, 0.1);
  EXPECT_EQ(stump.baseDiam, 40.0);

  const ProductSpec &p = ex.products[0];
  EXPECT_EQ(p.logCount, 4);
  EXPECT_NEAR(p.lengthSum, 14.6, 1e-12);
  EXPECT_NEAR(p.volumeSum, 0.798096, 5e-7);
  EXPECT_NEAR(p.valueSum, 79.8096, 5e-5);
  EXPECT_NEAR(p.lastTopHeight, 15.0, 1e-12);
  EXPECT_NEAR(p.lastTopDiam, 10.0, 1e-10);
  EXPECT_NEAR(p.meanTopDiam, 20.2, 1e-12);
  EXPECT_NEAR(p.weightedTopDiam, 25.9618, 5e-5);
  expectNearRel(p.weightedTopDiam, weighted / p.volumeSum, 1e-12, "weightedTopDiam");

  EXPECT_NEAR(out.totals[kStump], 0.0125036, 5e-8);
  EXPECT_NEAR(out.totals[kTrim], 0.0148382, 5e-8);
  EXPECT_EQ(out.totals[kLoss], 0.0);
  EXPECT_EQ(out.totals[kLeftover], 0.0) << "the last trim top lies above the 10 cm height";
  EXPECT_NEAR(out.totals[kTop], 0.0130900, 5e-8);
  expectNearRel(out.totals[kTop], coneVolume(40, 20, 15, 20), 1e-12, "topVolume");
  expectNearRel(out.totals[kStem], 0.8 * kPi / 3, 1e-14, "stemVolume");
  EXPECT_EQ(out.totals[kProduct], p.volumeSum);
  EXPECT_EQ(out.totals[kValue], p.valueSum);
  expectTableInvariants(ex.products, out, 0.1);

  // Calls: the stump row (3 diameters, 1 volume); five tries of 3 diameters
  // (the fifth fails on the minimum log); the shortened fourth log's height
  // search; per log 2 volumes and 3 row diameters; the last top diameter;
  // then stump, leftover, top and stem volumes, the last two searching the
  // 10 cm height.
  const long perSearch = diameterCallsOfSearch(ex.tree, 10);
  EXPECT_EQ(volumes, 1 + 4 * 2 + 4);
  EXPECT_EQ(searches, 1 + 2);
  EXPECT_EQ(diameters, 3 + 5 * 3 + 4 * 3 + 1 + 3 * perSearch);
}

TEST(SequentialBucking, EmptyTableAndTopLimitZeroLeaveOnlyTheStump) {
  const Tree tree = cone(40, 20);
  CallArgs setup;
  setup.stumpTrim = 0.2;
  std::vector<ProductSpec> products = {product(10, 2, 4)};
  for (int variant = 0; variant < 2; ++variant) {
    Output out;
    if (variant == 0) {
      ASSERT_EQ(sequential(tree, setup, products, out, 0), 1.0);
      EXPECT_FALSE(resultsAreZero(products[0])) << "an empty table is not touched";
    } else {
      setup.topHeightLimit = 0;  // a real limit: no minimum length fits below it
      ASSERT_EQ(sequential(tree, setup, products, out), 1.0);
      EXPECT_TRUE(resultsAreZero(products[0]));
    }
    EXPECT_EQ(out.logs(), 0);
    EXPECT_EQ(out.row(0).trimTopHeight, 0.5);
    for (Total t : {kProduct, kLeftover, kLoss, kValue}) EXPECT_EQ(out.totals[t], 0.0);
    expectNearRel(out.totals[kTop], coneVolume(40, 20, 0.5, 20), 1e-12, "topVolume");
    expectNearRel(out.totals[kTrim], coneVolume(40, 20, 0.3, 0.5), 1e-12, "stump trim");
    expectNearRel(out.totals[kStump] + out.totals[kTrim] + out.totals[kTop], out.totals[kStem],
                  1e-12, "stump, trim and top make the stem");
  }
}

TEST(SequentialBucking, StartHeightRaisesTheFirstLog) {
  const Tree tree = cone(40, 20);
  CallArgs setup;
  setup.startHeight = 2.5;
  std::vector<ProductSpec> products = {product(10, 2, 4)};
  Output out;
  sequential(tree, setup, products, out);
  EXPECT_EQ(out.row(1).baseHeight, 2.5);
  expectTableInvariants(products, out, 2.5);
}

TEST(SequentialBucking, HeightRuleCutsAtTheHeightLimit) {
  const Tree tree = cone(40, 20);
  CallArgs setup;
  setup.heightLimit = 0.3 + 2.5;  // between the minimum and the maximum end
  std::vector<ProductSpec> products = {product(5, 2, 4)};
  products[0].heightRule = 1;
  Output out;
  sequential(tree, setup, products, out);
  ASSERT_EQ(out.logs(), 1) << "the next try fails the height rule";
  EXPECT_EQ(out.row(1).topHeight, out.row(1).baseHeight + (setup.heightLimit - 0.3));
  EXPECT_NEAR(out.row(1).length, 2.5, 1e-12);

  setup.heightLimit = 0.3 + 1.9;  // the minimum length no longer fits
  sequential(tree, setup, products, out);
  EXPECT_EQ(out.logs(), 0);
  setup.heightLimit = 999;
  products[0].heightRule = 2;
  sequential(tree, setup, products, out);
  EXPECT_EQ(out.logs(), 0);
}

TEST(SequentialBucking, LogPositions) {
  const Tree tree = cone(40, 20);
  std::vector<ProductSpec> products(4, product(5, 3, 3));
  products[0].logPosition = 1;   // the butt log only
  products[1].logPosition = 1;   // too late: the stem already has a log
  products[2].logPosition = 2;   // exactly the second log
  products[3].logPosition = 99;  // any position, like 0
  Output out;
  sequential(tree, CallArgs{}, products, out);
  ASSERT_GE(out.logs(), 4);
  EXPECT_EQ(out.row(1).productNumber, 1);
  EXPECT_EQ(out.row(2).productNumber, 3);
  for (int k = 3; k <= out.logs(); ++k) EXPECT_EQ(out.row(k).productNumber, 4);
  EXPECT_EQ(products[1].logCount, 0);
  expectTableInvariants(products, out, 0.3);
}

TEST(SequentialBucking, TotalLossAndUnknownPriceBasis) {
  const Tree tree = cone(40, 20);
  std::vector<ProductSpec> products = {product(10, 2, 4, 50, 3)};
  products[0].lossFraction = 1;
  Output out;
  sequential(tree, CallArgs{}, products, out);
  const int n = out.logs();
  ASSERT_EQ(n, 4);
  double gross = 0, topDiams = 0;
  for (int k = 1; k <= n; ++k) {
    EXPECT_EQ(out.row(k).volume, 0.0);
    EXPECT_EQ(out.row(k).value, 0.0);
    gross += coneVolume(40, 20, out.row(k).baseHeight, out.row(k).topHeight);
    topDiams += out.row(k).topDiam;
  }
  const ProductSpec &p = products[0];
  EXPECT_EQ(p.volumeSum, 0.0);
  EXPECT_EQ(p.valueSum, 0.0);
  EXPECT_EQ(p.weightedTopDiam, 0.0);
  EXPECT_DOUBLE_EQ(p.meanTopDiam, topDiams / n);
  expectNearRel(out.totals[kLoss], gross, 1e-12, "the whole section is loss");
  EXPECT_EQ(out.totals[kLeftover], 0.0);
  expectNearRel(out.totals[kTop], coneVolume(40, 20, 0.3, 20), 1e-12, "no product volume");
}

TEST(SequentialBucking, StopsAtNinetyNineLogsWithinTheTable) {
  const Tree tree = cone(40, 30);
  std::vector<ProductSpec> products = {product(5, 0.1, 0.1), product(2, 1, 1)};
  Output out;
  sequential(tree, CallArgs{}, products, out);  // the guard rows are checked inside
  ASSERT_EQ(out.logs(), 99);
  EXPECT_EQ(products[0].logCount, 99);
  EXPECT_TRUE(resultsAreZero(products[1])) << "no log is tried once the table is full";
  expectTableInvariants(products, out, 0.3);
  const double stop = out.row(99).trimTopHeight;
  expectNearRel(out.totals[kLeftover], tree.v(stop, 0, 0, 2), 1e-12, "totals from the stop");
}

TEST(SequentialBucking, ZeroAndNegativeLengthsEndTheProduct) {
  const Tree tree = cone(40, 20);
  std::vector<ProductSpec> products = {product(0, 0, 0), product(0, -1, -2), product(30, -1, -2),
                                       product(10, 2, 4)};
  Output out;
  sequential(tree, CallArgs{}, products, out);
  EXPECT_EQ(products[0].logCount, 0);
  EXPECT_EQ(products[1].logCount, 0);
  EXPECT_EQ(products[2].logCount, 1) << "one log up to where the stem is 30 cm, then no more";
  EXPECT_NEAR(out.row(1).topHeight, 5, 1e-12);
  EXPECT_EQ(products[3].logCount, 3);
  expectTableInvariants(products, out, 0.3);
}

TEST(SequentialBucking, ReusedTablesAreClearedBehindTheLastLog) {
  const Tree tree = cone(40, 20);
  std::vector<ProductSpec> many = {product(5, 1, 1)};
  Output out;
  sequential(tree, CallArgs{}, many, out);
  ASSERT_GT(out.logs(), 10);
  std::vector<ProductSpec> few = {product(20, 4, 4)};
  sequential(tree, CallArgs{}, few, out);
  EXPECT_EQ(out.logs(), 2);
  expectTableInvariants(few, out, 0.3);  // rows 3..99 are zero in every field
}

// Random stems that narrow upward, p(x) = c0 - a c0 x^e1 - (1 - a) c0 x^e2,
// and random tables: both exports keep the table invariants, and the
// sequential volumes partition the stem.
TEST(BuckingInvariants, RandomStemsAndTables) {
  std::mt19937_64 rng(20240611);
  auto uni = [&](double lo, double hi) { return std::uniform_real_distribution<>(lo, hi)(rng); };
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  int partitions = 0;
  for (int round = 0; round < 60; ++round) {
    const double c0 = uni(1.1, 1.3), a = uni(0.3, 0.9);
    const Tree tree{
        uni(15, 60), uni(12, 35), {c0, -a * c0, -(1 - a) * c0}, {0, uni(0.7, 1.5), uni(2, 5)}, 2};
    CallArgs setup;
    setup.stumpHeight = uni(0.1, 0.5);
    setup.stumpTrim = pick(2) ? 0 : 0.05;
    setup.startHeight = pick(3) ? 0 : uni(0, 3);
    setup.heightLimit = uni(5, tree.height);
    setup.objective = pick(2);
    std::vector<ProductSpec> products;
    for (int i = 0, n = 1 + pick(3); i < n; ++i) {
      const double minLength = uni(2, 5);
      ProductSpec p =
          product(uni(5, 0.6 * tree.dbh), minLength, minLength + uni(0, 4), uni(0, 200), pick(4));
      p.trimLength = uni(0, 0.15);
      p.lossFraction = pick(5) ? uni(0, 0.2) : 1;
      p.logPosition = static_cast<int16_t>(pick(3) ? 0 : std::array{1, 2, 3, 99}[pick(4)]);
      p.heightRule = static_cast<int16_t>(pick(4) ? 0 : 1);
      if (!pick(4)) p.maxBaseDiam = uni(0.3, 1) * tree.dbh;
      products.push_back(p);
    }
    const double stumpTop = setup.stumpHeight + setup.stumpTrim;

    Output seq;
    sequential(tree, setup, products, seq);
    const double first = setup.startHeight > stumpTop ? setup.startHeight : stumpTop;
    expectTableInvariants(products, seq, first);
    const int n = seq.logs();
    const double m = products.back().minTopDiam;
    if (seq.totals[kProduct] > 0 && seq.row(n).trimTopHeight < tree.hAt(m)) {
      const double unassigned = first > stumpTop ? tree.v(stumpTop, first) : 0;
      const double parts = seq.totals[kStump] + seq.totals[kProduct] + seq.totals[kLoss] +
                           seq.totals[kTrim] + seq.totals[kLeftover] + seq.totals[kTop] +
                           unassigned;
      expectNearRel(parts, seq.totals[kStem], 1e-12, "volume partition");
      ++partitions;
    }

    Output opt;
    const double r = optimised(tree, setup, products, opt);
    if (r == 1.0) {
      expectTableInvariants(products, opt, stumpTop);
      EXPECT_GE(opt.logs(), 1);
    } else {
      EXPECT_TRUE(r == 0.0 || r == 99.0) << r;
      expectCleared(products, opt);
    }
  }
  EXPECT_GT(partitions, 20) << "too few generated cases reached the partition check";
}

}  // namespace
