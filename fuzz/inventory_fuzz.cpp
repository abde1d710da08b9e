// Fuzzes the inventory export. The input gives the bucking of the sequential
// harness (model 0, the scalars and a table of up to four products), then up
// to two more models, up to twelve trees (dbh, height and a model index that
// may lie outside the table), the method, the objective, the flag, a thread
// count of 1 to 3, when the callback asks to stop, and perhaps an allocation
// made to fail. Every array the call reads ends at a guard page and must be
// left as it was. The blocks must come in the trees' order, each tree once;
// every tree that was bucked must carry, byte for byte, what its single-tree
// export answers on a fresh copy of the table; every tree that was not must
// be flagged for the fault it has. Without a failed allocation, the call
// counts in every accounting slot what the exports called one tree after
// another count.
#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "bucking/search.h"
#include "bucking_host.h"
#include "fault_injection.h"

namespace {

constexpr int kMaxTrees = 12;
constexpr int kModels = 3;
constexpr int kMaxTerms = 2;
constexpr int kSlots = 9;
// Under libFuzzer, the most products the exact optimiser may try on one
// tree's states: they run into the millions on a table whose logs advance by
// millimetres, minutes under the sanitizers for twelve trees bucked twice.
// An input where a search stopped there is skipped; the exact harness covers
// such tables. The replay driver sets no limit.
constexpr long kExactTries = 100000;
bool g_limitTries = false;

// One delivered tree: the record and its rows and products as handed over.
struct Delivered {
  xylotrak_tree_result result{};
  std::array<LogEntry, fuzz::kRows> rows{};
  std::vector<ProductSpec> products;
};

struct Collector {
  std::vector<Delivered> trees;
  int blocks = 0;
  int stopAfter = 0;  // 0: never
  std::size_t productCount = 0;
  bool ordered = true;
};

std::int32_t collect(void *context, const xylotrak_inventory_block *block) {
  auto &c = *static_cast<Collector *>(context);
  if (block->firstTree != static_cast<std::int64_t>(c.trees.size()) || block->treeCount < 1)
    c.ordered = false;
  std::int32_t rows = 0;
  for (std::int32_t t = 0; t < block->treeCount; ++t) {
    const xylotrak_tree_result &r = block->trees[t];
    FUZZ_CHECK(r.tree == block->firstTree + t);
    FUZZ_CHECK(r.firstRow == rows && r.logCount >= 0 && r.logCount < fuzz::kRows);
    Delivered d;
    d.result = r;
    std::memcpy(static_cast<void *>(d.rows.data()), block->rows + r.firstRow,
                static_cast<std::size_t>(r.logCount + 1) * sizeof(LogEntry));
    d.products.assign(block->products + t * c.productCount,
                      block->products + (t + 1) * c.productCount);
    rows += r.logCount + 1;
    c.trees.push_back(std::move(d));
  }
  FUZZ_CHECK(rows == block->rowCount);
  ++c.blocks;
  return c.stopAfter > 0 && c.blocks >= c.stopAfter ? 1 : 0;
}

std::array<std::uint32_t, kSlots> counts() {
  std::array<std::uint32_t, kSlots> out{};
  for (int s = 0; s < kSlots; ++s) out[s] = static_cast<std::uint32_t>(tally_count(s));
  return out;
}

// Equal bytes; an empty range is equal whatever its pointers (null included).
bool sameArray(const void *a, const void *b, std::size_t bytes) {
  return bytes == 0 || fuzz::sameBits(a, b, bytes);
}

bool finiteModel(const xylotrak_taper_model &m) {
  const int n = xylotrak::low16(m.termCount);
  if (n < 0) return std::isfinite(m.coefs[0]);
  for (int k = 0; k <= n; ++k)
    if (!std::isfinite(m.coefs[k]) || !std::isfinite(m.exps[k])) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  g_limitTries = true;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static fuzz::BuckingHost host(kMaxTerms, /*maxProducts=*/4);
  if (g_limitTries) xylotrak::bucking::setExactTryLimitForTesting(kExactTries);
  const unsigned long stops = xylotrak::bucking::exactTryLimitHitsForTesting();
  static fuzz::InputArray extraCoefs[kModels - 1] = {fuzz::InputArray(kMaxTerms + 1),
                                                     fuzz::InputArray(kMaxTerms + 1)};
  static fuzz::InputArray extraExps[kModels - 1] = {fuzz::InputArray(kMaxTerms + 1),
                                                    fuzz::InputArray(kMaxTerms + 1)};
  static fuzz::InputArray dbhArray(kMaxTrees), heightArray(kMaxTrees);
  static fuzz::GuardedRegion indexRegion(kMaxTrees * sizeof(std::int32_t));
  static fuzz::GuardedRegion modelRegion(kModels * sizeof(xylotrak_taper_model));
  static fuzz::GuardedRegion paramRegion(sizeof(xylotrak_inventory_params));
  static Collector collector;

  fuzz::Reader in(data, size);
  host.decodeCall(in);
  const int modelCount = 1 + in.byte() % kModels;
  auto *models = static_cast<xylotrak_taper_model *>(
      modelRegion.tail(static_cast<std::size_t>(modelCount) * sizeof(xylotrak_taper_model)));
  models[0] = {host.coefs, host.exps, host.termCount, 0};
  for (int m = 1; m < modelCount; ++m) {
    const int terms = in.count(kMaxTerms);
    const std::size_t entries =
        static_cast<std::size_t>(std::max<int>(xylotrak::low16(terms), 0)) + 1;
    const double *c = extraCoefs[m - 1].fill(entries, [&] { return in.real(-2, 2); });
    const double *e = extraExps[m - 1].fill(entries, [&] { return in.real(-1, 8); });
    models[m] = {c, e, terms, 0};
  }
  const std::vector<xylotrak_taper_model> modelCopy(models, models + modelCount);

  const int trees = in.byte() % (kMaxTrees + 1);
  const double *dbh =
      dbhArray.fill(static_cast<std::size_t>(trees), [&] { return in.real(0, 80); });
  const double *height =
      heightArray.fill(static_cast<std::size_t>(trees), [&] { return in.real(0, 45); });
  auto *index = static_cast<std::int32_t *>(
      indexRegion.tail(static_cast<std::size_t>(trees) * sizeof(std::int32_t)));
  for (int i = 0; i < trees; ++i) {
    const std::uint8_t b = in.byte();
    index[i] = b < 0xF0 ? b % modelCount : static_cast<std::int32_t>(in.u32());
  }
  const std::vector<std::int32_t> indexCopy(index, index + trees);

  auto *q =
      static_cast<xylotrak_inventory_params *>(paramRegion.tail(sizeof(xylotrak_inventory_params)));
  q->startHeight = host.startHeight;
  q->topHeightLimit = host.topHeightLimit;
  q->stumpHeight = host.stumpHeight;
  q->stumpTrim = host.stumpTrim;
  q->heightLimit = host.heightLimit;
  q->method = in.byte() % 3;
  q->objective = in.codeArg();
  q->flags = q->method == XYLOTRAK_METHOD_OPTIMISED ? in.byte() % 2 : 0;
  q->threads = 1 + in.byte() % 3;
  const xylotrak_inventory_params paramCopy = *q;
  const int stopAfter = in.byte() % 4;
  const std::uint8_t fault = in.byte();
  host.decodeTable(in);
  const std::vector<ProductSpec> table(host.products, host.products + std::max(host.count(), 0));

  collector.trees.clear();
  collector.blocks = 0;
  collector.stopAfter = stopAfter;
  collector.ordered = true;
  collector.productCount = static_cast<std::size_t>(std::max(host.count(), 0));
  const long failAt = fault < 48 ? 1 + fault % 16 : 0;
  tally_start();
  xylotrak::fault::failAllocationAt(failAt);
  const std::int32_t result = PHVbDll(dbh, height, index, trees, models, modelCount, host.products,
                                      host.productCount, q, &collect, &collector);
  const bool failed = failAt > 0 && xylotrak::fault::allocationsChecked() >= failAt;
  xylotrak::fault::failAllocationAt(0);
  const auto together = counts();

  // The call reads its inputs and writes none of them.
  dbhArray.checkUnchanged();
  heightArray.checkUnchanged();
  FUZZ_CHECK(indexRegion.slackIntact() && modelRegion.slackIntact() && paramRegion.slackIntact());
  FUZZ_CHECK(sameArray(index, indexCopy.data(), indexCopy.size() * sizeof(std::int32_t)));
  FUZZ_CHECK(sameArray(models, modelCopy.data(), modelCopy.size() * sizeof *models));
  FUZZ_CHECK(fuzz::sameBits(q, &paramCopy, sizeof *q));
  FUZZ_CHECK(sameArray(host.products, table.data(), table.size() * sizeof(ProductSpec)));
  FUZZ_CHECK(collector.ordered);
  if (xylotrak::bucking::exactTryLimitHitsForTesting() != stops) return 0;

  if (result == XYLOTRAK_INVENTORY_OUT_OF_MEMORY) {
    FUZZ_CHECK(failed && collector.trees.empty());
    return 0;
  }
  if (result == XYLOTRAK_INVENTORY_STOPPED) {
    FUZZ_CHECK(stopAfter > 0 && collector.blocks == stopAfter);
  } else {
    FUZZ_CHECK(result == XYLOTRAK_INVENTORY_OK);
    FUZZ_CHECK(collector.trees.size() == static_cast<std::size_t>(trees));
  }

  // Each delivered tree against its export, one after another.
  tally_start();
  for (std::size_t i = 0; i < collector.trees.size(); ++i) {
    const Delivered &d = collector.trees[i];
    const std::int32_t m = index[i];
    const bool inTable = m >= 0 && m < modelCount;
    if (!inTable) {
      FUZZ_CHECK(d.result.status == XYLOTRAK_TREE_BAD_MODEL);
    } else if (!std::isfinite(dbh[i]) || !std::isfinite(height[i]) || !finiteModel(models[m])) {
      FUZZ_CHECK(d.result.status == XYLOTRAK_TREE_NONFINITE);
    }
    if (d.result.status != XYLOTRAK_TREE_BUCKED) {
      FUZZ_CHECK(d.result.method == -1 || d.result.status == XYLOTRAK_TREE_OUT_OF_MEMORY);
      if (d.result.status == XYLOTRAK_TREE_OUT_OF_MEMORY) FUZZ_CHECK(failed);
      continue;
    }
    FUZZ_CHECK(inTable);
    host.restore();
    host.dbh = dbh[i];
    host.totalHeight = height[i];
    host.coefs = models[m].coefs;
    host.exps = models[m].exps;
    host.termCount = models[m].termCount;
    using xylotrak::support::Bucking;
    const Bucking which[] = {Bucking::kSequential, Bucking::kOptimised, Bucking::kExact};
    double expected = host.call(which[paramCopy.method], paramCopy.objective);
    int method = paramCopy.method;
    if (expected == 99.0 && paramCopy.flags != 0) {
      host.restore();
      expected = host.call(Bucking::kExact, paramCopy.objective);
      method = XYLOTRAK_METHOD_EXACT;
    }
    FUZZ_CHECK(d.result.method == method);
    FUZZ_CHECK(fuzz::sameBits(d.result.outcome, expected));
    for (int t = 0; t < 8; ++t)
      FUZZ_CHECK(fuzz::sameBits(d.result.totals[t], host.totals.value(t)));
    for (int k = 0; k < fuzz::kRows; ++k) {
      LogEntry row = host.logs[k];
      std::memset(row.reserved0, 0, sizeof row.reserved0);  // the host's pattern, not written
      LogEntry got = d.rows[k];
      std::memset(got.reserved0, 0, sizeof got.reserved0);
      FUZZ_CHECK(fuzz::sameBits(&row, &got, sizeof row));
    }
    for (std::size_t p = 0; p < d.products.size(); ++p)
      FUZZ_CHECK(fuzz::sameBits(&d.products[p], &host.products[p], sizeof(ProductSpec)));
  }
  const auto direct = counts();
  // A failed allocation may have cut a tree's work short; otherwise the call
  // counts exactly what the exports do.
  if (!failed && result == XYLOTRAK_INVENTORY_OK)
    for (int s = 0; s < kSlots; ++s) FUZZ_CHECK(together[s] == direct[s]);
  return 0;
}
