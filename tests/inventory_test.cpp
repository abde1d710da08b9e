// The inventory export against the single-tree exports: for every tree the
// same bytes and, over the whole call, the same call accounting, whatever
// the thread count; bad trees flagged without disturbing the others; a
// callback that stops the run; memory that runs out anywhere.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "fault_injection.h"
#include "support/bucking_call.h"
#include "xylotrak.h"

namespace {

using xylotrak::support::Bucking;
using xylotrak::support::CallArgs;

constexpr int kRows = XYLOTRAK_LOG_ROWS;
constexpr int kSlots = 9;
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// What one tree came to: the totals, the whole 100-row table and the product
// records, as the single-tree export writes them.
struct TreeOutput {
  double outcome = 0;
  std::int32_t status = -1, method = -2;
  std::array<double, 8> totals{};
  std::array<LogEntry, kRows> rows{};
  std::vector<ProductSpec> products;
};

struct Inventory {
  std::vector<std::vector<double>> coefs, exps;
  std::vector<xylotrak_taper_model> models;
  std::vector<double> dbh, height;
  std::vector<std::int32_t> model;
  std::vector<ProductSpec> products;
  int productCount = 0;  // as passed, high bits and all

  void addModel(std::vector<double> c, std::vector<double> e, std::int32_t termCount) {
    coefs.push_back(std::move(c));
    exps.push_back(std::move(e));
    models.push_back({nullptr, nullptr, termCount, 0x5A5A5A5A});
  }
  // The model pointers, once the arrays stand still.
  void link() {
    for (size_t i = 0; i < models.size(); ++i) {
      if (coefs[i].empty()) continue;  // a model without arrays
      models[i].coefs = coefs[i].data();
      models[i].exps = exps[i].data();
    }
  }
};

ProductSpec randomProduct(std::mt19937_64 &rng) {
  std::uniform_real_distribution<double> u(0, 1);
  const double minLength = 1 + 4 * u(rng);
  ProductSpec p =
      xylotrak::support::product(5 + 25 * u(rng), minLength, minLength + 2 * u(rng),
                                 10 + 100 * u(rng), static_cast<int>(rng() % 4), 0, 0xCD);
  if (rng() % 4 == 0) p.logPosition = static_cast<std::int16_t>(1 + rng() % 3);
  if (rng() % 5 == 0) p.maxBaseDiam = 30 + 30 * u(rng);
  if (rng() % 5 == 0) p.trimLength = 0.1;
  if (rng() % 6 == 0) p.lossFraction = 0.05;
  return p;
}

// An inventory with shared and duplicated models, 16-bit edge counts, and
// bad trees in the middle of the list.
Inventory randomInventory(std::uint64_t seed, int trees) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> u(0, 1);
  Inventory inv;
  inv.addModel({1, -1}, {0, 1}, 1);  // the cone
  inv.addModel({1.14, -1.23, 1.68, -3.14, 1.55}, {0, 1, 2, 3, 4}, 4);
  inv.addModel({1.14, -1.23, 1.68, -3.14, 1.55}, {0, 1, 2, 3, 4}, 4);  // the same again
  inv.addModel({1.1, -1.1, 0.3, -0.3}, {0, 1, 2, 3}, 0x10000 + 3);     // reads as 3 terms
  inv.addModel({1.2, -1.2}, {0, 0.8}, 0xFFFF);                         // reads as -1
  inv.addModel({1.0, kNaN}, {0, 1}, 1);                                // not finite
  inv.addModel({}, {}, 1);                                             // no arrays
  const int products = 2 + static_cast<int>(rng() % 5);
  for (int j = 0; j < products; ++j) inv.products.push_back(randomProduct(rng));
  inv.productCount = products + (rng() % 2 == 0 ? 0x20000 : 0);
  for (int i = 0; i < trees; ++i) {
    double dbh = 12 + 40 * u(rng), height = 12 + 25 * u(rng);
    std::int32_t m = static_cast<std::int32_t>(rng() % 5);
    switch (rng() % 29) {
      case 0:
        dbh = kNaN;
        break;
      case 1:
        height = kInf;
        break;
      case 2:
        m = static_cast<std::int32_t>(inv.models.size());
        break;  // past the table
      case 3:
        m = -1;
        break;
      case 4:
        m = 5;
        break;  // the NaN model
      case 5:
        m = 6;
        break;  // the model without arrays
      case 6:
        dbh = 0;
        break;  // a real tree to the exports: bucked like any other
      default:
        break;
    }
    inv.dbh.push_back(dbh);
    inv.height.push_back(height);
    inv.model.push_back(m);
  }
  inv.link();
  return inv;
}

