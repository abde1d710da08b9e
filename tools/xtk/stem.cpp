#include "stem.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <new>
#include <stdexcept>

namespace xtk {

const std::array<const char *, TotalCount> kTotalNames = {
    "productVolume", "stumpVolume", "leftoverVolume", "topVolume",
    "trimVolume",    "lossVolume",  "stemVolume",     "totalValue"};

namespace {

// What the inventory call hands back for the one tree of buckWithFallback.
struct OneTree {
  BuckResult &result;
  std::size_t productCount;
};

extern "C" std::int32_t takeTree(void *context, const xylotrak_inventory_block *block) {
  auto &one = *static_cast<OneTree *>(context);
  const xylotrak_tree_result &r = block->trees[0];
  BuckResult &result = one.result;
  result.outcome = r.outcome;
  std::copy(std::begin(r.totals), std::end(r.totals), result.totals.begin());
  result.rows = {};
  std::copy(block->rows + r.firstRow, block->rows + r.firstRow + r.logCount + 1,
            result.rows.begin());
  std::copy(block->products, block->products + one.productCount, result.products.begin());
  result.servedByExact = r.method == XYLOTRAK_METHOD_EXACT;
  return 0;
}

// The optimised bucking with the exact optimiser for a search that gives up:
// the library's inventory call with this one tree.
void buckWithFallback(const Tree &tree, const BuckParams &params, BuckResult &result) {
  const Model &m = tree.model;
  const xylotrak_taper_model model{m.coefs.data(), m.exps.data(), m.terms(), 0};
  const std::int32_t index = 0;
  const xylotrak_inventory_params q = inventoryParams(params, 1);
  OneTree one{result, result.products.size()};
  const std::int32_t code =
      PHVbDll(&tree.dbh, &tree.height, &index, 1, &model, 1, result.products.data(),
              static_cast<int>(result.products.size()), &q, &takeTree, &one);
  if (code == XYLOTRAK_INVENTORY_OUT_OF_MEMORY) throw std::bad_alloc();
  if (code != XYLOTRAK_INVENTORY_OK)
    throw std::runtime_error("the inventory bucking answered " + std::to_string(code));
}

}  // namespace

void buck(const Tree &tree, const std::vector<Product> &products, const BuckParams &params,
          BuckResult &result) {
  if (result.products.size() != products.size()) {
    result.products.clear();
    for (const auto &p : products) result.products.push_back(p.record);
  }
  const Model &m = tree.model;
  double *t = result.totals.data();
  ProductSpec *table = result.products.data();
  const int count = static_cast<int>(result.products.size());
  result.servedByExact = false;
  if (params.objective < 0)
    result.outcome = PHVsDll(tree.dbh, tree.height, m.coefs.data(), m.exps.data(), m.terms(),
                             params.startHeight, params.topHeightLimit, 0, 0, params.stumpHeight,
                             params.stumpTrim, params.heightLimit, table, count, t, t + 1, t + 2,
                             t + 3, t + 4, t + 5, t + 6, t + 7, result.rows.data());
  else if (params.exactWhenGivenUp && !params.exact)
    buckWithFallback(tree, params, result);
  else
    result.outcome = (params.exact ? PHVxDll : PHVoDll)(
        tree.dbh, tree.height, m.coefs.data(), m.exps.data(), m.terms(), params.startHeight,
        params.topHeightLimit, 0, 0, params.stumpHeight, params.stumpTrim, params.heightLimit,
        table, count, params.objective, t, t + 1, t + 2, t + 3, t + 4, t + 5, t + 6, t + 7,
        result.rows.data());
  int n = 0;
  while (n + 1 < XYLOTRAK_LOG_ROWS && result.rows[n + 1].logNumber != 0) ++n;
  result.logCount = n;
}

xylotrak_inventory_params inventoryParams(const BuckParams &params, int threads) {
  xylotrak_inventory_params q{};
  q.startHeight = params.startHeight;
  q.topHeightLimit = params.topHeightLimit;
  q.stumpHeight = params.stumpHeight;
  q.stumpTrim = params.stumpTrim;
  q.heightLimit = params.heightLimit;
  q.method = params.objective < 0 ? XYLOTRAK_METHOD_SEQUENTIAL
             : params.exact       ? XYLOTRAK_METHOD_EXACT
                                  : XYLOTRAK_METHOD_OPTIMISED;
  q.objective = params.objective < 0 ? 0 : params.objective;
  q.threads = threads;
  q.flags = params.exactWhenGivenUp && !params.exact && params.objective >= 0
                ? XYLOTRAK_EXACT_WHEN_GIVEN_UP
                : 0;
  return q;
}

std::string methodName(const BuckParams &params) {
  if (params.objective < 0) return "sequential";
  const std::string how = params.exact ? "exact optimum by " : "optimised by ";
  return how + (params.objective == 0 ? "value" : "volume");
}

double diameterAt(const Tree &tree, double height) {
  return PHDiDll(tree.dbh, tree.height, tree.model.coefs.data(), tree.model.exps.data(),
                 tree.model.terms(), height);
}

StemZones stemZones(const Tree &tree, const BuckParams &params, const BuckResult &result) {
  const Model &m = tree.model;
  double zones[3] = {};
  PHZnDll(tree.dbh, tree.height, m.coefs.data(), m.exps.data(), m.terms(), params.stumpHeight,
          params.stumpTrim, result.rows.data(), result.totals.data(), zones);
  return {zones[0], zones[1], zones[2]};
}

}  // namespace xtk
