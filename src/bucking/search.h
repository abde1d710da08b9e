// What the two searching bucking exports share: trying a product as the next
// log of a sequence, clearing the output on entry, and writing the winning
// sequence into the caller's tables.
#pragma once

#include <cstdint>

#include "bucking/tables.h"
#include "xylotrak.h"

namespace xylotrak::bucking {

struct SearchLimits {
  double topHeightLimit;  // the smaller of it and totalHeight bounds a minimum-length log
  double heightLimit;     // for products with heightRule 1
};

// A log of one product appended to a sequence whose next cut is at
// cutHeight.
struct Extension {
  double length;     // top - cutHeight
  double cutHeight;  // top + trimLength: where the following log would begin
  double cutDiam;    // D(cutHeight)
  double net;        // (1 - lossFraction) * V(old cutHeight, top)
  double value;      // by the price basis; 0 for an unknown basis
  bool accepted;     // positive volume and positive length
};

// Admission of product p as log number g (position, height rule, base
// diameter, height bound, then the two top diameters), then the candidate:
// its top where the stem narrows to minTopDiam but at most maxLength up, its
// cut and volume. Returns false when p is not admitted (nothing built); the
// taper calls are made in exactly this order. With `heightAtMinTop` given,
// the height search for minTopDiam runs only while it holds NaN and its
// result is kept there (the height depends on the product alone).
bool extendWith(const Stem &stem, const SearchLimits &limits, const ProductSpec &p, int g,
                double cutHeight, double cutDiam, Extension &out, double *heightAtMinTop = nullptr);

// Clears the totals, each product's results and the log table, in that
// order; returns the smallest minTopDiam of the table (999 for none).
double prepareOutput(const Totals &totals, ProductSpec *products, int count, LogEntry *logs);

// Writes the stump row, rows 1..n of the sequence (entries 1..n of the two
// arrays), the product results and the eight totals.
void assembleWinner(const Stem &stem, int n, const std::int16_t *logProducts,
                    const double *logLengths, double stumpHeight, double stumpTrim,
                    ProductSpec *products, double minTopDiam, const Totals &totals, LogEntry *logs);

}  // namespace xylotrak::bucking
