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
    result.outcome = (params.exact ? PHVxDll : PHVoDll)(
        tree.dbh, tree.height, m.coefs.data(), m.exps.data(), m.terms(), params.startHeight,
        params.topHeightLimit, 0, 0, params.stumpHeight, params.stumpTrim, params.heightLimit,
        table, count, params.objective, t, t + 1, t + 2, t + 3, t + 4, t + 5, t + 6, t + 7,
        result.rows.data());
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

namespace {

// The height above which the stem holds `volume` (greater than 0 and at most
// the stem's volume): a bisection on PHViDll's volume above a height, which
// falls as the height rises, down to adjacent doubles.
double heightWithVolumeAbove(const Tree &tree, double volume) {
  const Model &m = tree.model;
  double below = 0, above = tree.height;
  for (;;) {
    const double mid = below + (above - below) / 2;
    if (!(mid > below && mid < above)) return above;
    const double v =
        PHViDll(tree.dbh, tree.height, m.coefs.data(), m.exps.data(), m.terms(), mid, 0, 0, 0, 0);
    if (v > volume)
      below = mid;
    else
      above = mid;
  }
}

}  // namespace

StemZones stemZones(const Tree &tree, const BuckParams &params, const BuckResult &result) {
  StemZones z;
  const double s = params.stumpHeight + params.stumpTrim;
  z.lastTrimTop = result.logCount > 0 ? result.rows[result.logCount].trimTopHeight : s;
  z.topStart = z.lastTrimTop;
  if (!(result.totals[ProductVolume] > 0)) return z;
  // The bucking reports the volume of the top, the stem above where it
  // narrows to the diameter that ends the leftover; none when there is no
  // such diameter.
  const double top = result.totals[TopVolume];
  if (!(top > 0)) {
    z.topStart = tree.height;
    return z;
  }
  const double h = heightWithVolumeAbove(tree, top);
  z.topStart = std::max(z.lastTrimTop, std::min(h, tree.height));
  z.topDiam = diameterAt(tree, h);
  return z;
}

}  // namespace xtk