// The records the exports read of the table: productCount's low 16 bits,
// none when that is 0 or less.
size_t tableSize(const Inventory &inv) {
  const int read = static_cast<std::int16_t>(inv.productCount & 0xFFFF);
  return read > 0 ? static_cast<size_t>(read) : 0;
}

std::array<std::uint32_t, kSlots> counts() {
  std::array<std::uint32_t, kSlots> c{};
  for (int s = 0; s < kSlots; ++s)
    c[static_cast<size_t>(s)] = static_cast<std::uint32_t>(tally_count(s));
  return c;
}

// The single-tree export on tree i; the status the inventory should give it.
TreeOutput reference(const Inventory &inv, size_t i, int method, int objective, bool fallback) {
  TreeOutput out;
  out.products.assign(inv.products.begin(),
                      inv.products.begin() + static_cast<std::ptrdiff_t>(tableSize(inv)));
  for (ProductSpec &p : out.products) {
    p.logCount = 0;
    p.volumeSum = p.valueSum = p.lastTopHeight = p.lastTopDiam = p.lengthSum = p.meanTopDiam =
        p.weightedTopDiam = 0;
  }
  const std::int32_t m = inv.model[i];
  if (m < 0 || m >= static_cast<std::int32_t>(inv.models.size()) ||
      inv.models[static_cast<size_t>(m)].coefs == nullptr) {
    out.status = XYLOTRAK_TREE_BAD_MODEL;
    out.method = -1;
    return out;
  }
  const xylotrak_taper_model &model = inv.models[static_cast<size_t>(m)];
  bool finite = std::isfinite(inv.dbh[i]) && std::isfinite(inv.height[i]);
  const int n = static_cast<std::int16_t>(model.termCount & 0xFFFF);
  for (int k = 0; k <= (n < 0 ? 0 : n); ++k)
    finite = finite && std::isfinite(model.coefs[k]) && (n < 0 || std::isfinite(model.exps[k]));
  if (!finite) {
    out.status = XYLOTRAK_TREE_NONFINITE;
    out.method = -1;
    return out;
  }
  const xylotrak::support::StemArgs stem{inv.dbh[i], inv.height[i], model.coefs, model.exps,
                                         model.termCount};
  CallArgs args;
  args.stumpHeight = 0.3;
  args.stumpTrim = 0.05;
  args.startHeight = 0.5;
  args.objective = objective;
  const Bucking which[] = {Bucking::kSequential, Bucking::kOptimised, Bucking::kExact};
  out.status = XYLOTRAK_TREE_BUCKED;
  out.method = method;
  out.outcome = xylotrak::support::buck(which[method], stem, args, out.products.data(),
                                        inv.productCount, out.totals.data(), out.rows.data());
  if (fallback && method == XYLOTRAK_METHOD_OPTIMISED && out.outcome == 99.0) {
    out.method = XYLOTRAK_METHOD_EXACT;
    out.outcome = xylotrak::support::buck(Bucking::kExact, stem, args, out.products.data(),
                                          inv.productCount, out.totals.data(), out.rows.data());
  }
  return out;
}

struct Collected {
  std::int32_t result = -1;
  std::vector<TreeOutput> trees;
  std::int64_t blocks = 0;
  std::int64_t stopAfter = -1;  // blocks to take before asking to stop
  bool ordered = true;
  size_t productCount = 0;
};

