#include "bucking/tables.h"

#include <algorithm>

#include "bucking/bucking.h"

namespace xylotrak::bucking {

void Totals::clear() const {
  *productVolume = 0;
  *stumpVolume = 0;
  *leftoverVolume = 0;
  *topVolume = 0;
  *trimVolume = 0;
  *lossVolume = 0;
  *stemVolume = 0;
  *totalValue = 0;
}

void clearResults(ProductSpec &product) {
  product.logCount = 0;
  product.volumeSum = 0;
  product.valueSum = 0;
  product.lastTopHeight = 0;
  product.lastTopDiam = 0;
  product.lengthSum = 0;
  product.meanTopDiam = 0;
  product.weightedTopDiam = 0;
}

void clearLogTable(LogEntry *logs) {
  for (int k = 0; k < kLogRows; ++k) {
    LogEntry &row = logs[k];
    row.logNumber = 0;
    row.productNumber = 0;
    row.baseHeight = 0;
    row.length = 0;
    row.topHeight = 0;
    row.trimTopHeight = 0;
    row.baseDiam = 0;
    row.topDiam = 0;
    row.trimTopDiam = 0;
    row.volume = 0;
    row.value = 0;
  }
}

void clearOutput(const Totals &totals, ProductSpec *products, int count, LogEntry *logs) {
  totals.clear();
  for (int i = 0; i < count; ++i) clearResults(products[i]);
  clearLogTable(logs);
}

double volumeOfStump(Stem &stem, double stumpHeight) {
  // V(0, h) with h <= 0 would read the upper limit as absent: the whole stem.
  return stumpHeight > 0 ? stem.between(0, stumpHeight) : 0;
}

namespace {

// Writes every field of a row but the padding.
void fillRow(LogEntry &row, int k, int p, const LogCut &cut, double volume, double value) {
  row.logNumber = static_cast<std::int16_t>(k);
  row.productNumber = static_cast<std::int16_t>(p);
  row.baseHeight = cut.base;
  row.length = cut.length;
  row.topHeight = cut.top;
  row.trimTopHeight = cut.trimTop;
  row.baseDiam = cut.baseDiam;
  row.topDiam = cut.topDiam;
  row.trimTopDiam = cut.trimTopDiam;
  row.volume = volume;
  row.value = value;
}

}  // namespace

double writeStumpRow(Stem &stem, LogEntry &row, double stumpHeight, double stumpTrim) {
  LogCut cut{};
  cut.base = 0;
  cut.length = stumpHeight;
  cut.top = stumpHeight;
  cut.trimTop = stumpHeight + stumpTrim;
  cut.baseDiam = stem.diameter(0);
  cut.topDiam = stem.diameter(stumpHeight);
  cut.trimTopDiam = stem.diameter(cut.trimTop);
  cut.gross = volumeOfStump(stem, stumpHeight);
  fillRow(row, 0, 0, cut, cut.gross, 0);  // no loss and no value on the stump
  return cut.gross;
}

double logValue(const ProductSpec &product, double netVolume, double length) {
  switch (product.priceBasis) {
    case 0:
      return netVolume * product.unitPrice;
    case 1:
      return length * product.unitPrice;
    case 2:
      return product.unitPrice;
    default:
      return 0;
  }
}

double writeLogRow(LogEntry &row, int k, int p, const ProductSpec &product, const LogCut &cut,
                   double *value) {
  const double net = (1 - product.lossFraction) * cut.gross;
  *value = logValue(product, net, cut.length);
  fillRow(row, k, p, cut, net, *value);
  return net;
}

void setAverages(ProductSpec &product, double topDiamSum, double weightedSum) {
  product.meanTopDiam = topDiamSum / product.logCount;
  if (product.volumeSum > 0) product.weightedTopDiam = weightedSum / product.volumeSum;
}

void finishTotals(Stem &stem, const LogSums &sums, double stumpVolume, double stumpHeight,
                  double stumpTrim, double lastTrimTop, double leftoverTopDiam,
                  const Totals &totals) {
  const double stumpTop = stumpHeight + stumpTrim;
  double trimVolume = sums.trimVolume;
  if (stumpTrim > 0) trimVolume = trimVolume + stem.between(stumpHeight, stumpTop);
  double leftover = 0;
  double tip = 0;
  if (sums.productVolume > 0) {
    leftover = stem.volume(lastTrimTop, 0, 0, leftoverTopDiam, 0);
    if (leftoverTopDiam > 0) tip = stem.volume(0, 0, leftoverTopDiam, 0, 0);
  } else {
    tip = stem.volume(stumpTop, 0, 0, 0, 0);
  }
  const double whole = stem.volume(0, 0, 0, 0, 0);

  *totals.productVolume = sums.productVolume;
  *totals.stumpVolume = stumpVolume;
  *totals.leftoverVolume = leftover;
  *totals.topVolume = tip;
  *totals.trimVolume = trimVolume;
  *totals.lossVolume = sums.lossVolume;
  *totals.stemVolume = whole;
  *totals.totalValue = sums.totalValue;
}

// The height above which the stem holds `volume`: a bisection on the volume
// above a height, which falls as the height rises, down to adjacent doubles.
double heightWithVolumeAbove(Stem &stem, double volume) noexcept {
  double below = 0, above = stem.model().totalHeight;
  for (;;) {
    const double mid = below + (above - below) / 2;
    if (!(mid > below && mid < above)) return above;
    if (stem.volume(mid, 0, 0, 0, 0) > volume)
      below = mid;
    else
      above = mid;
  }
}

Zones stemZones(Stem &stem, double stumpHeight, double stumpTrim, const LogEntry *logs,
                const double *totals) noexcept {
  int n = 0;
  while (n + 1 < kLogRows && logs[n + 1].logNumber != 0) ++n;
  Zones z;
  z.lastTrimTop = n > 0 ? logs[n].trimTopHeight : stumpHeight + stumpTrim;
  z.topStart = z.lastTrimTop;
  if (!(totals[0] > 0)) return z;  // no product volume
  const double totalHeight = stem.model().totalHeight;
  const double top = totals[3];
  if (!(top > 0)) {
    z.topStart = totalHeight;
    return z;
  }
  const double h = heightWithVolumeAbove(stem, top);
  z.topStart = std::max(z.lastTrimTop, std::min(h, totalHeight));
  z.topDiam = stem.diameter(h);
  return z;
}

}  // namespace xylotrak::bucking
