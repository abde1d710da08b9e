// Handling of the product table, the log table and the eight stem totals,
// shared by both bucking exports. Records are written field by field: the
// reserved (padding) members and the input fields of the host's records are
// never touched.
#pragma once

#include <cstdint>

#include "xylotrak.h"

namespace xylotrak::bucking {

constexpr int kLogRows = XYLOTRAK_LOG_ROWS;  // row 0 the stump, rows 1..99 logs
constexpr int kMaxLogs = kLogRows - 1;
constexpr double kNoLimit = 999;  // a diameter test that is to pass

// The taper model of one call. Every evaluation is a full call of the
// exported function, so the call accounting sees it.
struct Stem {
  double dbh;
  double totalHeight;
  const double *coefs;
  const double *exps;
  int termCount;

  double diameter(double height) const;
  double heightAt(double diam) const;
  // Section volume with the five limits in the export's order.
  double volume(double lowerHeight, double upperHeight, double lowerDiam, double upperDiam,
                double logLength) const;
  // Volume between two heights.
  double between(double lower, double upper) const { return volume(lower, upper, 0, 0, 0); }
};

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

// The stump row: D(0), D(stumpHeight), D(stumpHeight + stumpTrim) and
// V(0, stumpHeight) evaluated in that order. Returns the stump volume.
double writeStumpRow(const Stem &stem, LogEntry &row, double stumpHeight, double stumpTrim);

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

}  // namespace xylotrak::bucking