std::int32_t collect(void *context, const xylotrak_inventory_block *block) {
  Collected &run = *static_cast<Collected *>(context);
  if (block->firstTree != static_cast<std::int64_t>(run.trees.size()) || block->treeCount < 1)
    run.ordered = false;
  std::int32_t rowsSeen = 0;
  for (std::int32_t t = 0; t < block->treeCount; ++t) {
    const xylotrak_tree_result &r = block->trees[t];
    if (r.tree != block->firstTree + t || r.firstRow != rowsSeen) run.ordered = false;
    TreeOutput out;
    out.outcome = r.outcome;
    out.status = r.status;
    out.method = r.method;
    std::memcpy(out.totals.data(), r.totals, sizeof r.totals);
    std::memcpy(out.rows.data(), block->rows + r.firstRow,
                static_cast<size_t>(r.logCount + 1) * sizeof(LogEntry));
    rowsSeen += r.logCount + 1;
    out.products.assign(block->products + t * run.productCount,
                        block->products + (t + 1) * run.productCount);
    run.trees.push_back(std::move(out));
  }
  if (rowsSeen != block->rowCount) run.ordered = false;
  ++run.blocks;
  return run.stopAfter >= 0 && run.blocks >= run.stopAfter ? 1 : 0;
}

xylotrak_inventory_params params(int method, int objective, int threads, int flags = 0) {
  xylotrak_inventory_params q{};
  q.startHeight = 0.5;
  q.topHeightLimit = 999;
  q.stumpHeight = 0.3;
  q.stumpTrim = 0.05;
  q.heightLimit = 999;
  q.method = method;
  q.objective = objective;
  q.threads = threads;
  q.flags = flags;
  return q;
}

Collected runInventory(const Inventory &inv, const xylotrak_inventory_params &q,
                       std::int64_t stopAfter = -1) {
  Collected run;
  run.stopAfter = stopAfter;
  run.productCount = tableSize(inv);
  run.result = PHVbDll(inv.dbh.data(), inv.height.data(), inv.model.data(),
                       static_cast<std::int64_t>(inv.dbh.size()), inv.models.data(),
                       static_cast<std::int32_t>(inv.models.size()), inv.products.data(),
                       inv.productCount, &q, &collect, &run);
  return run;
}

void expectSameTree(const TreeOutput &expected, const TreeOutput &got, size_t i) {
  SCOPED_TRACE("tree " + std::to_string(i));
  EXPECT_EQ(got.status, expected.status);
  EXPECT_EQ(got.method, expected.method);
  EXPECT_EQ(0, std::memcmp(&got.outcome, &expected.outcome, sizeof got.outcome));
  EXPECT_EQ(0, std::memcmp(got.totals.data(), expected.totals.data(), sizeof got.totals));
  for (int k = 0; k < kRows; ++k)
    EXPECT_EQ(0, std::memcmp(&got.rows[k], &expected.rows[k], sizeof(LogEntry))) << "row " << k;
  ASSERT_EQ(got.products.size(), expected.products.size());
  for (size_t p = 0; p < got.products.size(); ++p)
    EXPECT_EQ(0, std::memcmp(&got.products[p], &expected.products[p], sizeof(ProductSpec)))
        << "product " << p + 1;
}

// Every tree as its export would have it, and the accounting of the whole
// call equal to that of the exports called one tree after another.
void expectAsTheExports(const Inventory &inv, int method, int objective, int threads,
                        int flags = 0) {
  SCOPED_TRACE("method " + std::to_string(method) + ", threads " + std::to_string(threads));
  tally_start();
  std::vector<TreeOutput> expected;
  for (size_t i = 0; i < inv.dbh.size(); ++i)
    expected.push_back(reference(inv, i, method, objective, flags != 0));
  const auto direct = counts();
  tally_start();
  const Collected run = runInventory(inv, params(method, objective, threads, flags));
  const auto together = counts();
  ASSERT_EQ(run.result, XYLOTRAK_INVENTORY_OK);
  EXPECT_TRUE(run.ordered);
  ASSERT_EQ(run.trees.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) expectSameTree(expected[i], run.trees[i], i);
  for (int s = 0; s < kSlots; ++s) EXPECT_EQ(together[s], direct[s]) << "slot " << s;
}

