// The three buckings at the edges of their rules: a stump of height 0, each
// admission rule exactly at its limit and just past it, the outputs only a
// winner of the searches writes, and the 99-log bound of the exact search.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "bucking_support.h"

namespace {

using namespace bucking_test;

using Method = Bucking;
const Method kMethods[] = {Method::kSequential, Method::kOptimised, Method::kExact};

const char *name(Method m) {
  return m == Method::kSequential ? "sequential" : m == Method::kOptimised ? "optimised" : "exact";
}

// Volume calls (slot 2) of one bucking.
int volumeCalls(Method m, const Tree &t, const CallArgs &a, std::vector<ProductSpec> products) {
  Output out;
  tally_start();
  buck(m, t, a, products, out);
  return tally_count(2);
}

TEST(BuckingEdges, AStumpOfHeightZeroHasNoVolume) {
  const Tree tree = cone(40, 20);
  for (Method m : kMethods) {
    SCOPED_TRACE(name(m));
    // A NaN stump height starts no log for the searches (no winner, all
    // cleared); the sequential bucking still writes its stump row.
    for (double stump : {0.0, -0.0, -1.0, std::nan("")}) {
      std::vector<ProductSpec> products = {product(10, 4, 4, 100)};
      Output out;
      const double result = buck(m, tree, stumpAt(stump), products, out);
      EXPECT_EQ(result, std::isnan(stump) && m != Method::kSequential ? 0.0 : 1.0) << stump;
      EXPECT_EQ(out.row(0).volume, 0.0) << stump;
      EXPECT_EQ(out.totals[kStump], 0.0) << stump;
    }
    // Bucked from the ground, the parts add up to the stem: 4 m logs from 0
    // to 12 m (a fourth would end at 16 m, above the 10 cm top at 15 m), the
    // leftover from 12 to 15 m and the tip above.
    std::vector<ProductSpec> products = {product(10, 4, 4, 100)};
    Output out;
    buck(m, tree, stumpAt(0), products, out);
    EXPECT_EQ(products[0].logCount, 3);
    double parts = 0;
    for (Total t : {kStump, kProduct, kLoss, kTrim, kLeftover, kTop}) parts += out.totals[t];
    expectNearRel(parts, out.totals[kStem], 1e-12, "volume partition");
    expectNearRel(out.totals[kStem], coneVolume(40, 20, 0, 20), 1e-12, "stem volume");
    // No volume is evaluated for the stump: one call fewer for the stump row
    // (two for the sequential bucking, which also sums the stump) than for a
    // stump just above the ground, where the same logs are cut.
    const int fewer = m == Method::kSequential ? 2 : 1;
    EXPECT_EQ(volumeCalls(m, tree, stumpAt(0), products) + fewer,
              volumeCalls(m, tree, stumpAt(1e-300), products));
  }
}

// One product tried on the first log with one rule set exactly at its
// limit, then just past it.
struct RuleCase {
  const char *rule;
  void (*set)(ProductSpec &p, CallArgs &a, double value);
  double limit;  // where the rule still admits the log
  double past;   // the nearest double beyond, where it refuses it
};

TEST(BuckingEdges, AdmissionRulesAtTheirLimits) {
  const Tree tree = cone(40, 20);
  const double stump = 0.5, minLength = 3;
  const double base = tree.d(stump);         // D at the first cut
  const double minEnd = stump + minLength;   // where a minimum log ends
  const double minEndDiam = tree.d(minEnd);  // D there
  const double up = std::numeric_limits<double>::infinity();
  const RuleCase cases[] = {
      {"minBaseDiam", [](ProductSpec &p, CallArgs &, double v) { p.minBaseDiam = v; }, base,
       std::nextafter(base, up)},
      {"maxBaseDiam", [](ProductSpec &p, CallArgs &, double v) { p.maxBaseDiam = v; }, base,
       std::nextafter(base, 0.0)},
      {"heightLimit",
       [](ProductSpec &p, CallArgs &a, double v) {
         p.heightRule = 1;
         a.heightLimit = v;
       },
       minEnd, std::nextafter(minEnd, 0.0)},
      {"minTopDiam", [](ProductSpec &p, CallArgs &, double v) { p.minTopDiam = v; }, minEndDiam,
       std::nextafter(minEndDiam, up)},
  };
  for (Method m : kMethods) {
    for (const RuleCase &c : cases) {
      SCOPED_TRACE(std::string(name(m)) + " " + c.rule);
      for (bool atLimit : {true, false}) {
        std::vector<ProductSpec> products = {product(5, minLength, minLength, 10)};
        CallArgs args = stumpAt(stump);
        c.set(products[0], args, atLimit ? c.limit : c.past);
        Output out;
        buck(m, tree, args, products, out);
        EXPECT_EQ(out.logs() >= 1, atLimit) << (atLimit ? "at the limit" : "past it");
        if (atLimit && out.logs() >= 1) {
          EXPECT_EQ(out.row(1).baseHeight, stump);
        }
      }
    }
  }
}

// maxTopDiam bounds the diameter where the longest log would end, not where
// the shortest would: between minLength and maxLength the stem narrows from
// above the bound to below it, and the log is admitted (cut at maxLength,
// where the top is smallest) until the bound falls below the diameter there.
TEST(BuckingEdges, MaxTopDiamIsTestedAtTheMaximumLength) {
  const Tree tree = cone(40, 20);
  const double stump = 0.5, minLength = 3, maxLength = 5;
  const double atMinLength = tree.d(stump + minLength);  // 33.5 cm
  const double atMaxLength = tree.d(stump + maxLength);  // 29.5 cm
  ASSERT_LT(atMaxLength, atMinLength);
  const struct {
    double maxTopDiam;
    bool admitted;
  } cases[] = {{atMinLength, true},
               {(atMinLength + atMaxLength) / 2, true},
               {atMaxLength, true},
               {std::nextafter(atMaxLength, 0.0), false}};
  for (Method m : kMethods) {
    for (const auto &c : cases) {
      SCOPED_TRACE(std::string(name(m)) + " maxTopDiam " + std::to_string(c.maxTopDiam));
      std::vector<ProductSpec> products = {product(5, minLength, maxLength, 10)};
      products[0].maxTopDiam = c.maxTopDiam;
      Output out;
      buck(m, tree, stumpAt(stump), products, out);
      ASSERT_EQ(out.logs() >= 1, c.admitted);
      if (c.admitted) {
        EXPECT_EQ(out.row(1).baseHeight, stump);
        EXPECT_EQ(out.row(1).length, maxLength);
      }
    }
  }
}

TEST(BuckingEdges, TopHeightLimitIsStrictOnlyForTheSequentialBucking) {
  // The sequential bucking needs the minimum log to end below the limit,
  // the searches let it end on it.
  const Tree tree = cone(40, 20);
  for (Method m : kMethods) {
    SCOPED_TRACE(name(m));
    std::vector<ProductSpec> products = {product(5, 3, 3, 10)};
    CallArgs args = stumpAt(0.5);
    args.topHeightLimit = 3.5;
    Output out;
    buck(m, tree, args, products, out);
    EXPECT_EQ(out.logs(), m == Method::kSequential ? 0 : 1);
    args.topHeightLimit = std::nextafter(3.5, 0.0);
    products = {product(5, 3, 3, 10)};
    Output below;
    buck(m, tree, args, products, below);
    EXPECT_EQ(below.logs(), 0);
  }
}

TEST(BuckingEdges, SearchWinnersReportTheTopOfTheLastLogAndATipOnlyAboveATop) {
  const Tree tree = cone(40, 20);
  for (Method m : {Method::kOptimised, Method::kExact}) {
    SCOPED_TRACE(name(m));
    // Trims of 0.2 m: the product's last top is the log's top, not its trim top.
    std::vector<ProductSpec> products = {product(10, 4, 4, 100)};
    products[0].trimLength = 0.2;
    Output out;
    ASSERT_EQ(buck(m, tree, stumpAt(0.5), products, out), 1.0);
    const int n = out.logs();
    ASSERT_GE(n, 2);
    EXPECT_EQ(products[0].lastTopHeight, out.row(n).topHeight);
    EXPECT_EQ(products[0].lastTopHeight + 0.2, out.row(n).trimTopHeight);
    EXPECT_EQ(products[0].lastTopDiam, out.row(n).topDiam);

    // With a product of no minimum top, the leftover runs to the tip and
    // there is no tip volume of its own.
    products = {product(10, 4, 4, 100), product(0, 1, 1, 0)};
    Output open;
    ASSERT_EQ(buck(m, tree, stumpAt(0.5), products, open), 1.0);
    EXPECT_EQ(open.totals[kTop], 0.0);
    const double lastTrimTop = open.row(open.logs()).trimTopHeight;
    expectNearRel(open.totals[kLeftover], coneVolume(40, 20, lastTrimTop, 20), 1e-12,
                  "leftover to the tip");
  }
}

TEST(BuckingEdges, ANegativeProductCountIsAnEmptyTable) {
  // Read from its low 16 bits: -1, 65535 and -32768 are all negative.
  const Tree tree = cone(40, 20);
  for (Method m : kMethods) {
    for (int count : {-1, 65535, 32768, -4096}) {
      SCOPED_TRACE(std::string(name(m)) + " count " + std::to_string(count));
      std::vector<ProductSpec> products = {product(10, 4, 4, 100)};
      const ProductSpec before = products[0];
      Output out;
      const double result = buck(m, tree, stumpAt(0.5), products, out, count);
      EXPECT_EQ(result, m == Method::kSequential ? 1.0 : 0.0);
      EXPECT_EQ(std::memcmp(&products[0], &before, sizeof before), 0) << "record touched";
      EXPECT_EQ(out.logs(), 0);
      EXPECT_EQ(out.totals[kProduct], 0.0);
    }
  }
}

TEST(BuckingEdges, ExactSearchStopsAtNinetyNineLogs) {
  // Priced per log, the best sequence is as many 0.1 m logs as fit: more
  // than the table holds.
  const Tree tree = cone(40, 30);
  std::vector<ProductSpec> products = {product(5, 0.1, 0.1, 1, 2)};
  Output out;
  ASSERT_EQ(optimised(tree, stumpAt(0.3), products, out, &PHVxDll), 1.0);  // guard rows checked
  EXPECT_EQ(out.logs(), 99);
  EXPECT_EQ(products[0].logCount, 99);
  EXPECT_EQ(out.totals[kValue], 99.0);
  expectTableInvariants(products, out, 0.3);
}

}  // namespace
