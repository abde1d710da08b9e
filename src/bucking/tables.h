// Handling of the product table, the log table and the eight stem totals,
// shared by both bucking exports. Records are written field by field: the
// reserved (padding) members and the input fields of the host's records are
// never touched.
#pragma once

#include <cstdint>

#include "abi.h"
#include "taper/evaluation.h"
#include "xylotrak.h"

namespace xylotrak::bucking {

constexpr int kLogRows = XYLOTRAK_LOG_ROWS;  // row 0 the stump, rows 1..99 logs
constexpr int kMaxLogs = kLogRows - 1;

// The stem of one call: diameters, heights and volumes from the taper core,
// tallied as the exports they stand for and remembered within the call.
using Stem = taper::Evaluator;

// The eight totals, each written through its own pointer, in argument order.
struct Totals {
  double *productVolume;
  double *stumpVolume;
  double *leftoverVolume;
  double *topVolume;
  double *trimVolume;
  double *lossVolume;
  double *stemVolume;
  double *totalValue;

  void clear() const;
};

// Sets logCount and the seven result doubles to 0.
void clearResults(ProductSpec &product);
// Sets logNumber, productNumber and the nine doubles of all 100 rows to 0.
void clearLogTable(LogEntry *logs);
// Clears the totals, then every product's results, then the log table.
void clearOutput(const Totals &totals, ProductSpec *products, int count, LogEntry *logs);

// The stump's volume, from the ground to stumpHeight: 0 for a stump height
// of 0 or below (or NaN), with no volume evaluated, since a stem bucked from
// the ground has no stump.
double volumeOfStump(Stem &stem, double stumpHeight);

// The stump row: D(0), D(stumpHeight), D(stumpHeight + stumpTrim) and
// V(0, stumpHeight) evaluated in that order. Returns the stump volume.
double writeStumpRow(Stem &stem, LogEntry &row, double stumpHeight, double stumpTrim);

// Value of one log by its product's price basis; 0 for an unknown basis.
double logValue(const ProductSpec &product, double netVolume, double length);

// The geometry of one log, evaluated by the caller in its own call order.
struct LogCut {
  double base;
  double length;
  double top;      // base + length
  double trimTop;  // top + trimLength
  double baseDiam;
  double topDiam;
  double trimTopDiam;
  double gross;  // section volume V(base, top)
};

// Fills row k for product number p (1-based). Returns the row's net volume;
// the row's value is left in *value.
double writeLogRow(LogEntry &row, int k, int p, const ProductSpec &product, const LogCut &cut,
                   double *value);

// Sets the two averages of a product with logCount > 0 from its sums of top
// diameters and of net volume times top diameter.
void setAverages(ProductSpec &product, double topDiamSum, double weightedSum);

// What the logs add to the stem totals, summed log by log from the stump up.
struct LogSums {
  double productVolume = 0;
  double trimVolume = 0;
  double lossVolume = 0;
  double totalValue = 0;
};

// Writes the eight totals once the logs are cut: the stump volume as the
// export has it, the stump trim added to the trim volume, then the leftover
// from `lastTrimTop` (the trim top of the last log) up to where the stem
// narrows to `leftoverTopDiam` and the tip above that, or without product
// volume the whole stem above the stump's trim top, and the whole stem.
// Which minimum top diameter bounds the leftover is the one thing the
// buckings differ in: the sequential bucking takes the last product's, the
// searches the smallest of the table.
void finishTotals(Stem &stem, const LogSums &sums, double stumpVolume, double stumpHeight,
                  double stumpTrim, double lastTrimTop, double leftoverTopDiam,
                  const Totals &totals);

}  // namespace xylotrak::bucking
