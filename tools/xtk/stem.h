// One tree bucked through the library's exports, and what xtk reports of it.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "input.h"
#include "xylotrak.h"

namespace xtk {

// The scalar arguments of a bucking call and the method: objective -1 is the
// sequential bucking, 0 the optimised bucking by value, 1 by volume; exact
// selects the exact optimiser for objectives 0 and 1; exactWhenGivenUp, with
// the optimised bucking, has a tree on which its search gives up bucked by the
// exact optimiser instead (the library's inventory call decides when).
struct BuckParams {
  double stumpHeight = xylotrak_bucking_default(XYLOTRAK_DEFAULT_STUMP_HEIGHT);
  double stumpTrim = xylotrak_bucking_default(XYLOTRAK_DEFAULT_STUMP_TRIM);
  double startHeight = xylotrak_bucking_default(XYLOTRAK_DEFAULT_START_HEIGHT);
  double topHeightLimit = xylotrak_bucking_default(XYLOTRAK_DEFAULT_TOP_HEIGHT_LIMIT);
  double heightLimit = xylotrak_bucking_default(XYLOTRAK_DEFAULT_HEIGHT_LIMIT);
  int objective = -1;
  bool exact = false;
  bool exactWhenGivenUp = false;
};

// The eight stem totals in the order of the bucking exports' arguments.
enum Total {
  ProductVolume,
  StumpVolume,
  LeftoverVolume,
  TopVolume,
  TrimVolume,
  LossVolume,
  StemVolume,
  TotalValue,
  TotalCount
};
extern const std::array<const char *, TotalCount> kTotalNames;

struct BuckResult {
  double outcome = 0;  // the export's return value: 1, 0 or 99
  std::array<double, TotalCount> totals{};
  std::array<LogEntry, XYLOTRAK_LOG_ROWS> rows{};  // row 0 the stump
  std::vector<ProductSpec> products;               // the table with its results
  int logCount = 0;                                // rows 1..logCount are logs
  bool servedByExact = false;  // the search gave up and the exact optimiser answered
};

// Bucks one tree. `result.products` is the working copy of the table: when it
// already holds the same table (a previous call's), it is reused as it is,
// because the exports never write an input field.
void buck(const Tree &tree, const std::vector<Product> &products, const BuckParams &params,
          BuckResult &result);

// The arguments of the library's inventory call for a bucking by `params`
// on `threads` threads.
xylotrak_inventory_params inventoryParams(const BuckParams &params, int threads);

// "sequential", "optimised by value", "optimised by volume".
std::string methodName(const BuckParams &params);

// The height where the cutting of the stem ends and its unused part begins,
// and the height of the top: where the stem narrows to the diameter that ends
// the leftover, found as the height above which the stem holds the bucking's
// topVolume (totalHeight when that is 0). For drawing and reporting.
struct StemZones {
  double lastTrimTop = 0;  // trim top of the last log (or of the stump)
  double topStart = 0;     // where the top section begins
  double topDiam = 0;      // the diameter that ends the leftover (0: none)
};
StemZones stemZones(const Tree &tree, const BuckParams &params, const BuckResult &result);

// Diameter at a height through PHDiDll.
double diameterAt(const Tree &tree, double height);

}  // namespace xtk