TEST(Inventory, EveryTreeAsItsExportWouldBuckItOnAnyNumberOfThreads) {
  for (std::uint64_t seed = 1; seed <= 2; ++seed) {
    const Inventory inv = randomInventory(seed, 60 + static_cast<int>(seed) * 37);
    for (int threads : {1, 2, 7}) {
      expectAsTheExports(inv, XYLOTRAK_METHOD_SEQUENTIAL, 0, threads);
      expectAsTheExports(inv, XYLOTRAK_METHOD_OPTIMISED, 0, threads);
      expectAsTheExports(inv, XYLOTRAK_METHOD_EXACT, 1, threads);
    }
  }
}

TEST(Inventory, ObjectivesAndCountsAreReadAsTheExportsReadThem) {
  const Inventory inv = randomInventory(11, 40);
  // Objective 2 wins nothing; 0x10001 reads as 1 (by volume).
  expectAsTheExports(inv, XYLOTRAK_METHOD_OPTIMISED, 2, 2);
  expectAsTheExports(inv, XYLOTRAK_METHOD_EXACT, 0x10001, 2);
  Inventory none = randomInventory(12, 30);
  none.productCount = 0x10000;  // an empty table
  expectAsTheExports(none, XYLOTRAK_METHOD_SEQUENTIAL, 0, 2);
  none.productCount = -1;
  expectAsTheExports(none, XYLOTRAK_METHOD_EXACT, 0, 1);
}

TEST(Inventory, ABadTreeIsFlaggedAndTheOthersStand) {
  Inventory inv = randomInventory(5, 64);
  inv.dbh[10] = kNaN;
  inv.height[11] = -kInf;
  inv.model[12] = 1 << 20;
  inv.model[13] = 6;  // no arrays
  const Collected run = runInventory(inv, params(XYLOTRAK_METHOD_SEQUENTIAL, 0, 2));
  ASSERT_EQ(run.result, XYLOTRAK_INVENTORY_OK);
  ASSERT_EQ(run.trees.size(), inv.dbh.size());
  const std::int32_t expected[] = {XYLOTRAK_TREE_NONFINITE, XYLOTRAK_TREE_NONFINITE,
                                   XYLOTRAK_TREE_BAD_MODEL, XYLOTRAK_TREE_BAD_MODEL};
  for (int k = 0; k < 4; ++k) {
    const TreeOutput &t = run.trees[static_cast<size_t>(10 + k)];
    EXPECT_EQ(t.status, expected[k]) << "tree " << 10 + k;
    EXPECT_EQ(t.method, -1);
    EXPECT_EQ(t.outcome, 0.0);
    for (double v : t.totals) EXPECT_EQ(v, 0.0);
    for (const ProductSpec &p : t.products) EXPECT_EQ(p.logCount, 0);
  }
  EXPECT_EQ(run.trees[9].status, XYLOTRAK_TREE_BUCKED);
  EXPECT_EQ(run.trees[14].status, XYLOTRAK_TREE_BUCKED);
  EXPECT_EQ(run.trees[14].outcome, 1.0);
}

