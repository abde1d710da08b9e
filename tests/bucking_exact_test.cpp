// The exact optimiser against the whole tree of admissible sequences, and
// against the breadth-first search where that search runs to the end.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "bucking_support.h"

namespace {

using namespace bucking_test;

struct RandomCase {
  Tree tree;
  CallArgs args;
  std::vector<ProductSpec> products;
};

// Small stems and tables whose whole tree can be grown, with twins (equal
// scores), trims, losses, position and height rules.
RandomCase randomCase(std::mt19937_64 &rng, int minProducts, int maxExtra) {
  auto uni = [&](double lo, double hi) { return std::uniform_real_distribution<>(lo, hi)(rng); };
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const double a = uni(0.4, 0.9);
  RandomCase c{
      {uni(20, 45), uni(14, 24), {1.2, -1.2 * a, -1.2 * (1 - a)}, {0, uni(0.8, 1.3), uni(2, 4)}, 2},
      stumpAt(uni(0.2, 0.5)),
      {}};
  c.args.stumpTrim = pick(2) ? 0 : 0.1;
  c.args.heightLimit = uni(4, 15);
  c.args.objective = pick(2);
  for (int i = 0, n = minProducts + pick(maxExtra + 1); i < n; ++i) {
    // Lengths on a half-metre grid, so different sequences reach the same cut.
    const double minLength = 2 + 0.5 * pick(5);
    ProductSpec p = product(uni(8, 25), minLength, minLength + 0.5 * pick(4), pick(4), pick(4),
                            pick(4) ? 0 : 1 + pick(3));
    p.trimLength = pick(2) ? 0 : 0.1;
    p.lossFraction = pick(2) ? 0 : 0.1;
    p.heightRule = static_cast<int16_t>(pick(5) ? 0 : 1);
    c.products.push_back(p);
    if (!pick(4)) c.products.push_back(p);  // twins make equal scores
  }
  return c;
}

// The best node over the whole tree: highest score above -999, ties to the
// one built first (fewer logs, then product numbers in order).
const Node *bestOfTree(const Node &seed, int objective) {
  std::vector<std::vector<const Node *>> levels;
  collect(seed, levels);
  double best = -999;
  const Node *winner = nullptr;
  for (size_t g = 1; g < levels.size(); ++g) {
    for (const Node *n : levels[g]) {
      const double s = objective == 0 ? n->value : n->volume;
      if (s > best) best = s, winner = n;
    }
  }
  return winner;
}

TEST(ExactBucking, FindsTheBestSequenceOfTheWholeTree) {
  std::mt19937_64 rng(2024);
  int winners = 0, multiLog = 0;
  for (int round = 0; round < 120; ++round) {
    RandomCase c = randomCase(rng, 2, 2);
    Output out;
    const double result = optimised(c.tree, c.args, c.products, out, &PHVxDll);

    Node seed;
    seed.cut = c.args.stumpHeight + c.args.stumpTrim;
    seed.cutDiam = c.tree.d(seed.cut);
    grow(seed, c.tree, c.args, c.products);
    const Node *winner = bestOfTree(seed, c.args.objective);
    ASSERT_EQ(result, winner ? 1.0 : 0.0) << "round " << round;
    if (!winner) {
      expectCleared(c.products, out);
      continue;
    }
    ++winners;
    const int n = static_cast<int>(winner->products.size());
    multiLog += n > 1;
    ASSERT_EQ(out.logs(), n) << "round " << round;
    for (int k = 1; k <= n; ++k) {
      EXPECT_EQ(out.row(k).productNumber, winner->products[k - 1]) << "round " << round;
      EXPECT_EQ(out.row(k).length, winner->lengths[k - 1]) << "round " << round;
    }
    expectTableInvariants(c.products, out, seed.cut);
    EXPECT_EQ(c.args.objective == 0 ? out.totals[kValue] : out.totals[kProduct],
              c.args.objective == 0 ? winner->value : winner->volume);
  }
  EXPECT_GT(winners, 80);
  EXPECT_GT(multiLog, 40);
}

TEST(ExactBucking, MatchesTheBreadthFirstSearchWhereItRunsToTheEnd) {
  // Where the breadth-first search neither gives up nor stops on its final
  // generation rule, it has seen every sequence: both must write the same bytes.
  std::mt19937_64 rng(99);
  int compared = 0;
  for (int round = 0; round < 120; ++round) {
    RandomCase c = randomCase(rng, 2, 2);
    Node seed;
    seed.cut = c.args.stumpHeight + c.args.stumpTrim;
    seed.cutDiam = c.tree.d(seed.cut);
    grow(seed, c.tree, c.args, c.products);
    std::vector<std::vector<const Node *>> levels;
    collect(seed, levels);
    // Replay the generations to see whether a final generation cut the search short.
    double best = -999;
    bool cutShort = false;
    for (size_t g = 1; g <= levels.size() && !cutShort; ++g) {
      bool final = false, extended = false;
      for (const Node *s : levels[g - 1]) {
        for (const Node &ch : s->children) {
          extended = true;
          const double sc = c.args.objective == 0 ? ch.value : ch.volume;
          if (sc > best) best = sc;
        }
        const double own = c.args.objective == 0 ? s->value : s->volume;
        if (s->children.empty() && g > 1 && own == best) final = true;
      }
      if (final && g < levels.size() && !levels[g].empty()) {
        // Sequences of this generation exist that the search will not extend.
        for (const Node *s : levels[g]) cutShort = cutShort || !s->children.empty();
      }
      if (final || !extended) break;
    }
    std::vector<ProductSpec> again = c.products;
    Output bfs, exact;
    const double r1 = optimised(c.tree, c.args, c.products, bfs);
    const double r2 = optimised(c.tree, c.args, again, exact, &PHVxDll);
    if (r1 != 1.0 || cutShort) continue;
    ++compared;
    ASSERT_EQ(r2, 1.0) << "round " << round;
    expectSameOutput(c.products, bfs, again, exact);
  }
  EXPECT_GT(compared, 60);
}

TEST(ExactBucking, NeverScoresBelowTheBreadthFirstSearch) {
  std::mt19937_64 rng(7);
  int strictlyBetter = 0, compared = 0;
  for (int round = 0; round < 60; ++round) {
    RandomCase c = randomCase(rng, 3, 3);
    std::vector<ProductSpec> again = c.products;
    Output bfs, exact;
    const double r1 = optimised(c.tree, c.args, c.products, bfs);
    const double r2 = optimised(c.tree, c.args, again, exact, &PHVxDll);
    if (r1 == 0.0) {
      EXPECT_EQ(r2, 0.0) << "no first log for one means none for the other";
      continue;
    }
    ASSERT_EQ(r2, 1.0) << "round " << round;
    if (r1 != 1.0) continue;
    ++compared;
    const int i = c.args.objective == 0 ? kValue : kProduct;
    EXPECT_GE(exact.totals[i], bfs.totals[i]) << "round " << round;
    strictlyBetter += exact.totals[i] > bfs.totals[i];
  }
  EXPECT_GT(compared, 30);
  std::printf("exact optimiser strictly better on %d of %d tables\n", strictlyBetter, compared);
}

// Ties are broken as the breadth-first search breaks them: of sequences with
// equal scores the one built first wins, i.e. the one with fewer logs, then
// the one with the lower product number at the first log where they differ.
// Priced per log, scores are sums of whole numbers and tie exactly; and the
// lengths (2 and 4 m from 0.5 m) reach the same cut heights in any order,
// so the optimiser merges tied states there as well as comparing winners.
TEST(ExactBucking, OfEqualScoresTheSequenceBuiltFirstWins) {
  const Tree tree = cone(40, 20);  // 8 cm at 16 m: 15.5 m of stem above the stump
  const CallArgs args = stumpAt(0.5);
  struct Case {
    const char *what;
    std::vector<ProductSpec> products;
    std::vector<int> winner;  // product numbers from the stump up
  };
  const Case cases[] = {
      // 10 per metre either way: 14 m in four logs is the fewest logs to the
      // best value, and [1 2 2 2] comes first of the four orders of 2+4+4+4.
      {"two lengths", {product(8, 2, 2, 20, 2), product(8, 4, 4, 40, 2)}, {1, 2, 2, 2}},
      {"reversed table", {product(8, 4, 4, 40, 2), product(8, 2, 2, 20, 2)}, {1, 1, 1, 2}},
      // Twins: every sequence of one length ties; only product 1 is built first.
      {"twins", {product(8, 4, 4, 40, 2), product(8, 4, 4, 40, 2)}, {1, 1, 1}},
      // Logs of no value add nothing to the score: the shorter sequence wins.
      {"worthless logs",
       {product(8, 4, 4, 40, 2), product(1, 0.5, 0.5, 0, 2), product(8, 4, 4, 40, 2)},
       {1, 1, 1}},
      // Logs of 1, 3 and 2 m worth 1, 1 and 2 up to 5.55 m: the state 4 m up
      // is reached first by [1 2] and then, scoring higher, by [3 3], which
      // replaces it; so at 5 m up [3 3 1] arrives before [1 3 3], although
      // built after it. Both score 5, the best: [1 3 3] must win, not the
      // first to arrive.
      {"tie after a replaced state",
       {product(28.9, 1, 1, 1, 2), product(28.9, 3, 3, 1, 2), product(28.9, 2, 2, 2, 2)},
       {1, 3, 3}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<ProductSpec> products = c.products, again = c.products;
    Output exact, bfs;
    ASSERT_EQ(optimised(tree, args, products, exact, &PHVxDll), 1.0);
    ASSERT_EQ(exact.logs(), static_cast<int>(c.winner.size()));
    for (int k = 1; k <= exact.logs(); ++k) EXPECT_EQ(exact.row(k).productNumber, c.winner[k - 1]);
    // The breadth-first search sees all these sequences and agrees, byte for byte.
    ASSERT_EQ(optimised(tree, args, again, bfs), 1.0);
    expectSameOutput(again, bfs, products, exact);
  }
}

TEST(ExactBucking, AnswersWhereTheBreadthFirstSearchGivesUp) {
  // Short logs of many products on a tall stem: far more than 10000
  // sequences per generation, but few distinct cut heights.
  const Tree tree{40, 30, {1.2, -0.84, -0.36}, {0, 1, 3}, 2};
  CallArgs args = stumpAt(0.3);
  std::vector<ProductSpec> products;
  for (int i = 0; i < 10; ++i) {
    ProductSpec p = product(6 + i, 2 + 0.5 * (i % 4), 2 + 0.5 * (i % 4), 10 + i, 0);
    products.push_back(p);
  }
  std::vector<ProductSpec> again = products;
  Output bfs, exact;
  ASSERT_EQ(optimised(tree, args, products, bfs), 99.0);
  expectCleared(products, bfs);
  ASSERT_EQ(optimised(tree, args, again, exact, &PHVxDll), 1.0);
  EXPECT_GT(exact.logs(), 3);
  expectTableInvariants(again, exact, args.stumpHeight);
  EXPECT_GT(exact.totals[kValue], 0);
}

TEST(ExactBucking, EqualScoresOfDifferentCutsGoToTheSequenceBuiltFirst) {
  // Priced per log: A (5 m) 10, B (2 m, first log only) 5, C (2 m with a
  // 10 cm trim, second log only) 5. Below an 8 m bound the best pairs are
  // A,C and B,A, both 15, ending at different cuts (7.4 and 7.3 m). A,C is
  // built first: it differs from B,A at log 1, where A comes before B,
  // although at log 2 C comes after A.
  const Tree tree = cone(40, 30);
  CallArgs args = stumpAt(0.3);
  args.topHeightLimit = 8;
  std::vector<ProductSpec> products{product(1, 5, 5, 10, 2), product(1, 2, 2, 5, 2, 1),
                                    product(1, 2, 2, 5, 2, 2)};
  products[2].trimLength = 0.1;
  std::vector<ProductSpec> again = products;
  Output exact, bfs;
  ASSERT_EQ(optimised(tree, args, products, exact, &PHVxDll), 1.0);
  ASSERT_EQ(exact.logs(), 2);
  EXPECT_EQ(exact.row(1).productNumber, 1);
  EXPECT_EQ(exact.row(2).productNumber, 3);
  EXPECT_EQ(exact.totals[kValue], 15.0);
  // The breadth-first search sees every sequence here, and builds A,C first.
  ASSERT_EQ(optimised(tree, args, again, bfs), 1.0);
  expectSameOutput(products, exact, again, bfs);
}

TEST(ExactBucking, ObjectiveOtherThanValueOrVolumeHasNoWinner) {
  const Tree tree = cone(30, 20);
  CallArgs args = stumpAt(0.5);
  args.objective = 2;
  std::vector<ProductSpec> products{product(10, 3, 3, 5, 2)};
  Output out;
  EXPECT_EQ(optimised(tree, args, products, out, &PHVxDll), 0.0);
  expectCleared(products, out);
  args.objective = 65537;  // reads as 1
  EXPECT_EQ(optimised(tree, args, products, out, &PHVxDll), 1.0);
}

TEST(ExactBucking, CountsInItsOwnSlotBesideTheOthers) {
  const Tree tree = cone(30, 20);
  std::vector<ProductSpec> products{product(10, 3, 3, 5, 2)};
  Output out;
  ASSERT_EQ(tally_start(), 0);
  EXPECT_EQ(tally_status(8), -1);
  optimised(tree, stumpAt(0.5), products, out, &PHVxDll);
  EXPECT_EQ(tally_count(8), 1);
  EXPECT_EQ(tally_count(0), 0) << "not counted as the breadth-first search";
  EXPECT_GT(tally_count(3), 0) << "its taper calls are counted";
  EXPECT_EQ(tally_stop(), -2);
  EXPECT_EQ(tally_status(8), -2);
  optimised(tree, stumpAt(0.5), products, out, &PHVxDll);
  EXPECT_EQ(tally_count(8), 1);
  tally_start();
  EXPECT_EQ(tally_count(8), 0);
}

}  // namespace
