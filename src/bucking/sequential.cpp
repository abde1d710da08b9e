// Sequential bucking: one greedy pass from the stump upward, the products in
// table order, each cutting consecutive logs until one of its rules fails.
#include "abi.h"
#include "bucking/bucking.h"
#include "bucking/tables.h"
#include "xylotrak.h"

using namespace xylotrak;
using namespace xylotrak::bucking;

namespace {

// Cuts the logs of one product from height *base upward; *logs counts the
// logs of the whole stem. The calls to the taper exports follow the order of
// the checks: the three diameters of a try, the height search for a
// shortened log, the log's volume and trim volume, the row's diameters.
void cutProduct(Stem &stem, double topLimit, double heightLimit, ProductSpec &product, int number,
                LogEntry *table, double *base, int *logs, LogSums &run) {
  clearResults(product);
  double topDiamSum = 0;
  double weightedSum = 0;
  double b = *base;
  for (;;) {
    if (*logs >= kMaxLogs) break;  // the table is full: no further log is tried
    const int position = product.logPosition;
    if (!(position == 0 || position == 99 || position == *logs + 1)) break;

    const double minLength = product.minLength;
    const double maxLength = product.maxLength;
    const double dBase = stem.diameter(b);
    const double dMin = minLength > 0 ? stem.diameter(b + minLength) : kNoLimit;
    const double dMax = maxLength > 0 ? stem.diameter(b + maxLength) : 0;

    const int rule = product.heightRule;
    if (rule == 1) {
      if (!(heightLimit >= b + minLength)) break;
    } else if (rule != 0) {
      break;
    }
    if (!(topLimit > b + minLength)) break;
    if (!(dBase >= product.minBaseDiam)) break;
    if (!(dBase <= product.maxBaseDiam)) break;
    if (!(dMin >= product.minTopDiam)) break;
    if (!(dMax <= product.maxTopDiam)) break;

    double length;
    if (dMax >= product.minTopDiam && (rule == 0 || heightLimit >= b + maxLength)) {
      length = maxLength;
    } else {
      length = stem.heightAt(product.minTopDiam) - b;
      if (rule == 1 && b + length > heightLimit && heightLimit - b >= minLength)
        length = heightLimit - b;
    }
    if (!(length > 0)) break;  // a log without length would never move the cut upward

    ++*logs;
    ++product.logCount;
    LogCut cut{};
    cut.base = b;
    cut.length = length;
    cut.top = b + length;
    cut.trimTop = cut.top + product.trimLength;
    cut.gross = stem.between(b, cut.top);
    const double lossFraction = product.lossFraction;
    product.volumeSum = product.volumeSum + (1 - lossFraction) * cut.gross;
    run.lossVolume = run.lossVolume + lossFraction * cut.gross;
    product.lengthSum = product.lengthSum + length;
    run.trimVolume = run.trimVolume + stem.between(cut.top, cut.trimTop);
    cut.baseDiam = stem.diameter(b);
    cut.topDiam = stem.diameter(cut.top);
    cut.trimTopDiam = stem.diameter(cut.trimTop);
    double value = 0;
    const double net = writeLogRow(table[*logs], *logs, number, product, cut, &value);
    topDiamSum = topDiamSum + cut.topDiam;
    weightedSum = weightedSum + net * cut.topDiam;
    b = cut.trimTop;
  }
  *base = b;
  if (product.logCount <= 0) return;

  product.lastTopHeight = b - product.trimLength;
  product.lastTopDiam = stem.diameter(product.lastTopHeight);
  run.productVolume = run.productVolume + product.volumeSum;
  switch (product.priceBasis) {
    case 0:
      product.valueSum = product.unitPrice * product.volumeSum;
      break;
    case 1:
      product.valueSum = product.unitPrice * product.lengthSum;
      break;
    case 2:
      product.valueSum = product.logCount * product.unitPrice;
      break;
    default:
      break;
  }
  run.totalValue = run.totalValue + product.valueSum;
  setAverages(product, topDiamSum, weightedSum);
}

}  // namespace

Bucked xylotrak::bucking::buckSequentially(const taper::Model &model, const Heights &heights,
                                           ProductSpec *products, int productCount,
                                           const Totals &totals, LogEntry *logs) noexcept {
  Stem stem(model, taper::Memory::kCached);
  totals.clear();
  clearLogTable(logs);
  const double stumpHeight = heights.stumpHeight, stumpTrim = heights.stumpTrim;
  writeStumpRow(stem, logs[0], stumpHeight, stumpTrim);

  const double stumpTop = stumpHeight + stumpTrim;
  const double topLimit =
      heights.topHeightLimit < model.totalHeight ? heights.topHeightLimit : model.totalHeight;
  double base = heights.startHeight > stumpTop ? heights.startHeight : stumpTop;
  int logCount = 0;
  LogSums run;
  const int count = low16(productCount);
  for (int i = 0; i < count; ++i)
    cutProduct(stem, topLimit, heights.heightLimit, products[i], i + 1, logs, &base, &logCount,
               run);

  // The leftover ends where the stem narrows to the last product's minimum
  // top diameter (it is only read when some product yielded volume).
  const double lastMinTop = count > 0 ? products[count - 1].minTopDiam : kNoLimit;
  finishTotals(stem, run, volumeOfStump(stem, stumpHeight), stumpHeight, stumpTrim, base,
               lastMinTop, totals);
  return {1.0, stem.tally(), false};
}