TEST(Inventory, AGivenUpSearchCanBeAnsweredByTheExactOptimiser) {
  // Many short products: the breadth-first search outgrows its lists on the
  // tall trees and gives up; the small ones it answers itself.
  Inventory inv;
  inv.addModel({1.14, -1.23, 1.68, -3.14, 1.55}, {0, 1, 2, 3, 4}, 4);
  for (int j = 0; j < 8; ++j)
    inv.products.push_back(
        xylotrak::support::product(6 + j, 1 + 0.25 * j, 1.2 + 0.25 * j, 20 + j, 0, 0, 0x11));
  inv.productCount = static_cast<int>(inv.products.size());
  for (int i = 0; i < 10; ++i) {
    inv.dbh.push_back(10 + 4 * i);
    inv.height.push_back(8 + 2 * i);
    inv.model.push_back(0);
  }
  inv.link();
  const Collected plain = runInventory(inv, params(XYLOTRAK_METHOD_OPTIMISED, 0, 2));
  int givenUp = 0, answered = 0;
  for (const TreeOutput &t : plain.trees) (t.outcome == 99.0 ? givenUp : answered) += 1;
  ASSERT_GT(givenUp, 0) << "the table must make the search give up on some trees";
  ASSERT_GT(answered, 0);
  // With the flag: exactly those trees go to the exact optimiser, each
  // tree's bytes and the accounting as the two exports called in turn.
  expectAsTheExports(inv, XYLOTRAK_METHOD_OPTIMISED, 0, 2, XYLOTRAK_EXACT_WHEN_GIVEN_UP);
  const Collected helped =
      runInventory(inv, params(XYLOTRAK_METHOD_OPTIMISED, 0, 1, XYLOTRAK_EXACT_WHEN_GIVEN_UP));
  for (size_t i = 0; i < plain.trees.size(); ++i) {
    const bool served = plain.trees[i].outcome == 99.0;
    EXPECT_EQ(helped.trees[i].method, served ? XYLOTRAK_METHOD_EXACT : XYLOTRAK_METHOD_OPTIMISED);
    if (served) {
      EXPECT_EQ(helped.trees[i].outcome, 1.0);
    } else {
      expectSameTree(plain.trees[i], helped.trees[i], i);
    }
  }
}

TEST(Inventory, TheCallbackStopsTheRun) {
  const Inventory inv = randomInventory(7, 2000);
  for (int threads : {1, 2, 7}) {
    const Collected run = runInventory(inv, params(XYLOTRAK_METHOD_OPTIMISED, 0, threads), 2);
    EXPECT_EQ(run.result, XYLOTRAK_INVENTORY_STOPPED);
    EXPECT_EQ(run.blocks, 2) << "no block after the one that said stop";
    EXPECT_TRUE(run.ordered);
    EXPECT_LT(run.trees.size(), inv.dbh.size());
  }
  // Asking to stop at the very last block is still a stop.
  const Collected last = runInventory(inv, params(XYLOTRAK_METHOD_SEQUENTIAL, 0, 2), 0);
  EXPECT_EQ(last.result, XYLOTRAK_INVENTORY_STOPPED);
  EXPECT_EQ(last.blocks, 1);
}

