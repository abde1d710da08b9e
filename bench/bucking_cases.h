// Bucking cases shared by the benchmark and the single-run driver.
#pragma once

#include <array>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "support/bucking_call.h"
#include "xylotrak.h"

namespace bucking_bench {

// A 30 m tree of 35 cm with a five-term profile that narrows from 1.15 dbh at
// the ground to 0 at the tip:
// p(x) = 1.15 - 0.6 x^0.5 + 0.9 x - 1.6 x^2 + 0.8 x^3 - 0.65 x^5.
struct Tree {
  double dbh = 35;
  double height = 30;
  double coefs[6] = {1.15, -0.6, 0.9, -1.6, 0.8, -0.65};
  double exps[6] = {0, 0.5, 1, 2, 3, 5};
  int terms = 5;
};

// A product with a 0.1 m trim and 5% loss.
inline ProductSpec product(double minTop, double minLength, double maxLength, double price,
                           int basis, int position = 0) {
  ProductSpec p = xylotrak::support::product(minTop, minLength, maxLength, price, basis, position);
  p.trimLength = 0.1;
  p.lossFraction = 0.05;
  return p;
}

// Four assortments in priority order: veneer, saw logs, small saw logs, pulp.
inline std::vector<ProductSpec> fourProducts() {
  return {product(30, 4, 6, 180, 0), product(20, 3, 5, 95, 0), product(12, 3, 5, 60, 0),
          product(7, 2, 3, 8, 1)};
}

// Butt logs of 20 lengths (4.0 to 5.9 m), second logs of 25 lengths (3.0 to
// 5.4 m), third logs of 19 lengths (2.0 to 3.8 m), each only at its position:
// generation 3 builds 20 x 25 x 19 = 9500 sequences, which generation 4
// processes.
inline std::vector<ProductSpec> nearLimit() {
  std::vector<ProductSpec> products;
  const std::array<int, 3> counts = {20, 25, 19};
  const std::array<double, 3> shortest = {4, 3, 2}, price = {120, 90, 40};
  for (int position = 1; position <= 3; ++position)
    for (int i = 0; i < counts[position - 1]; ++i) {
      const double length = shortest[position - 1] + 0.1 * i;
      products.push_back(product(10, length, length, price[position - 1], 0, position));
    }
  return products;
}

// Fifty fixed lengths (2.0 to 6.9 m) at any position: generation 3 builds
// 50 x 50 x 50 = 125000 sequences and generation 4 gives up.
inline std::vector<ProductSpec> fiftyProducts() {
  std::vector<ProductSpec> products;
  for (int i = 0; i < 50; ++i) {
    const double length = 2 + 0.1 * i;
    products.push_back(product(8, length, length, 50 + i, 0));
  }
  return products;
}

// n fixed lengths from 2.0 m in 0.1 m steps (n <= 10) or, for n = 3, the
// short lengths 1.5, 2.0 and 2.5 m: on this stem the breadth-first search
// passes 10000 sequences in a generation and gives up.
inline std::vector<ProductSpec> givingUp(int n) {
  std::vector<ProductSpec> products;
  for (int i = 0; i < n; ++i) {
    const double length = n == 3 ? 1.5 + 0.5 * i : 2 + 0.1 * i;
    products.push_back(product(8, length, length, 50 + i, 0));
  }
  return products;
}

// The same profile on a stem of another size.
inline Tree stem(double dbh, double height) {
  Tree t;
  t.dbh = dbh;
  t.height = height;
  return t;
}

// n fixed lengths from 1.10 m in steps of `step` m (with the 10 cm trim):
// the log ends of the exact optimiser fall on more than ten thousand
// distinct heights.
inline std::vector<ProductSpec> fineLengths(int n, double step) {
  std::vector<ProductSpec> products;
  for (int i = 0; i < n; ++i) {
    const double length = 1.1 + step * i;
    products.push_back(product(8, length, length, 40 + 0.4 * i, 0));
  }
  return products;
}

// Six assortments whose logs may be anywhere between a shortest and a
// longest length (in whole decimetres, with a 10 cm trim): each log runs to
// its product's top diameter or its longest length.
inline std::vector<ProductSpec> lengthRanges() {
  return {product(30, 3.0, 5.2, 180, 0), product(22, 2.8, 4.6, 110, 0),
          product(16, 2.5, 4.0, 75, 0),  product(11, 2.2, 3.4, 45, 0),
          product(8, 1.9, 2.8, 12, 1),   product(5, 1.2, 1.7, 6, 1)};
}

struct Result {
  double code;
  std::array<double, 8> totals;
  std::array<LogEntry, 100> logs;
};

// Runs one bucking: optimised under `objective` >= 0 (the exact optimiser
// when `exact`), sequential otherwise; stump 0.3 m with a 0.1 m trim.
inline double run(const Tree &t, std::vector<ProductSpec> &products, int objective, Result &r,
                  bool exact = false) {
  using xylotrak::support::Bucking;
  const Bucking which =
      objective < 0 ? Bucking::kSequential : (exact ? Bucking::kExact : Bucking::kOptimised);
  xylotrak::support::CallArgs args;
  args.stumpTrim = 0.1;
  args.objective = objective < 0 ? 0 : objective;
  return r.code = xylotrak::support::buck(which, {t.dbh, t.height, t.coefs, t.exps, t.terms}, args,
                                          products.data(), static_cast<int>(products.size()),
                                          r.totals.data(), r.logs.data());
}

// One benchmark case: the stem, the table, the objective (-1 for the
// sequential bucking) and whether the exact optimiser makes the call.
struct Case {
  Tree tree;
  std::vector<ProductSpec> products;
  int objective = 0;
  bool exact = false;
};

// The shapes of the exact optimiser with many distinct heights: 50 and 100
// fixed lengths in 3 cm and 1.5 cm steps and the six length ranges on a
// 31 m stem of 35 cm, and the 50 lengths on a 40 m stem of 48 cm.
inline const char *const kExactShapes[] = {"fixed-50", "fixed-100", "ranges-6", "fixed-50-40m"};

// The named cases: "sequential", "near-limit", "give-up" (50 products),
// "give-up-3", "give-up-10" on the 30 m stem (searched by PHVoDll unless
// the exact optimiser is asked for), and the exact shapes above.
inline bool caseByName(const std::string &name, Case &c) {
  c = Case{};
  if (name == "sequential") {
    c.products = fourProducts();
    c.objective = -1;
  } else if (name == "near-limit") {
    c.products = nearLimit();
  } else if (name == "give-up") {
    c.products = fiftyProducts();
  } else if (name == "give-up-3" || name == "give-up-10") {
    c.products = givingUp(name == "give-up-3" ? 3 : 10);
  } else if (name == "fixed-50" || name == "fixed-100") {
    c.tree = stem(35, 31);
    c.products = name == "fixed-50" ? fineLengths(50, 0.03) : fineLengths(100, 0.015);
    c.exact = true;
  } else if (name == "ranges-6") {
    c.tree = stem(35, 31);
    c.products = lengthRanges();
    c.exact = true;
  } else if (name == "fixed-50-40m") {
    c.tree = stem(48, 40);
    c.products = fineLengths(50, 0.03);
    c.exact = true;
  } else {
    return false;
  }
  return true;
}

}  // namespace bucking_bench
