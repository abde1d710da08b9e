// Sequential bucking: the greedy pass from the stump upward.
#include <gtest/gtest.h>

#include <random>

#include "bucking_support.h"

using namespace bucking_test;

namespace {

// The four-log cone: 40 cm, 20 m, one product priced per m^3, 0.1 m trims.
TEST(SequentialBucking, WorkedExampleRowByRow) {
  const Tree tree = cone(40, 20);
  CallArgs args;
  args.stumpHeight = 0.1;
  std::vector<ProductSpec> products = {product(10, 2, 4, 100, 0)};
  products[0].trimLength = 0.1;
  Output out;
  tally_start();
  ASSERT_EQ(sequential(tree, args, products, out), 1.0);
  const long volumes = tally_count(2), diameters = tally_count(3), searches = tally_count(4);
  EXPECT_EQ(tally_count(1), 1);
  EXPECT_EQ(tally_count(0), 0);

  ASSERT_EQ(out.logs(), 4);
  const double base[] = {0.1, 4.2, 8.3, 12.4}, len[] = {4, 4, 4, 2.6};
  const double top[] = {31.8, 23.6, 15.4, 10}, vol[] = {0.404315, 0.240989, 0.119912, 0.032879};
  for (int k = 1; k <= 4; ++k) {
    const LogEntry &r = out.row(k);
    EXPECT_NEAR(r.baseHeight, base[k - 1], 1e-12);
    EXPECT_NEAR(r.length, len[k - 1], 1e-12);
    EXPECT_NEAR(r.topDiam, top[k - 1], 1e-12);
    EXPECT_NEAR(r.trimTopDiam, 40 * (1 - r.trimTopHeight / 20), 1e-12);
    EXPECT_NEAR(r.volume, vol[k - 1], 5e-7);
    expectNearRel(r.volume, coneVolume(40, 20, r.baseHeight, r.topHeight), 1e-12, "volume");
    EXPECT_EQ(r.value, r.volume * 100);
  }
  EXPECT_EQ(out.row(0).length, 0.1);
  EXPECT_EQ(out.row(0).baseDiam, 40.0);

  const ProductSpec &p = products[0];
  EXPECT_EQ(p.logCount, 4);
  EXPECT_NEAR(p.lengthSum, 14.6, 1e-12);
  EXPECT_NEAR(p.volumeSum, 0.798096, 5e-7);
  EXPECT_NEAR(p.valueSum, 79.8096, 5e-5);
  EXPECT_NEAR(p.lastTopHeight, 15.0, 1e-12);
  EXPECT_NEAR(p.lastTopDiam, 10.0, 1e-10);
  EXPECT_NEAR(p.meanTopDiam, 20.2, 1e-12);
  EXPECT_NEAR(p.weightedTopDiam, 25.9618, 5e-5);
  EXPECT_NEAR(out.totals[kStump], 0.0125036, 5e-8);
  EXPECT_NEAR(out.totals[kTrim], 0.0148382, 5e-8);
  EXPECT_EQ(out.totals[kLoss], 0.0);
  EXPECT_EQ(out.totals[kLeftover], 0.0) << "the last trim top lies above the 10 cm height";
  expectNearRel(out.totals[kTop], coneVolume(40, 20, 15, 20), 1e-12, "topVolume");
  EXPECT_NEAR(out.totals[kTop], 0.0130900, 5e-8);
  expectNearRel(out.totals[kStem], 0.8 * kPi / 3, 1e-14, "stemVolume");
  expectTableInvariants(products, out, 0.1);

  // Calls: the stump row (3 diameters, 1 volume); five tries of 3 diameters
  // (the fifth fails on the minimum log); the shortened fourth log's height
  // search; per log 2 volumes and 3 row diameters; the last top diameter;
  // stump, leftover, top and stem volumes, the middle two searching 10 cm.
  EXPECT_EQ(volumes, 1 + 4 * 2 + 4);
  EXPECT_EQ(searches, 1 + 2);
  EXPECT_EQ(diameters, 3 + 5 * 3 + 4 * 3 + 1 + 3 * diameterCallsOfSearch(tree, 10));
}

TEST(SequentialBucking, EmptyTableAndTopLimitZeroLeaveOnlyTheStump) {
  const Tree tree = cone(40, 20);
  CallArgs args;
  args.stumpTrim = 0.2;
  std::vector<ProductSpec> products = {product(10, 2, 4)};
  for (int variant = 0; variant < 2; ++variant) {
    Output out;
    ASSERT_EQ(sequential(tree, args, products, out, variant == 0 ? 0 : 1), 1.0);
    EXPECT_EQ(resultsAreZero(products[0]), variant == 1) << "an empty table is not touched";
    EXPECT_EQ(out.logs(), 0);
    for (Total t : {kProduct, kLeftover, kLoss, kValue}) EXPECT_EQ(out.totals[t], 0.0);
    expectNearRel(out.totals[kTop], coneVolume(40, 20, 0.5, 20), 1e-12, "topVolume");
    expectNearRel(out.totals[kTrim], coneVolume(40, 20, 0.3, 0.5), 1e-12, "stump trim");
    args.topHeightLimit = 0;  // a real limit: no minimum length fits below it
  }
}

TEST(SequentialBucking, HeightRuleCutsAtTheHeightLimit) {
  const Tree tree = cone(40, 20);
  CallArgs args;
  args.heightLimit = 0.3 + 2.5;  // between the minimum and the maximum end
  std::vector<ProductSpec> products = {product(5, 2, 4)};
  products[0].heightRule = 1;
  Output out;
  sequential(tree, args, products, out);
  ASSERT_EQ(out.logs(), 1) << "the next try fails the height rule";
  EXPECT_EQ(out.row(1).length, args.heightLimit - 0.3);
  args.heightLimit = 0.3 + 1.9;  // the minimum length no longer fits
  sequential(tree, args, products, out);
  EXPECT_EQ(out.logs(), 0);
  products[0].heightRule = 2;
  sequential(tree, CallArgs{}, products, out);
  EXPECT_EQ(out.logs(), 0);
}

TEST(SequentialBucking, LogPositions) {
  std::vector<ProductSpec> products = {product(5, 3, 3, 1, 0, 1), product(5, 3, 3, 1, 0, 1),
                                       product(5, 3, 3, 1, 0, 2), product(5, 3, 3, 1, 0, 99)};
  Output out;
  sequential(cone(40, 20), CallArgs{}, products, out);
  ASSERT_GE(out.logs(), 4);
  EXPECT_EQ(out.row(1).productNumber, 1);
  EXPECT_EQ(products[1].logCount, 0) << "the stem already has its first log";
  EXPECT_EQ(out.row(2).productNumber, 3);
  for (int k = 3; k <= out.logs(); ++k) EXPECT_EQ(out.row(k).productNumber, 4);
  expectTableInvariants(products, out, 0.3);
}

TEST(SequentialBucking, TotalLossAndUnknownPriceBasis) {
  std::vector<ProductSpec> products = {product(10, 2, 4, 50, 3)};
  products[0].lossFraction = 1;
  Output out;
  sequential(cone(40, 20), CallArgs{}, products, out);
  ASSERT_EQ(out.logs(), 4);
  double gross = 0, topDiams = 0;
  for (int k = 1; k <= 4; ++k) {
    EXPECT_EQ(out.row(k).volume, 0.0);
    EXPECT_EQ(out.row(k).value, 0.0);
    gross += coneVolume(40, 20, out.row(k).baseHeight, out.row(k).topHeight);
    topDiams += out.row(k).topDiam;
  }
  EXPECT_EQ(products[0].valueSum, 0.0);
  EXPECT_EQ(products[0].weightedTopDiam, 0.0);
  EXPECT_DOUBLE_EQ(products[0].meanTopDiam, topDiams / 4);
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
  EXPECT_TRUE(resultsAreZero(products[1])) << "no log is tried once the table is full";
  expectTableInvariants(products, out, 0.3);
  expectNearRel(out.totals[kLeftover], tree.v(out.row(99).trimTopHeight, 0, 0, 2), 1e-12,
                "totals from where cutting stopped");
}

TEST(SequentialBucking, ZeroAndNegativeLengthsEndTheProduct) {
  std::vector<ProductSpec> products = {product(0, 0, 0), product(0, -1, -2), product(30, -1, -2),
                                       product(10, 2, 4)};
  Output out;
  sequential(cone(40, 20), CallArgs{}, products, out);
  EXPECT_EQ(products[0].logCount + products[1].logCount, 0);
  EXPECT_EQ(products[2].logCount, 1) << "one log up to where the stem is 30 cm, then no more";
  EXPECT_EQ(products[3].logCount, 3);
  expectTableInvariants(products, out, 0.3);

  std::vector<ProductSpec> fewer = {product(20, 4, 4)};  // rows 3.. must be zero again
  sequential(cone(40, 20), CallArgs{}, fewer, out);
  EXPECT_EQ(out.logs(), 2);
  expectTableInvariants(fewer, out, 0.3);
}

// Random stems that narrow upward, p(x) = c0 (1 - a x^e1 - (1 - a) x^e2), and
// random tables: both exports keep the table invariants, and the sequential
// volumes partition the stem.
TEST(BuckingInvariants, RandomStemsAndTables) {
  std::mt19937_64 rng(20240611);
  auto uni = [&](double lo, double hi) { return std::uniform_real_distribution<>(lo, hi)(rng); };
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  int partitions = 0;
  for (int round = 0; round < 60; ++round) {
    const double c0 = uni(1.1, 1.3), a = uni(0.3, 0.9);
    const Tree tree{
        uni(15, 60), uni(12, 35), {c0, -a * c0, -(1 - a) * c0}, {0, uni(0.7, 1.5), uni(2, 5)}, 2};
    CallArgs args;
    args.stumpHeight = uni(0.1, 0.5);
    args.stumpTrim = pick(2) ? 0 : 0.05;
    args.startHeight = pick(3) ? 0 : uni(0, 3);
    args.heightLimit = uni(5, tree.height);
    args.objective = pick(2);
    std::vector<ProductSpec> products;
    for (int i = 0, n = 1 + pick(3); i < n; ++i) {
      const double minLength = uni(2, 5);
      ProductSpec p = product(uni(5, 0.6 * tree.dbh), minLength, minLength + uni(0, 4), uni(0, 200),
                              pick(4), pick(3) ? 0 : std::array{1, 2, 3, 99}[pick(4)]);
      p.trimLength = uni(0, 0.15);
      p.lossFraction = pick(5) ? uni(0, 0.2) : 1;
      p.heightRule = static_cast<int16_t>(pick(4) ? 0 : 1);
      if (!pick(4)) p.maxBaseDiam = uni(0.3, 1) * tree.dbh;
      products.push_back(p);
    }
    const double stumpTop = args.stumpHeight + args.stumpTrim;
    const double first = std::fmax(args.startHeight, stumpTop);

    Output seq;
    sequential(tree, args, products, seq);
    expectTableInvariants(products, seq, first);
    const double lastTrimTop = seq.row(seq.logs()).trimTopHeight;
    if (seq.totals[kProduct] > 0 && lastTrimTop < tree.hAt(products.back().minTopDiam)) {
      double parts = first > stumpTop ? tree.v(stumpTop, first) : 0;  // belongs to no total
      for (Total t : {kStump, kProduct, kLoss, kTrim, kLeftover, kTop}) parts += seq.totals[t];
      expectNearRel(parts, seq.totals[kStem], 1e-12, "volume partition");
      ++partitions;
    }

    Output opt;
    const double r = optimised(tree, args, products, opt);
    if (r == 1.0) {
      expectTableInvariants(products, opt, stumpTop);
    } else {
      EXPECT_TRUE(r == 0.0 || r == 99.0) << r;
      expectCleared(products, opt);
    }
  }
  EXPECT_GT(partitions, 20) << "too few generated cases reached the partition check";
}

}  // namespace