TEST(Inventory, BadArgumentsBuckNothing) {
  Inventory inv = randomInventory(9, 10);
  Collected run;
  run.productCount = inv.products.size();
  auto call = [&](const double *dbh, const std::int32_t *model, std::int64_t n,
                  const xylotrak_taper_model *models, std::int32_t modelCount,
                  const ProductSpec *products, int productCount, const xylotrak_inventory_params *q,
                  xylotrak_inventory_callback cb) {
    return PHVbDll(dbh, inv.height.data(), model, n, models, modelCount, products, productCount, q,
                   cb, &run);
  };
  const auto q = params(XYLOTRAK_METHOD_SEQUENTIAL, 0, 2);
  const auto *m = inv.models.data();
  const auto mc = static_cast<std::int32_t>(inv.models.size());
  const int pc = inv.productCount;
  EXPECT_EQ(call(nullptr, inv.model.data(), 10, m, mc, inv.products.data(), pc, &q, &collect),
            XYLOTRAK_INVENTORY_BAD_ARGUMENT);
  EXPECT_EQ(call(inv.dbh.data(), nullptr, 10, m, mc, inv.products.data(), pc, &q, &collect),
            XYLOTRAK_INVENTORY_BAD_ARGUMENT);
  EXPECT_EQ(
      call(inv.dbh.data(), inv.model.data(), -1, m, mc, inv.products.data(), pc, &q, &collect),
      XYLOTRAK_INVENTORY_BAD_ARGUMENT);
  EXPECT_EQ(call(inv.dbh.data(), inv.model.data(), 10, nullptr, mc, inv.products.data(), pc, &q,
                 &collect),
            XYLOTRAK_INVENTORY_BAD_ARGUMENT);
  EXPECT_EQ(call(inv.dbh.data(), inv.model.data(), 10, m, mc, nullptr, pc, &q, &collect),
            XYLOTRAK_INVENTORY_BAD_ARGUMENT);
  EXPECT_EQ(
      call(inv.dbh.data(), inv.model.data(), 10, m, mc, inv.products.data(), pc, nullptr, &collect),
      XYLOTRAK_INVENTORY_BAD_ARGUMENT);
  EXPECT_EQ(call(inv.dbh.data(), inv.model.data(), 10, m, mc, inv.products.data(), pc, &q, nullptr),
            XYLOTRAK_INVENTORY_BAD_ARGUMENT);
  for (auto bad : {params(3, 0, 1), params(-1, 0, 1), params(0, 0, -1), params(0, 0, 257),
                   params(0, 0, 1, 2)}) {
    EXPECT_EQ(
        call(inv.dbh.data(), inv.model.data(), 10, m, mc, inv.products.data(), pc, &bad, &collect),
        XYLOTRAK_INVENTORY_BAD_ARGUMENT);
  }
  EXPECT_TRUE(run.trees.empty()) << "a refused call hands nothing over";
  // Nothing to buck is no error, and needs no arrays; neither does an empty
  // product table need a pointer.
  EXPECT_EQ(call(nullptr, nullptr, 0, nullptr, 0, nullptr, 0, &q, &collect), XYLOTRAK_INVENTORY_OK);
  run.productCount = 0;
  EXPECT_EQ(call(inv.dbh.data(), inv.model.data(), 10, m, mc, nullptr, 0x10000, &q, &collect),
            XYLOTRAK_INVENTORY_OK);
  EXPECT_EQ(run.trees.size(), 10u);
}

// Every allocation the call makes, failed in turn: the call answers OK or
// out of memory, and every tree handed over is either its export's answer or
// flagged as having run out of memory with the output cleared.
TEST(Inventory, MemoryThatRunsOutAnywhere) {
  const Inventory inv = randomInventory(21, 16);
  for (int threads : {1, 2}) {
    std::vector<TreeOutput> expected;
    for (size_t i = 0; i < inv.dbh.size(); ++i)
      expected.push_back(reference(inv, i, XYLOTRAK_METHOD_OPTIMISED, 0, false));
    int outOfMemory = 0, flagged = 0;
    for (long k = 1;; ++k) {
      xylotrak::fault::failAllocationAt(k);
      const Collected run = runInventory(inv, params(XYLOTRAK_METHOD_OPTIMISED, 0, threads));
      const long made = xylotrak::fault::allocationsChecked();
      xylotrak::fault::failAllocationAt(0);
      ASSERT_TRUE(run.result == XYLOTRAK_INVENTORY_OK ||
                  run.result == XYLOTRAK_INVENTORY_OUT_OF_MEMORY)
          << "allocation " << k;
      if (run.result == XYLOTRAK_INVENTORY_OUT_OF_MEMORY) {
        ++outOfMemory;
        EXPECT_TRUE(run.trees.empty());
      } else {
        ASSERT_EQ(run.trees.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
          if (run.trees[i].status == XYLOTRAK_TREE_OUT_OF_MEMORY) {
            ++flagged;
            EXPECT_EQ(run.trees[i].outcome, 99.0);
            for (double v : run.trees[i].totals) EXPECT_EQ(v, 0.0);
          } else {
            expectSameTree(expected[i], run.trees[i], i);
          }
        }
      }
      if (made < k) break;  // the armed allocation was never reached
      ASSERT_LT(k, 100000);
    }
    EXPECT_GT(outOfMemory, 0) << "the call's own memory was failed at least once";
    EXPECT_GT(flagged, 0) << "a search's memory was failed at least once";
  }
}

}  // namespace
