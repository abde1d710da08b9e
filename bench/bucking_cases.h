// Bucking cases shared by the benchmark and the single-run driver.
#pragma once

#include <array>
#include <cstring>
#include <string>
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

// The named cases: "sequential", "near-limit", "give-up" (50 products),
// "give-up-3", "give-up-10".
inline bool caseByName(const std::string &name, std::vector<ProductSpec> &products,
                       int &objective) {
  if (name == "sequential") {
    products = fourProducts();
    objective = -1;
  } else if (name == "near-limit") {
    products = nearLimit();
    objective = 0;
  } else if (name == "give-up") {
    products = fiftyProducts();
    objective = 0;
  } else if (name == "give-up-3" || name == "give-up-10") {
    products = givingUp(name == "give-up-3" ? 3 : 10);
    objective = 0;
  } else {
    return false;
  }
  return true;
}

}  // namespace bucking_bench
