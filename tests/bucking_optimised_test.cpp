// Optimised bucking: the breadth-first search over cutting sequences.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "bucking_support.h"

using namespace bucking_test;

namespace {

// Logs of one length, priced per log.
ProductSpec fixedLength(double length, double price, int position = 0, double minTop = 15) {
  return product(minTop, length, length, price, 2, position);
}

// The two-product cone: posts of 3 m priced per log, 4 m logs priced per m^3.
TEST(OptimisedBucking, WorkedExampleRowByRow) {
  const Tree tree = cone(30, 20);
  const CallArgs args = stumpAt(0.5);
  std::vector<ProductSpec> products = {product(10, 3, 3, 5, 2), product(15, 4, 4, 100, 0)};
  Output out;
  tally_start();
  ASSERT_EQ(optimised(tree, args, products, out), 1.0);
  const long volumes = tally_count(2), diameters = tally_count(3), searches = tally_count(4);
  EXPECT_EQ(tally_count(0), 1);
  EXPECT_EQ(tally_count(1), 0);

  ASSERT_EQ(out.logs(), 3);
  const int product[] = {2, 2, 1};
  const double base[] = {0.5, 4.5, 8.5}, length[] = {4, 4, 3};
  for (int k = 1; k <= 3; ++k) {
    EXPECT_EQ(out.row(k).productNumber, product[k - 1]);
    EXPECT_EQ(out.row(k).baseHeight, base[k - 1]);
    EXPECT_EQ(out.row(k).length, length[k - 1]);
    expectNearRel(out.row(k).volume,
                  coneVolume(30, 20, out.row(k).baseHeight, out.row(k).topHeight), 1e-12, "log");
  }
  const double logVolume = 0.15 * kPi * (std::pow(0.975, 3) - std::pow(0.575, 3));
  expectNearRel(out.totals[kValue], 5 + 100 * logVolume, 1e-12, "totalValue");
  EXPECT_NEAR(out.totals[kValue], 39.71853, 5e-6);
  expectNearRel(out.totals[kProduct], 0.15 * kPi * (std::pow(0.975, 3) - std::pow(0.425, 3)), 1e-12,
                "productVolume");
  EXPECT_NEAR(out.totals[kProduct], 0.400597, 5e-7);
  expectNearRel(out.totals[kLeftover], coneVolume(30, 20, 11.5, 40.0 / 3), 1e-12, "leftover");
  expectNearRel(out.totals[kTop], coneVolume(30, 20, 40.0 / 3, 20), 1e-12, "topVolume");
  expectNearRel(out.totals[kStump], coneVolume(30, 20, 0, 0.5), 1e-12, "stumpVolume");
  expectNearRel(out.totals[kStem], 0.15 * kPi, 1e-14, "stemVolume");
  EXPECT_EQ(products[1].lastTopHeight, 8.5);
  EXPECT_NEAR(products[1].meanTopDiam, 20.25, 1e-12);
  EXPECT_EQ(products[0].weightedTopDiam, products[0].lastTopDiam);
  expectTableInvariants(products, out, 0.5);

  // Generations 1 to 4 try 2, 4, 8 and 8 (sequence, product) pairs as far as
  // the two top diameters and build 2, 4, 4 and 1 candidates: 8 posts, whose
  // search for 10 cm runs its full length, and 3 logs of product 2, whose
  // search for 15 cm hits 10 m at once. The winner adds the stump row, three
  // rows of 3 diameters and 2 volumes, and leftover, top and stem volumes
  // (the first two search the 10 cm height).
  const long posts = diameterCallsOfSearch(tree, 10), logs = diameterCallsOfSearch(tree, 15);
  EXPECT_EQ(searches, 11 + 2);
  EXPECT_EQ(volumes, 11 + 1 + 3 * 2 + 3);
  EXPECT_EQ(diameters, 1 + 2 * (2 + 4 + 8 + 8) + 11 + 8 * posts + 3 * logs + 3 + 9 + 2 * posts);

  // startHeight is not read.
  CallArgs raised = args;
  raised.startHeight = 5;
  Output again;
  optimised(tree, raised, products, again);
  EXPECT_EQ(again.row(1).baseHeight, 0.5);
  EXPECT_EQ(again.totals, out.totals);
}

TEST(OptimisedBucking, WithoutAWinnerOnlyTheClearingIsWritten) {
  const Tree tree = cone(30, 20);
  std::vector<ProductSpec> products = {product(10, 3, 3, 5, 2)};
  Output filled;
  ASSERT_EQ(optimised(tree, stumpAt(0.5), products, filled), 1.0);

  products[0].minBaseDiam = 40;  // thicker than the stem anywhere
  ASSERT_EQ(optimised(tree, stumpAt(0.5), products, filled), 0.0);
  expectCleared(products, filled);

  products[0].minBaseDiam = 0;
  CallArgs noObjective = stumpAt(0.5);
  noObjective.objective = 2;
  Output out;
  EXPECT_EQ(optimised(tree, noObjective, products, out), 0.0);
  expectCleared(products, out);
  std::vector<ProductSpec> none;
  EXPECT_EQ(optimised(tree, stumpAt(0.5), none, out), 0.0);
  expectCleared(none, out);
}

// X is the best first log but cannot be extended, which makes generation 2
// final; Y + Z, built later in that generation, is still scored and wins;
// W would extend Y + Z in a generation that never runs.
TEST(OptimisedBucking, FinalGenerationIsScoredButNotExtended) {
  const Tree tree = cone(30, 20);
  std::vector<ProductSpec> products = {fixedLength(8, 10, 1, 1), fixedLength(2, 1, 1, 1),
                                       fixedLength(2, 20, 2, 1), fixedLength(2, 100, 3, 1)};
  products[2].minBaseDiam = 20;  // met at 2.5 m (26.25 cm), not at 8.5 m (17.25 cm)
  Output out;
  ASSERT_EQ(optimised(tree, stumpAt(0.5), products, out), 1.0);
  ASSERT_EQ(out.logs(), 2);
  EXPECT_EQ(out.row(1).productNumber, 2);
  EXPECT_EQ(out.row(2).productNumber, 3);
  EXPECT_EQ(out.totals[kValue], 21.0);
}

TEST(OptimisedBucking, EqualScoresKeepTheSequenceBuiltFirst) {
  const Tree tree = cone(30, 20);
  std::vector<ProductSpec> twins = {fixedLength(3, 1, 0, 10), fixedLength(3, 1, 0, 10)};
  Output out;
  ASSERT_EQ(optimised(tree, stumpAt(0.5), twins, out), 1.0);
  ASSERT_EQ(out.logs(), 4);  // 0.5 to 12.5 m; a fifth post would end thinner than 10 cm
  for (int k = 1; k <= 4; ++k) EXPECT_EQ(out.row(k).productNumber, 1);
  EXPECT_EQ(twins[1].logCount, 0);

  // Every score 0: the first log accepted in generation 1 wins. A price basis
  // other than 0, 1, 2 adds nothing, so it scores like a price of 0.
  for (int basis : {2, 3}) {
    std::vector<ProductSpec> products = {fixedLength(3, basis == 2 ? 0 : 1000, 0, 10)};
    products[0].priceBasis = static_cast<int16_t>(basis);
    ASSERT_EQ(optimised(tree, stumpAt(0.5), products, out), 1.0);
    EXPECT_EQ(out.logs(), 1) << "basis " << basis;
    EXPECT_EQ(out.totals[kValue], 0.0);
  }
}

TEST(OptimisedBucking, LogsWithoutLengthAreRefused) {
  const Tree tree = cone(30, 20);
  // maxLength -1 puts the top below the ground, where the volume would be the
  // whole stem above the cut.
  std::vector<ProductSpec> products = {product(15, -2, -1, 100), product(15, 0, 0, 100)};
  Output out;
  EXPECT_EQ(optimised(tree, stumpAt(0.5), products, out), 0.0);
  expectCleared(products, out);
  products.push_back(product(15, 3, 3, 100));
  ASSERT_EQ(optimised(tree, stumpAt(0.5), products, out), 1.0);
  expectTableInvariants(products, out, 0.5);  // every length positive, rows of product 3 only
  EXPECT_EQ(products[2].logCount, out.logs());
}

TEST(OptimisedBucking, SequencesStopAtNinetyNineLogs) {
  const Tree tree = cone(40, 30);
  std::vector<ProductSpec> products = {product(5, 0.1, 0.1, 1, 2)};
  Output out;
  ASSERT_EQ(optimised(tree, stumpAt(0.3), products, out), 1.0);  // guard rows checked inside
  EXPECT_EQ(out.logs(), 99);
  EXPECT_EQ(products[0].logCount, 99);
  expectTableInvariants(products, out, 0.3);
}

// Products of 1 m logs that may only be log 1, log 2 or log 3 of a
// sequence: with a products for position 1 and b for position 2, generation
// 2 builds exactly a * b sequences, which generation 3 extends by the single
// position-3 product (or gives up on). The 15 cm top puts every log's
// height search on 10 m at once, keeping the test fast.
std::vector<ProductSpec> positioned(int first, int second) {
  std::vector<ProductSpec> products(first, fixedLength(1, 1, 1));
  products.insert(products.end(), second, fixedLength(1, 1, 2));
  products.push_back(fixedLength(1, 1, 3));
  return products;
}

TEST(OptimisedBucking, TenThousandSequencesAreSearchedOneMoreIsNot) {
  const Tree tree = cone(30, 20);
  std::vector<ProductSpec> products = positioned(80, 125);  // 10000 sequences of 2 logs
  Output out;
  ASSERT_EQ(optimised(tree, stumpAt(0.5), products, out), 1.0);
  ASSERT_EQ(out.logs(), 3);
  EXPECT_EQ(out.row(1).productNumber, 1);
  EXPECT_EQ(out.row(2).productNumber, 81);
  EXPECT_EQ(out.row(3).productNumber, 206);

  products = positioned(73, 137);  // 10001 sequences of 2 logs
  Output given;
  EXPECT_EQ(optimised(tree, stumpAt(0.5), products, given), 99.0);
  expectCleared(products, given);

  // A final generation is not given up however many sequences it leaves:
  // the long log X ends generation 2, whose other 73 x 137 sequences score
  // less than it.
  products = positioned(73, 137);
  products.insert(products.begin(), fixedLength(8, 10, 1));
  for (ProductSpec &p : products)
    if (p.logPosition == 2) p.minBaseDiam = 20;  // X ends at 8.5 m, 17.25 cm
  ASSERT_EQ(optimised(tree, stumpAt(0.5), products, out), 1.0);
  EXPECT_EQ(out.logs(), 1);
  EXPECT_EQ(out.row(1).productNumber, 1);
}

TEST(OptimisedBucking, AgreesWithAReferenceSearchOnSmallTables) {
  std::mt19937_64 rng(77);
  auto uni = [&](double lo, double hi) { return std::uniform_real_distribution<>(lo, hi)(rng); };
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  int winners = 0;
  for (int round = 0; round < 40; ++round) {
    const double a = uni(0.4, 0.9);
    const Tree tree{uni(20, 45),
                    uni(14, 24),
                    {1.2, -1.2 * a, -1.2 * (1 - a)},
                    {0, uni(0.8, 1.3), uni(2, 4)},
                    2};
    CallArgs args = stumpAt(uni(0.2, 0.5));
    args.stumpTrim = pick(2) ? 0 : 0.1;
    args.heightLimit = uni(4, 15);
    args.objective = pick(5) ? pick(2) : 2;
    std::vector<ProductSpec> products;
    for (int i = 0, n = 2 + pick(2); i < n; ++i) {
      const double minLength = uni(2.5, 5);
      ProductSpec p = product(uni(8, 25), minLength, minLength + pick(3), pick(4), pick(4),
                              pick(3) ? 0 : 1 + pick(3));
      p.trimLength = pick(2) ? 0 : 0.1;
      p.lossFraction = pick(2) ? 0 : 0.1;
      p.heightRule = static_cast<int16_t>(pick(5) ? 0 : 1);
      products.push_back(p);
      if (!pick(4)) products.push_back(p);  // twins make equal scores
    }

    Output out;
    tally_start();
    const double result = optimised(tree, args, products, out);
    const long volumes = tally_count(2), diameters = tally_count(3), searches = tally_count(4);

    Node seed;
    seed.cut = args.stumpHeight + args.stumpTrim;
    seed.cutDiam = tree.d(seed.cut);
    grow(seed, tree, args, products);
    std::vector<std::vector<const Node *>> levels;
    collect(seed, levels);
    const bool scored = args.objective == 0 || args.objective == 1;
    auto score = [&](const Node &n) { return args.objective == 0 ? n.value : n.volume; };
    double best = -999;
    const Node *winner = nullptr;
    long built = 0, topTests = 0, searchDiameters = 0;
    for (size_t g = 1; g <= levels.size(); ++g) {
      bool extended = false, final = false;
      for (const Node *s : levels[g - 1]) {
        topTests += s->topTests;
        built += static_cast<long>(s->searched.size());
        for (int j : s->searched)
          searchDiameters += diameterCallsOfSearch(tree, products[j].minTopDiam);
        for (const Node &c : s->children) {
          extended = true;
          if (scored && score(c) > best) best = score(c), winner = &c;
        }
        if (s->children.empty() && g > 1 && scored && score(*s) == best) final = true;
      }
      if (final || !extended) break;
    }
    ASSERT_EQ(result, winner ? 1.0 : 0.0) << "round " << round;
    // Search: per pair reaching the top test 2 diameters; per candidate one
    // height search, one diameter and one volume; the seed's diameter.
    long expectVolumes = built, expectSearches = built;
    long expectDiameters = 1 + 2 * topTests + built + searchDiameters;
    if (winner) {
      ++winners;
      const int n = static_cast<int>(winner->products.size());
      ASSERT_EQ(out.logs(), n) << "round " << round;
      for (int k = 1; k <= n; ++k) {
        EXPECT_EQ(out.row(k).productNumber, winner->products[k - 1]);
        EXPECT_EQ(out.row(k).length, winner->lengths[k - 1]);
      }
      expectTableInvariants(products, out, seed.cut);
      double m = 999;
      for (const ProductSpec &p : products) m = std::fmin(m, p.minTopDiam);
      // Stump row, 2 per row, stump trim, leftover or top, the tip, stem;
      // with product volume the leftover and the tip search m.
      const bool volume = out.totals[kProduct] > 0;
      expectVolumes += 1 + 2 * n + (args.stumpTrim > 0) + 1 + volume + 1;
      expectSearches += 2 * volume;
      expectDiameters += 3 + 3 * n + 2 * volume * diameterCallsOfSearch(tree, m);
    } else {
      expectCleared(products, out);
    }
    EXPECT_EQ(volumes, expectVolumes) << "round " << round;
    EXPECT_EQ(searches, expectSearches) << "round " << round;
    EXPECT_EQ(diameters, expectDiameters) << "round " << round;
  }
  EXPECT_GT(winners, 15);
}

}  // namespace
