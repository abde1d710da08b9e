#include "bucking/search.h"

#include <cmath>

namespace xylotrak::bucking {

bool extendWith(const Stem &stem, const SearchLimits &limits, const ProductSpec &p, int g,
                double cutHeight, double cutDiam, Extension &out, double *heightAtMinTop) {
  // Admission, cheapest tests first; a NaN comparison fails.
  const int position = p.logPosition;
  if (!(position == 0 || position == 99 || position == g)) return false;
  const double minEnd = cutHeight + p.minLength;
  if (p.heightRule == 1) {
    if (!(limits.heightLimit >= minEnd)) return false;
  } else if (p.heightRule != 0) {
    return false;
  }
  if (!(cutDiam >= p.minBaseDiam && p.maxBaseDiam >= cutDiam)) return false;
  const double bound = limits.topHeightLimit < stem.totalHeight
                           ? limits.topHeightLimit
                           : stem.totalHeight;  // NaN: the tree
  if (!(bound >= minEnd)) return false;
  const double d1 = stem.diameter(minEnd);
  const double d2 = stem.diameter(cutHeight + p.maxLength);
  if (!(d1 >= p.minTopDiam && p.maxTopDiam >= d2)) return false;

  // The log runs up to where the stem narrows to minTopDiam, at most maxLength.
  double hMin;
  if (heightAtMinTop != nullptr && !std::isnan(*heightAtMinTop)) {
    hMin = *heightAtMinTop;
  } else {
    hMin = stem.heightAt(p.minTopDiam);
    if (heightAtMinTop != nullptr) *heightAtMinTop = hMin;
  }
  const double maxEnd = cutHeight + p.maxLength;
  const double top = hMin >= maxEnd ? maxEnd : hMin;
  out.length = top - cutHeight;
  out.cutHeight = top + p.trimLength;
  out.cutDiam = stem.diameter(out.cutHeight);
  const double gross = stem.between(cutHeight, top);
  out.net = (1 - p.lossFraction) * gross;
  out.value = logValue(p, out.net, out.length);
  // Only a log with volume and with a length counts.
  out.accepted = gross > 0 && out.length > 0;
  return true;
}

double prepareOutput(const Totals &totals, ProductSpec *products, int count, LogEntry *logs) {
  totals.clear();
  double minTopDiam = kNoLimit;
  for (int i = 0; i < count; ++i) {
    clearResults(products[i]);
    if (products[i].minTopDiam < minTopDiam) minTopDiam = products[i].minTopDiam;
  }
  clearLogTable(logs);
  return minTopDiam;
}

void assembleWinner(const Stem &stem, int n, const std::int16_t *logProducts,
                    const double *logLengths, double stumpHeight, double stumpTrim,
                    ProductSpec *products, double minTopDiam, const Totals &totals,
                    LogEntry *logs) {
  const double stumpTop = stumpHeight + stumpTrim;
  const double stump = writeStumpRow(stem, logs[0], stumpHeight, stumpTrim);
  double productVolume = 0, trimVolume = 0, lossVolume = 0, totalValue = 0;
  double rowTopDiam[kLogRows] = {};
  double rowVolume[kLogRows] = {};
  double base = stumpTop;
  for (int k = 1; k <= n; ++k) {
    const int number = logProducts[k];
    ProductSpec &p = products[number - 1];
    LogCut cut{};
    cut.base = base;
    cut.length = logLengths[k];
    cut.top = base + cut.length;
    cut.trimTop = cut.top + p.trimLength;
    cut.baseDiam = stem.diameter(cut.base);
    cut.topDiam = stem.diameter(cut.top);
    cut.trimTopDiam = stem.diameter(cut.trimTop);
    cut.gross = stem.between(cut.base, cut.top);
    double value = 0;
    const double net = writeLogRow(logs[k], k, number, p, cut, &value);
    lossVolume = lossVolume + p.lossFraction * cut.gross;
    productVolume = productVolume + net;
    trimVolume = trimVolume + stem.between(cut.top, cut.trimTop);
    totalValue = totalValue + value;

    ++p.logCount;
    p.volumeSum = p.volumeSum + net;
    p.valueSum = p.valueSum + value;
    p.lengthSum = p.lengthSum + cut.length;
    p.lastTopHeight = cut.top;
    p.lastTopDiam = cut.topDiam;
    rowTopDiam[k] = cut.topDiam;
    rowVolume[k] = net;
    base = cut.trimTop;
  }
  // Averages: each product's sums run over its rows from the stump upward.
  for (int k = 1; k <= n; ++k) {
    const int number = logProducts[k];
    bool seen = false;
    for (int e = 1; e < k && !seen; ++e) seen = logProducts[e] == number;
    if (seen) continue;
    double topDiamSum = 0, weightedSum = 0;
    for (int e = k; e <= n; ++e) {
      if (logProducts[e] != number) continue;
      topDiamSum = topDiamSum + rowTopDiam[e];
      weightedSum = weightedSum + rowTopDiam[e] * rowVolume[e];
    }
    setAverages(products[number - 1], topDiamSum, weightedSum);
  }

  if (stumpTrim > 0) trimVolume = trimVolume + stem.between(stumpHeight, stumpTop);
  double leftover = 0, tip = 0;
  if (productVolume > 0) {
    leftover = stem.volume(base, 0, 0, minTopDiam, 0);  // base: the last trim top
  } else {
    tip = stem.volume(stumpTop, 0, 0, 0, 0);
  }
  if (productVolume > 0 && minTopDiam > 0) tip = stem.volume(0, 0, minTopDiam, 0, 0);
  const double whole = stem.volume(0, 0, 0, 0, 0);

  *totals.productVolume = productVolume;
  *totals.stumpVolume = stump;
  *totals.leftoverVolume = leftover;
  *totals.topVolume = tip;
  *totals.trimVolume = trimVolume;
  *totals.lossVolume = lossVolume;
  *totals.stemVolume = whole;
  *totals.totalValue = totalValue;
}

}  // namespace xylotrak::bucking
