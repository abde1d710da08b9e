#include "bucking/search.h"

#include <cmath>
#include <new>

#include "abi.h"
#include "bucking/bucking.h"

namespace xylotrak::bucking {

bool extendWith(Stem &stem, const SearchLimits &limits, const ProductSpec &p, int g,
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
  const double totalHeight = stem.model().totalHeight;
  const double bound =
      limits.topHeightLimit < totalHeight ? limits.topHeightLimit : totalHeight;  // NaN: the tree
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

namespace {

// Clears the totals, each product's results and the log table, in that
// order; returns the smallest minTopDiam of the table (999 for none), which
// bounds the leftover of a winner.
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

// Writes the stump row, rows 1..n of the winner, the product results and
// the eight totals.
void assembleWinner(Stem &stem, const LogSequence &w, double stumpHeight, double stumpTrim,
                    ProductSpec *products, double minTopDiam, const Totals &totals,
                    LogEntry *logs) {
  const int n = w.logs;
  const double stump = writeStumpRow(stem, logs[0], stumpHeight, stumpTrim);
  LogSums sums;
  double rowTopDiam[kLogRows] = {};
  double rowVolume[kLogRows] = {};
  double base = stumpHeight + stumpTrim;
  for (int k = 1; k <= n; ++k) {
    const int number = w.products[k];
    ProductSpec &p = products[number - 1];
    LogCut cut{};
    cut.base = base;
    cut.length = w.lengths[k];
    cut.top = base + cut.length;
    cut.trimTop = cut.top + p.trimLength;
    cut.baseDiam = stem.diameter(cut.base);
    cut.topDiam = stem.diameter(cut.top);
    cut.trimTopDiam = stem.diameter(cut.trimTop);
    cut.gross = stem.between(cut.base, cut.top);
    double value = 0;
    const double net = writeLogRow(logs[k], k, number, p, cut, &value);
    sums.lossVolume = sums.lossVolume + p.lossFraction * cut.gross;
    sums.productVolume = sums.productVolume + net;
    sums.trimVolume = sums.trimVolume + stem.between(cut.top, cut.trimTop);
    sums.totalValue = sums.totalValue + value;

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
    const int number = w.products[k];
    bool seen = false;
    for (int e = 1; e < k && !seen; ++e) seen = w.products[e] == number;
    if (seen) continue;
    double topDiamSum = 0, weightedSum = 0;
    for (int e = k; e <= n; ++e) {
      if (w.products[e] != number) continue;
      topDiamSum = topDiamSum + rowTopDiam[e];
      weightedSum = weightedSum + rowTopDiam[e] * rowVolume[e];
    }
    setAverages(products[number - 1], topDiamSum, weightedSum);
  }
  // The stump volume is the stump row's; the leftover ends at the smallest
  // minimum top diameter of the table.
  finishTotals(stem, sums, stump, stumpHeight, stumpTrim, base, minTopDiam, totals);
}

}  // namespace

Bucked buckBySearch(Search search, const taper::Model &model, const Heights &heights,
                    ProductSpec *products, int productCount, int objective, const Totals &totals,
                    LogEntry *logs) noexcept {
  Stem stem(model, taper::Memory::kCached);
  const int read = low16(productCount);
  const int count = read > 0 ? read : 0;  // 0 or less: an empty table
  const double minTopDiam = prepareOutput(totals, products, count, logs);
  const SearchCall call{{heights.topHeightLimit, heights.heightLimit},
                        heights.stumpHeight + heights.stumpTrim,
                        products,
                        count,
                        low16(objective)};
  Bucked bucked;
  bucked.outcome = guarded(
      [&] {
        LogSequence winner;
        const Outcome outcome = search(stem, call, winner);  // its memory is gone on return
        if (outcome == Outcome::kGivenUp) return 99.0;
        if (outcome != Outcome::kWinner) return 0.0;
        assembleWinner(stem, winner, heights.stumpHeight, heights.stumpTrim, products, minTopDiam,
                       totals, logs);
        return 1.0;
      },
      [&](Failure) {
        // Out of memory in the search: nothing to report, the output as cleared.
        clearOutput(totals, products, count, logs);
        bucked.outOfMemory = true;
        return 99.0;
      });
  bucked.inner = stem.tally();
  return bucked;
}

}  // namespace xylotrak::bucking
