// The evaluation cache of the bucking exports must be invisible: on random
// models, tables and arguments (NaN, infinities and 16-bit edge values
// among them) the cached path, the direct path, a cache of one entry, a
// cache held to a few kilobytes and a cache whose memory cannot be had give
// byte-identical tables and totals and identical counters after every call;
// so do searches whose log ends fall on thousands of heights, whichever of
// the cache's allocations fails. The cache holds every height a call asks
// about up to its memory bound, and past it keeps the heights asked about
// most. Also: the prepared closed form gives the very doubles of the
// term-by-term integral, and the core's height search reports its rounds
// and value.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <random>
#include <vector>

#include "bucking_support.h"
#include "fault_injection.h"
#include "taper/evaluation.h"
#include "taper/profile.h"

using namespace bucking_test;
using xylotrak::taper::ClosedForm;
using xylotrak::taper::Model;

namespace {

// The cache takes its memory with the nothrow operator new, which nothing
// else in these tests uses. While a ledger is open, the replacements below
// note each such block until it is freed, so that the memory the cache
// really held at once is measured apart from what it counts itself.
struct NothrowLedger {
  bool open = false;
  void *blocks[32] = {};
  std::size_t sizes[32] = {};
  std::size_t held = 0;
  std::size_t peak = 0;
  bool overflow = false;

  void note(void *p, std::size_t n) {
    for (int i = 0; i < 32; ++i) {
      if (blocks[i] != nullptr) continue;
      blocks[i] = p;
      sizes[i] = n;
      held += n;
      if (held > peak) peak = held;
      return;
    }
    overflow = true;
  }
  void forget(void *p) {
    for (int i = 0; i < 32; ++i) {
      if (blocks[i] != p) continue;
      blocks[i] = nullptr;
      held -= sizes[i];
      return;
    }
  }
} g_ledger;

// Opens the ledger for its lifetime.
class MeasuredCache {
 public:
  MeasuredCache() { g_ledger = NothrowLedger{true}; }
  ~MeasuredCache() { g_ledger.open = false; }
  std::size_t peak() const { return g_ledger.peak; }
  bool allFreed() const { return g_ledger.held == 0 && !g_ledger.overflow; }
};

}  // namespace

