#include "stem.h"

#include <algorithm>

namespace xtk {

const std::array<const char *, TotalCount> kTotalNames = {
    "productVolume", "stumpVolume", "leftoverVolume", "topVolume",
    "trimVolume",    "lossVolume",  "stemVolume",     "totalValue"};

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
  if (params.objective < 0)
    result.outcome = PHVsDll(tree.dbh, tree.height, m.coefs.data(), m.exps.data(), m.terms(),
                             params.startHeight, params.topHeightLimit, 0, 0, params.stumpHeight,
                             params.stumpTrim, params.heightLimit, table, count, t, t + 1, t + 2,
                             t + 3, t + 4, t + 5, t + 6, t + 7, result.rows.data());
  else
    result.outcome =
        (params.exact ? PHVxDll : PHVoDll)(tree.dbh, tree.height, m.coefs.data(), m.exps.data(), m.terms(), params.startHeight,
                params.topHeightLimit, 0, 0, params.stumpHeight, params.stumpTrim,
                params.heightLimit, table, count, params.objective, t, t + 1, t + 2, t + 3, t + 4,
                t + 5, t + 6, t + 7, result.rows.data());
  int n = 0;
  while (n + 1 < XYLOTRAK_LOG_ROWS && result.rows[n + 1].logNumber != 0) ++n;
  result.logCount = n;
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

StemZones stemZones(const Tree &tree, const std::vector<Product> &products,
                    const BuckParams &params, const BuckResult &result) {
  StemZones z;
  const double s = params.stumpHeight + params.stumpTrim;
  z.lastTrimTop = result.logCount > 0 ? result.rows[result.logCount].trimTopHeight : s;
  z.topStart = z.lastTrimTop;
  if (!(result.totals[ProductVolume] > 0) || products.empty()) return z;
  // The diameter that ends the leftover: the last product's minimum top for
  // the sequential bucking, the smallest one of the table for the search.
  double m = products.back().record.minTopDiam;
  if (params.objective >= 0) {
    m = 999;
    for (const auto &p : products) m = std::min(m, p.record.minTopDiam);
  }
  if (!(m > 0)) {
    z.topStart = tree.height;
    return z;
  }
  const Model &md = tree.model;
  const double h = PHHiDll(tree.dbh, tree.height, md.coefs.data(), md.exps.data(), md.terms(), m);
  z.topStart = std::clamp(h, z.lastTrimTop, tree.height);
  z.topDiam = m;
  return z;
}

}  // namespace xtk
