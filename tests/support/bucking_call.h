// Calling the bucking exports from the tests, the benchmarks and the fuzz
// harnesses: a product record made from its rules, and one call of any of
// the three buckings with its scalars and output areas.
#pragma once

#include <cstdint>
#include <cstring>

#include "xylotrak.h"

namespace xylotrak::support {

enum class Bucking { kSequential, kOptimised, kExact };

// The taper model, the first five arguments of every bucking.
struct StemArgs {
  double dbh;
  double height;
  const double *coefs;
  const double *exps;
  int terms;
};

// Arguments 6 to 12, with the defaults of a plain call, and the objective
// of the searches.
struct CallArgs {
  double startHeight = 0;
  double topHeightLimit = 999;
  double unused8 = 0;
  double unused9 = 0;
  double stumpHeight = 0.3;
  double stumpTrim = 0;
  double heightLimit = 999;
  int objective = 0;
};

// One call; `totals` are the pointers to the eight totals in argument order.
inline double buck(Bucking which, const StemArgs &s, const CallArgs &a, ProductSpec *products,
                   int productCount, double *const (&totals)[8], LogEntry *logs) {
  double *const *t = totals;
  if (which == Bucking::kSequential) {
    return PHVsDll(s.dbh, s.height, s.coefs, s.exps, s.terms, a.startHeight, a.topHeightLimit,
                   a.unused8, a.unused9, a.stumpHeight, a.stumpTrim, a.heightLimit, products,
                   productCount, t[0], t[1], t[2], t[3], t[4], t[5], t[6], t[7], logs);
  }
  return (which == Bucking::kOptimised ? PHVoDll : PHVxDll)(
      s.dbh, s.height, s.coefs, s.exps, s.terms, a.startHeight, a.topHeightLimit, a.unused8,
      a.unused9, a.stumpHeight, a.stumpTrim, a.heightLimit, products, productCount, a.objective,
      t[0], t[1], t[2], t[3], t[4], t[5], t[6], t[7], logs);
}

// The same with the eight totals side by side in one array.
inline double buck(Bucking which, const StemArgs &s, const CallArgs &a, ProductSpec *products,
                   int productCount, double *totals, LogEntry *logs) {
  double *const each[8] = {totals,     totals + 1, totals + 2, totals + 3,
                           totals + 4, totals + 5, totals + 6, totals + 7};
  return buck(which, s, a, products, productCount, each, logs);
}

// A product of the given rules and price, at any position, with any base
// diameter, no maximum top diameter, no height rule, loss or trim. Every
// other byte of the record (the outputs and the padding) is `fill`.
inline ProductSpec product(double minTopDiam, double minLength, double maxLength,
                           double unitPrice = 1, int priceBasis = 0, int position = 0,
                           unsigned char fill = 0) {
  ProductSpec p;
  std::memset(&p, fill, sizeof p);
  p.minTopDiam = minTopDiam;
  p.maxTopDiam = 999;
  p.minBaseDiam = 0;
  p.maxBaseDiam = 999;
  p.minLength = minLength;
  p.maxLength = maxLength;
  p.unitPrice = unitPrice;
  p.priceBasis = static_cast<std::int16_t>(priceBasis);
  p.logPosition = static_cast<std::int16_t>(position);
  p.heightRule = 0;
  p.lossFraction = 0;
  p.trimLength = 0;
  return p;
}

}  // namespace xylotrak::support