// The plain operator new is replaced too, so that every block these
// replacements free came from malloc (as AddressSanitizer checks).
void *operator new(std::size_t n) {
  void *p = std::malloc(n == 0 ? 1 : n);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void *operator new(std::size_t n, const std::nothrow_t &) noexcept {
  void *p = std::malloc(n == 0 ? 1 : n);
  if (p != nullptr && g_ledger.open) g_ledger.note(p, n);
  return p;
}
void operator delete(void *p) noexcept {
  if (g_ledger.open) g_ledger.forget(p);
  std::free(p);
}
void operator delete(void *p, std::size_t) noexcept {
  if (g_ledger.open) g_ledger.forget(p);
  std::free(p);
}

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kCalls = 600;  // the instrumented build is many times slower
#else
constexpr int kCalls = 1200;
#endif

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Random inputs with the awkward values mixed in now and then.
class Draw {
 public:
  explicit Draw(unsigned seed) : rng_(seed) {}
  double uniform(double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(rng_);
  }
  int integer(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  bool chance(double p) { return std::bernoulli_distribution(p)(rng_); }
  double edgy(double lo, double hi, double p = 0.03) {
    if (!chance(p)) return uniform(lo, hi);
    // The NaN with every bit set is the pattern the cache keeps for a free
    // slot: it must still be evaluated like any other argument.
    const std::uint64_t allOnes = ~std::uint64_t{0};
    double allOnesNaN;
    std::memcpy(&allOnesNaN, &allOnes, sizeof allOnesNaN);
    const double edges[] = {kNaN, kInf, -kInf, 0.0, -0.0, 999, -1, 1e300, allOnesNaN};
    return edges[integer(0, 8)];
  }
  // A 16-bit count or code as a host may pass it: mostly plain, sometimes
  // with high bits set that must be ignored.
  int code16(int lo, int hi) {
    const int v = integer(lo, hi);
    return chance(0.1) ? v + 65536 * integer(-3, 3) : v;
  }

 private:
  std::mt19937_64 rng_;
};

Tree randomTree(Draw &d) {
  Tree t;
  t.dbh = d.edgy(5, 80);
  t.height = d.edgy(4, 30);
  const int n = d.integer(0, 6);
  t.coefs.resize(static_cast<size_t>(n) + 1);
  t.exps.resize(static_cast<size_t>(n) + 1);
  // A profile from about 1.2 at the ground down to about 0 at the tip.
  t.coefs[0] = d.edgy(0.9, 1.3, 0.01);
  t.exps[0] = d.chance(0.05) ? d.uniform(0, 2) : 0;
  double rest = t.coefs[0];
  for (int k = 1; k <= n; ++k) {
    t.exps[k] = d.chance(0.5) ? d.integer(1, 6) : d.edgy(0.2, 8, 0.01);
    t.coefs[k] = k == n ? -rest : d.edgy(-1, 1, 0.01);
    rest += t.coefs[k];
  }
  t.terms = d.chance(0.05) ? d.code16(-1, n) : n;
  if (d.chance(0.02)) t.terms = 65536 * d.integer(-2, 2) + n;  // low bits are n
  return t;
}

ProductSpec randomProduct(Draw &d) {
  ProductSpec p = product(d.edgy(0, 35), d.edgy(1.5, 6), d.edgy(2, 8), d.edgy(0, 200),
                          d.code16(0, 3), d.chance(0.8) ? 0 : d.code16(0, 4));
  p.maxTopDiam = d.chance(0.8) ? 999 : d.edgy(10, 60);
  p.minBaseDiam = d.chance(0.8) ? 0 : d.edgy(0, 40);
  p.maxBaseDiam = d.chance(0.8) ? 999 : d.edgy(20, 90);
  p.heightRule = static_cast<int16_t>(d.chance(0.8) ? 0 : d.integer(0, 2));
  p.lossFraction = d.chance(0.7) ? 0 : d.edgy(0, 1);
  p.trimLength = d.chance(0.5) ? 0 : d.edgy(0, 0.3);
  if (p.maxLength < p.minLength && d.chance(0.8)) p.maxLength = p.minLength;
  return p;
}

CallArgs randomArgs(Draw &d) {
  CallArgs a;
  a.startHeight = d.chance(0.8) ? 0 : d.edgy(0, 5);
  a.topHeightLimit = d.chance(0.7) ? 999 : d.edgy(0, 30);
  a.stumpHeight = d.edgy(0, 1);
  a.stumpTrim = d.chance(0.7) ? 0 : d.edgy(0, 0.5);
  a.heightLimit = d.chance(0.7) ? 999 : d.edgy(0, 30);
  a.objective = d.chance(0.9) ? d.integer(0, 1) : d.code16(-1, 3);
  return a;
}

using Export = Bucking;

struct Answer {
  double result = 0;
  std::vector<ProductSpec> products;
  Output out;
  int counts[9] = {};
};

Answer call(Export which, const Tree &t, const CallArgs &a, const std::vector<ProductSpec> &table,
            int productCount) {
  Answer r;
  r.products = table;
  tally_start();
  r.result = xylotrak::support::buck(which, t.args(), a, r.products.data(), productCount,
                                     r.out.totals.data(), r.out.rows.data());
  for (int s = 0; s < 9; ++s) r.counts[s] = tally_count(s);
  return r;
}

void expectSame(const Answer &expected, const Answer &actual, const char *what) {
  SCOPED_TRACE(what);
  EXPECT_TRUE(sameBits(expected.result, actual.result));
  expectSameOutput(expected.products, expected.out, actual.products, actual.out);
  for (int s = 0; s < 9; ++s) EXPECT_EQ(expected.counts[s], actual.counts[s]) << "slot " << s;
}

class CacheModes : public ::testing::Test {
 protected:
  void TearDown() override {
    xylotrak::taper::setCacheEntriesForTesting(-1);
    xylotrak::taper::setCacheBytesForTesting(-1);
    xylotrak::fault::failAllocationAt(0);
  }
};

// Memory bounds for the cache: too little for its first tables (so no cache
// at all), room for its first tables only, and room for a few doublings.
constexpr long kSqueezes[] = {1024, 6 * 1024, 12 * 1024, 48 * 1024};

TEST_F(CacheModes, BuckingsAnswerAndCountTheSameWithAndWithoutTheCache) {
  Draw d(20261208);
  int winners = 0, cacheFailures = 0;
  for (int i = 0; i < kCalls; ++i) {
    const Export which = static_cast<Export>(i % 3);
    const Tree tree = randomTree(d);
    const CallArgs args = randomArgs(d);
    std::vector<ProductSpec> table(static_cast<size_t>(d.integer(1, 3)));
    for (ProductSpec &p : table) p = randomProduct(d);
    const int count = d.chance(0.05) ? d.code16(-1, static_cast<int>(table.size()))
                                     : static_cast<int>(table.size());
    SCOPED_TRACE("call " + std::to_string(i));

    xylotrak::taper::setCacheEntriesForTesting(0);
    const Answer direct = call(which, tree, args, table, count);
    xylotrak::taper::setCacheEntriesForTesting(-1);
    expectSame(direct, call(which, tree, args, table, count), "cached");
    xylotrak::taper::setCacheEntriesForTesting(1 + i % 3);
    expectSame(direct, call(which, tree, args, table, count), "tiny cache");
    xylotrak::taper::setCacheEntriesForTesting(-1);
    xylotrak::taper::setCacheBytesForTesting(kSqueezes[i % 4]);
    expectSame(direct, call(which, tree, args, table, count), "cache at its memory bound");
    xylotrak::taper::setCacheBytesForTesting(-1);

    // One of the cache's allocations fails: the call goes on without it.
    xylotrak::fault::failAllocationAt(1 + i % 4);
    const Answer starved = call(which, tree, args, table, count);
    const bool cacheFailed = xylotrak::fault::optionalAllocationFailed();
    const bool failed = xylotrak::fault::allocationsChecked() >= 1 + i % 4;
    xylotrak::fault::failAllocationAt(0);
    if (cacheFailed) {
      expectSame(direct, starved, "cache allocation failed");
      ++cacheFailures;
    } else if (!failed) {
      expectSame(direct, starved, "no allocation failed");
    }  // else the search's own memory failed: covered by the allocation tests
    if (direct.result == 1.0) ++winners;
    if (HasFailure()) return;  // one reported call is enough to go on
  }
  // The draws must reach real buckings and the cache's failure path.
  EXPECT_GT(winners, kCalls / 10);
  EXPECT_GT(cacheFailures, kCalls / 10);
}

TEST_F(CacheModes, BenchmarkCasesAnswerTheSameWithAndWithoutTheCache) {
  // The shapes the cache was built for: many logs, long chains, searches
  // near their limit; a 99-log chain of 0.3 m logs fills the table.
  const Tree tree{35, 30, {1.15, -0.6, 0.9, -1.6, 0.8, -0.65}, {0, 0.5, 1, 2, 3, 5}, 5};
  std::vector<std::vector<ProductSpec>> tables;
  tables.push_back({product(30, 4, 6, 180), product(20, 3, 5, 95), product(12, 3, 5, 60),
                    product(7, 2, 3, 8, 1)});
  tables.push_back({product(2, 0.3, 0.3, 1, 2)});
  std::vector<ProductSpec> eight;
  for (int i = 0; i < 8; ++i) eight.push_back(product(8, 2 + 0.3 * i, 2 + 0.3 * i, 50 + i));
  tables.push_back(eight);
  for (const auto &table : tables) {
    for (Export which : {Export::kSequential, Export::kOptimised, Export::kExact}) {
      CallArgs args;
      xylotrak::taper::setCacheEntriesForTesting(0);
      const Answer direct = call(which, tree, args, table, static_cast<int>(table.size()));
      xylotrak::taper::setCacheEntriesForTesting(-1);
      expectSame(direct, call(which, tree, args, table, static_cast<int>(table.size())), "cached");
      xylotrak::taper::setCacheEntriesForTesting(2);
      expectSame(direct, call(which, tree, args, table, static_cast<int>(table.size())),
                 "tiny cache");
    }
  }
}

// The profile of the benchmarks' stem and their products: fixed lengths
// from 1.1 m in fine steps, 5% loss and a 10 cm trim.
Tree benchStem(double dbh, double height) {
  return {dbh, height, {1.15, -0.6, 0.9, -1.6, 0.8, -0.65}, {0, 0.5, 1, 2, 3, 5}, 5};
}
std::vector<ProductSpec> fineLengths(int n, double step) {
  std::vector<ProductSpec> table;
  for (int i = 0; i < n; ++i) {
    ProductSpec p = product(8, 1.1 + step * i, 1.1 + step * i, 40 + 0.4 * i);
    p.lossFraction = 0.05;
    p.trimLength = 0.1;
    table.push_back(p);
  }
  return table;
}

TEST_F(CacheModes, SearchesOverThousandsOfHeightsAnswerTheSameAtTheMemoryBound) {
  // Fine fixed lengths (thousands of distinct log ends) on a stem short
  // enough for the direct path to stay quick, and six ranges of lengths.
  CallArgs args;
  args.stumpTrim = 0.1;
  struct Shape {
    Tree tree;
    std::vector<ProductSpec> table;
  };
  std::vector<ProductSpec> ranges = {product(30, 3.0, 5.2, 180),  product(22, 2.8, 4.6, 110),
                                     product(16, 2.5, 4.0, 75),   product(11, 2.2, 3.4, 45),
                                     product(8, 1.9, 2.8, 12, 1), product(5, 1.2, 1.7, 6, 1)};
  for (ProductSpec &p : ranges) p.trimLength = 0.1;
  const Shape shapes[] = {{benchStem(30, 14), fineLengths(50, 0.03)}, {benchStem(35, 31), ranges}};
  for (const Shape &shape : shapes) {
    const int count = static_cast<int>(shape.table.size());
    for (Export which : {Export::kExact, Export::kOptimised}) {
      SCOPED_TRACE(count);
      xylotrak::taper::setCacheEntriesForTesting(0);
      const Answer direct = call(which, shape.tree, args, shape.table, count);
      const std::uint64_t everyTime = xylotrak::taper::lastEvaluationWorkForTesting().diameters;
      xylotrak::taper::setCacheEntriesForTesting(-1);
      expectSame(direct, call(which, shape.tree, args, shape.table, count), "cached");
      const auto whole = xylotrak::taper::lastEvaluationWorkForTesting();
      EXPECT_LT(whole.diameters, everyTime);
      for (long bytes : {24L * 1024, 96L * 1024}) {
        xylotrak::taper::setCacheBytesForTesting(bytes);
        std::size_t heldAtOnce = 0;
        {
          const MeasuredCache measured;
          const Answer atBound = call(which, shape.tree, args, shape.table, count);
          heldAtOnce = measured.peak();
          EXPECT_TRUE(measured.allFreed());
          expectSame(direct, atBound, "cache at its memory bound");
        }
        const auto squeezed = xylotrak::taper::lastEvaluationWorkForTesting();
        EXPECT_EQ(heldAtOnce, squeezed.peakBytes);
        EXPECT_LE(heldAtOnce, static_cast<std::size_t>(bytes));
        // More heights than a table within the bound has slots (a slot
        // takes more than 16 bytes, and a height asked for both its
        // diameter and an integral is counted twice): some are worked out
        // again.
        if (whole.diameters + whole.integrals > static_cast<std::uint64_t>(bytes) / 16) {
          EXPECT_GT(squeezed.diameters + squeezed.integrals, whole.diameters + whole.integrals);
        }
      }
      xylotrak::taper::setCacheBytesForTesting(-1);
      xylotrak::taper::setCacheEntriesForTesting(1);
      expectSame(direct, call(which, shape.tree, args, shape.table, count), "tiny cache");
      xylotrak::taper::setCacheEntriesForTesting(-1);
      if (HasFailure()) return;
    }
  }
}

TEST_F(CacheModes, EveryFailedAllocationOfTheCacheInALargeSearchChangesNothing) {
  // Twenty fixed lengths: the cache's tables double several times during
  // the search, interleaved with the search's own allocations. Each
  // allocation in turn is made to fail; when it was the cache's (the cache
  // itself, a first table or a larger one), the answer must be the
  // undisturbed one.
  const Tree tree = benchStem(30, 16);
  const std::vector<ProductSpec> table = fineLengths(20, 0.05);
  CallArgs args;
  args.stumpTrim = 0.1;
  const Answer undisturbed = call(Export::kExact, tree, args, table, 20);
  ASSERT_EQ(undisturbed.result, 1.0);
  int cacheFailures = 0, searchFailures = 0;
  for (long k = 1;; ++k) {
    ASSERT_LT(k, 10000) << "the search never completed";
    xylotrak::fault::failAllocationAt(k);
    const Answer starved = call(Export::kExact, tree, args, table, 20);
    const bool failed = xylotrak::fault::allocationsChecked() >= k;
    const bool cacheFailed = xylotrak::fault::optionalAllocationFailed();
    xylotrak::fault::failAllocationAt(0);
    if (!failed) break;
    if (cacheFailed) {
      SCOPED_TRACE("allocation " + std::to_string(k));
      expectSame(undisturbed, starved, "cache allocation failed");
      ++cacheFailures;
    } else {
      EXPECT_EQ(starved.result, 99.0) << "allocation " << k;
      ++searchFailures;
    }
    if (HasFailure()) return;
  }
  // The object, the two first tables, and tables that doubled later on.
  EXPECT_GE(cacheFailures, 6);
  EXPECT_GE(searchFailures, 10);
}

// An evaluator of the benchmarks' stem asked directly, its cache as the
// hooks leave it.
class EvaluatorCache : public CacheModes {
 protected:
  const Tree tree = benchStem(35, 31);
  const Model model{tree.dbh, tree.height, tree.coefs.data(), tree.exps.data(), tree.terms};
};

TEST_F(EvaluatorCache, HoldsEveryHeightOfACallUpToItsBound) {
  // 60000 distinct heights, each asked for its diameter and, in pairs, for
  // the volume between: the second pass is answered from memory alone.
  constexpr int kHeights = 60000;
  std::uint64_t tallied = 0;
  const MeasuredCache measured;
  {
    xylotrak::taper::Evaluator stem(model, xylotrak::taper::Memory::kCached);
    for (int pass = 0; pass < 2; ++pass) {
      double sum = 0;
      for (int i = 0; i < kHeights; ++i) sum += stem.diameter(30.0 * i / kHeights);
      for (int i = 1; i < kHeights; i += 2)
        sum += stem.between(30.0 * (i - 1) / kHeights, 30.0 * i / kHeights);
      EXPECT_GT(sum, 0);
      EXPECT_EQ(stem.work().diameters, static_cast<std::uint64_t>(kHeights)) << "pass " << pass;
      EXPECT_EQ(stem.work().integrals, static_cast<std::uint64_t>(kHeights)) << "pass " << pass;
    }
    tallied = stem.tally().diameter;
  }
  EXPECT_EQ(tallied, 2u * kHeights);  // what direct evaluation would have counted
  const auto work = xylotrak::taper::lastEvaluationWorkForTesting();
  EXPECT_GT(work.peakBytes, static_cast<std::size_t>(kHeights) * 24);
  EXPECT_EQ(measured.peak(), work.peakBytes);
  EXPECT_LE(measured.peak(), xylotrak::taper::Evaluator::kCacheBytes);
  EXPECT_TRUE(measured.allFreed());
}

TEST_F(EvaluatorCache, KeepsTheHeightsAskedMostWhenFull) {
  // A table of 64 slots, filled with heights asked once. Then 50 rounds of
  // eight heights asked every round among eight new ones: a full table must
  // make room for the eight in use and keep them, not go on answering only
  // what it was first filled with.
  xylotrak::taper::setCacheEntriesForTesting(64);
  xylotrak::taper::Evaluator stem(model, xylotrak::taper::Memory::kCached);
  double sum = 0;
  for (int i = 0; i < 1000; ++i) sum += stem.diameter(0.01 * i);
  const std::uint64_t before = stem.work().diameters;
  EXPECT_EQ(before, 1000u);
  int fresh = 0;
  for (int round = 0; round < 50; ++round) {
    for (int k = 0; k < 8; ++k) sum += stem.diameter(20.5 + 0.125 * k);  // in use
    for (int k = 0; k < 8; ++k) sum += stem.diameter(10.003 + 0.001 * fresh++);
  }
  EXPECT_GT(sum, 0);
  const std::uint64_t inUseWorkedOut = stem.work().diameters - before - 400;
  EXPECT_LE(inUseWorkedOut, 12u) << "of 400 asks for the heights in use";
  EXPECT_EQ(stem.tally().diameter, 1800u);
}

TEST(ClosedForm, PreparedIntegralGivesTheSameDoubles) {
  Draw d(7);
  int compared = 0;
  for (int i = 0; i < 4000; ++i) {
    const int n = d.integer(0, ClosedForm::kMaxTerms);
    std::vector<double> c(static_cast<size_t>(n) + 1), e(static_cast<size_t>(n) + 1);
    for (int k = 0; k <= n; ++k) {
      c[k] = d.edgy(-3, 3, 0.01);
      // Repeated exponents share their power of the height.
      e[k] = d.chance(0.5) ? d.integer(0, 4) : d.edgy(-0.4, 9, 0.01);
    }
    const Model m{d.edgy(1, 90), d.edgy(1, 40), c.data(), e.data(), n};
    ClosedForm prepared;
    ASSERT_TRUE(prepared.prepare(m));
    for (int j = 0; j < 8; ++j) {
      const double h = d.edgy(-5, 45, 0.1);
      const double direct = xylotrak::taper::volumeFromGround(m, h);
      // A NaN met by another NaN keeps the sign of whichever operand the
      // compiler put first, which the language leaves open: NaN is NaN.
      const double again = prepared.fromGround(h);
      ASSERT_TRUE(sameBits(direct, again) || (std::isnan(direct) && std::isnan(again)))
          << "n " << n << " h " << h << ": " << direct << " vs " << again;
      ++compared;
    }
  }
  EXPECT_EQ(compared, 32000);
  // Too many terms, or a negative count: the caller integrates term by term.
  std::vector<double> big(ClosedForm::kMaxTerms + 2, 0.5);
  ClosedForm prepared;
  EXPECT_FALSE(prepared.prepare({30, 20, big.data(), big.data(), ClosedForm::kMaxTerms + 1}));
  EXPECT_FALSE(prepared.prepare({30, 20, big.data(), big.data(), -1}));
}

TEST(HeightSearchCore, ReportsItsHeightAndRounds) {
  const double c[] = {1, -1}, e[] = {0, 1};
  const Model cone{30, 20, c, e, 1};  // 30 (1 - h/20)
  // An exact hit at mid-stem after one evaluation.
  auto found = xylotrak::taper::heightAt(cone, 15);
  EXPECT_EQ(found.height, 10.0);
  EXPECT_EQ(found.rounds, 1);
  // The bottom of the range: 10 m, then 20 m where the diameter is 0.
  found = xylotrak::taper::heightAt(cone, 0);
  EXPECT_EQ(found.height, 20.0);
  EXPECT_EQ(found.rounds, 2);
  // No exact hit: all 100 rounds, ending at 46/3 to the last place.
  found = xylotrak::taper::heightAt(cone, 7);
  EXPECT_EQ(found.rounds, 100);
  EXPECT_EQ(found.height, 15.333333333333332);
  // A NaN target stops at the first comparison.
  found = xylotrak::taper::heightAt(cone, kNaN);
  EXPECT_EQ(found.height, 10.0);
  EXPECT_EQ(found.rounds, 1);
  // Above the butt: down to the ground; the heights visited are 10, 0, 0, ...
  found = xylotrak::taper::heightAt(cone, 40);
  EXPECT_EQ(found.height, 0.0);
  EXPECT_EQ(found.rounds, 100);
}

TEST(SectionLimits, ResolveIntoHeights) {
  // Searches answer from a table here, so each rule is seen on its own.
  int searches = 0;
  const auto heightOf = [&searches](double d) {
    ++searches;
    return 20 - d / 2;  // the height of diameter d on a 40 cm cone of 20 m
  };
  using xylotrak::taper::resolveSection;
  auto s = resolveSection(20, {0, 0, 0, 0, 0}, heightOf);
  EXPECT_EQ(s.lower, 0.0);
  EXPECT_EQ(s.upper, 20.0);
  EXPECT_EQ(searches, 0);
  // The higher lower limit and the lower upper limit win.
  s = resolveSection(20, {3, 15, 30, 10, 0}, heightOf);  // 30 cm at 5 m, 10 cm at 15 m
  EXPECT_EQ(s.lower, 5.0);
  EXPECT_EQ(s.upper, 15.0);
  s = resolveSection(20, {6, 14, 30, 10, 0}, heightOf);
  EXPECT_EQ(s.lower, 6.0);
  EXPECT_EQ(s.upper, 14.0);
  EXPECT_EQ(searches, 4);
  // 999 and above is no lower diameter limit; NaN and negatives are absent.
  searches = 0;
  s = resolveSection(20, {kNaN, -1, 999, kNaN, 0}, heightOf);
  EXPECT_EQ(s.lower, 0.0);
  EXPECT_EQ(s.upper, 20.0);
  EXPECT_EQ(searches, 0);
  s = resolveSection(20, {0, 0, 998.5, 0, 0}, heightOf);
  EXPECT_EQ(searches, 1);
  EXPECT_EQ(s.lower, 20 - 998.5 / 2);  // below ground: taken as it is
  // Whole logs shorten the top, never raise it.
  using xylotrak::taper::wholeLogsTop;
  EXPECT_EQ(wholeLogsTop({0.5, 5.49}, 2.5), 3.0);
  EXPECT_EQ(wholeLogsTop({0.5, 5.5}, 2.5), 5.5);
  EXPECT_EQ(wholeLogsTop({0.5, 5.49}, 0), 5.49);
  EXPECT_EQ(wholeLogsTop({0.5, 5.49}, kNaN), 5.49);
}

}  // namespace
