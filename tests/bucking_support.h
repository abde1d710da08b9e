// Helpers for the bucking tests. Output tables are followed by guard rows and
// every record starts as 0xAB bytes, so each call also checks that nothing is
// written outside the host's fields.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

#include "support/bucking_call.h"
#include "xylotrak.h"

namespace bucking_test {

constexpr unsigned char kFill = 0xAB;
constexpr int kRows = 100, kGuardRows = 4;
constexpr double kPi = 3.141592653589793;

using xylotrak::support::Bucking;
using CallArgs = xylotrak::support::CallArgs;

struct Tree {
  double dbh, height;
  std::vector<double> coefs, exps;
  int terms;
  xylotrak::support::StemArgs args() const {
    return {dbh, height, coefs.data(), exps.data(), terms};
  }
  double d(double h) const { return PHDiDll(dbh, height, coefs.data(), exps.data(), terms, h); }
  double hAt(double d) const { return PHHiDll(dbh, height, coefs.data(), exps.data(), terms, d); }
  double v(double lh, double uh, double ld = 0, double ud = 0) const {
    return PHViDll(dbh, height, coefs.data(), exps.data(), terms, lh, uh, ld, ud, 0);
  }
};

// The cone dbh (1 - h/H) of the worked examples, and its volume from a to b.
inline Tree cone(double dbh, double height) { return {dbh, height, {1, -1}, {0, 1}, 1}; }
inline double coneVolume(double dbh, double height, double a, double b) {
  return kPi / 40000 * dbh * dbh * height / 3 *
         (std::pow(1 - a / height, 3) - std::pow(1 - b / height, 3));
}

inline CallArgs stumpAt(double height) {
  CallArgs args;
  args.stumpHeight = height;
  return args;
}

// A product whose outputs and padding hold garbage until the call clears them.
inline ProductSpec product(double minTopDiam, double minLength, double maxLength,
                           double unitPrice = 1, int priceBasis = 0, int position = 0) {
  return xylotrak::support::product(minTopDiam, minLength, maxLength, unitPrice, priceBasis,
                                    position, kFill);
}

enum Total { kProduct, kStump, kLeftover, kTop, kTrim, kLoss, kStem, kValue };

struct Output {
  std::array<double, 8> totals;
  std::vector<LogEntry> rows = std::vector<LogEntry>(kRows + kGuardRows);
  Output() {
    std::memset(static_cast<void *>(rows.data()), kFill, rows.size() * sizeof(LogEntry));
    totals.fill(-12345);
  }
  const LogEntry &row(int k) const { return rows[k]; }
  int logs() const {  // rows up to the first after row 0 with logNumber 0
    int n = 0;
    while (n + 1 < kRows && rows[n + 1].logNumber != 0) ++n;
    return n;
  }
};

inline bool allFill(const void *p, std::size_t n) {
  const auto *bytes = static_cast<const unsigned char *>(p);
  for (std::size_t i = 0; i < n; ++i)
    if (bytes[i] != kFill) return false;
  return true;
}

inline void expectUntouched(const std::vector<ProductSpec> &products, const Output &out) {
  for (int k = 0; k < kRows; ++k) EXPECT_TRUE(allFill(&out.rows[k].reserved0, 4)) << "row " << k;
  EXPECT_TRUE(allFill(&out.rows[kRows], kGuardRows * sizeof(LogEntry))) << "guard rows written";
  for (const ProductSpec &p : products)
    EXPECT_TRUE(allFill(&p.reserved0, 2) && allFill(&p.reserved1, 6)) << "product padding";
}

// One bucking of the products, with `count` as productCount (the size of
// the table when not given); also checks that nothing was written outside
// the host's fields.
inline double buck(Bucking which, const Tree &t, const CallArgs &s,
                   std::vector<ProductSpec> &products, Output &out,
                   std::optional<int> count = std::nullopt) {
  const double r = xylotrak::support::buck(which, t.args(), s, products.data(),
                                           count.value_or(static_cast<int>(products.size())),
                                           out.totals.data(), out.rows.data());
  expectUntouched(products, out);
  return r;
}

inline double sequential(const Tree &t, const CallArgs &s, std::vector<ProductSpec> &products,
                         Output &out, std::optional<int> count = std::nullopt) {
  return buck(Bucking::kSequential, t, s, products, out, count);
}

// The optimised bucking, or the exact one (same arguments) when fn says so.
inline double optimised(const Tree &t, const CallArgs &s, std::vector<ProductSpec> &products,
                        Output &out, decltype(&PHVoDll) fn = &PHVoDll) {
  return buck(fn == &PHVxDll ? Bucking::kExact : Bucking::kOptimised, t, s, products, out);
}

inline bool rowIsZero(const LogEntry &r) {
  return r.logNumber == 0 && r.productNumber == 0 && r.baseHeight == 0 && r.length == 0 &&
         r.topHeight == 0 && r.trimTopHeight == 0 && r.baseDiam == 0 && r.topDiam == 0 &&
         r.trimTopDiam == 0 && r.volume == 0 && r.value == 0;
}
inline bool resultsAreZero(const ProductSpec &p) {
  return p.logCount == 0 && p.volumeSum == 0 && p.valueSum == 0 && p.lastTopHeight == 0 &&
         p.lastTopDiam == 0 && p.lengthSum == 0 && p.meanTopDiam == 0 && p.weightedTopDiam == 0;
}

// Nothing but the clearing: a search without a reported winner.
inline void expectCleared(const std::vector<ProductSpec> &products, const Output &out) {
  for (double t : out.totals) EXPECT_EQ(t, 0.0);
  for (int k = 0; k < kRows; ++k) EXPECT_TRUE(rowIsZero(out.rows[k])) << "row " << k;
  for (const ProductSpec &p : products) EXPECT_TRUE(resultsAreZero(p));
}

// Byte for byte the same tables and totals (padding included, so both sides
// must have started from the same fill).
inline void expectSameOutput(const std::vector<ProductSpec> &expectedProducts,
                             const Output &expected, const std::vector<ProductSpec> &products,
                             const Output &out) {
  ASSERT_EQ(products.size(), expectedProducts.size());
  EXPECT_EQ(0, std::memcmp(out.totals.data(), expected.totals.data(), sizeof out.totals))
      << "totals differ";
  for (int k = 0; k < kRows; ++k)
    EXPECT_EQ(0, std::memcmp(&out.rows[k], &expected.rows[k], sizeof(LogEntry))) << "row " << k;
  for (size_t i = 0; i < products.size(); ++i)
    EXPECT_EQ(0, std::memcmp(&products[i], &expectedProducts[i], sizeof(ProductSpec)))
        << "product " << i + 1;
}

inline void expectNearRel(double actual, double expected, double rel, const char *what) {
  EXPECT_NEAR(actual, expected, rel * std::fabs(expected) + 1e-300) << what;
}

// Rows chain from firstBase, each row's heights follow from its length and
// its product's trim, rows after the last log are zero, and per product the
// rows add up to its results; the stem totals add up the products.
inline void expectTableInvariants(const std::vector<ProductSpec> &products, const Output &out,
                                  double firstBase) {
  const size_t count = products.size();
  std::vector<double> volume(count), length(count), value(count);
  std::vector<int> logs(count);
  double base = firstBase;
  for (int k = 1; k <= out.logs(); ++k) {
    const LogEntry &r = out.row(k);
    ASSERT_EQ(r.logNumber, k);
    ASSERT_TRUE(r.productNumber >= 1 && r.productNumber <= static_cast<int>(count));
    const size_t i = r.productNumber - 1;
    EXPECT_EQ(r.baseHeight, base) << "row " << k << " starts at the previous trim top";
    EXPECT_GT(r.length, 0.0);
    EXPECT_EQ(r.topHeight, r.baseHeight + r.length);
    EXPECT_EQ(r.trimTopHeight, r.topHeight + products[i].trimLength);
    base = r.trimTopHeight;
    volume[i] += r.volume, length[i] += r.length, value[i] += r.value, ++logs[i];
  }
  for (int k = out.logs() + 1; k < kRows; ++k) EXPECT_TRUE(rowIsZero(out.row(k))) << "row " << k;
  double productVolume = 0, totalValue = 0;
  for (size_t i = 0; i < count; ++i) {
    const ProductSpec &p = products[i];
    EXPECT_EQ(p.logCount, logs[i]) << "product " << i + 1;
    expectNearRel(p.volumeSum, volume[i], 1e-12, "volumeSum");
    expectNearRel(p.lengthSum, length[i], 1e-12, "lengthSum");
    expectNearRel(p.valueSum, value[i], 1e-12, "valueSum");
    EXPECT_TRUE(logs[i] > 0 || resultsAreZero(p)) << "product " << i + 1;
    productVolume += p.volumeSum, totalValue += p.valueSum;
  }
  expectNearRel(out.totals[kProduct], productVolume, 1e-12, "productVolume");
  expectNearRel(out.totals[kValue], totalValue, 1e-12, "totalValue");
}

// Diameter evaluations of one height search for `diam`.
inline long diameterCallsOfSearch(const Tree &t, double diam) {
  tally_start();
  t.hAt(diam);
  return tally_count(3);
}

// An independent reference for small tables: the whole tree of admissible
// sequences grown depth-first, then walked level by level (breadth-first
// order is the lexicographic order of the product numbers).
struct Node {
  std::vector<int> products;
  std::vector<double> lengths;
  double cut = 0, cutDiam = 0, volume = 0, value = 0;
  int topTests = 0;           // products that reached the two top diameters
  std::vector<int> searched;  // product index of every candidate built
  std::vector<Node> children;
};

inline void grow(Node &s, const Tree &tree, const CallArgs &args,
                 const std::vector<ProductSpec> &table) {
  const int g = static_cast<int>(s.products.size()) + 1;
  for (size_t j = 0; j < table.size() && g <= 99; ++j) {
    const ProductSpec &p = table[j];
    if (!(p.logPosition == 0 || p.logPosition == 99 || p.logPosition == g) ||
        !(p.heightRule == 0 || (p.heightRule == 1 && args.heightLimit >= s.cut + p.minLength)) ||
        !(s.cutDiam >= p.minBaseDiam && p.maxBaseDiam >= s.cutDiam) ||
        !(std::fmin(args.topHeightLimit, tree.height) >= s.cut + p.minLength))
      continue;
    ++s.topTests;
    const double d1 = tree.d(s.cut + p.minLength), d2 = tree.d(s.cut + p.maxLength);
    if (!(d1 >= p.minTopDiam && p.maxTopDiam >= d2)) continue;
    s.searched.push_back(static_cast<int>(j));
    const double top = std::fmin(tree.hAt(p.minTopDiam), s.cut + p.maxLength);
    Node c;
    c.products = s.products, c.lengths = s.lengths;
    c.products.push_back(static_cast<int>(j) + 1);
    c.lengths.push_back(top - s.cut);
    c.cut = top + p.trimLength;
    c.cutDiam = tree.d(c.cut);
    const double gross = tree.v(s.cut, top), net = (1 - p.lossFraction) * gross;
    const double price[] = {net * p.unitPrice, p.unitPrice * (top - s.cut), p.unitPrice, 0};
    c.volume = s.volume + net;
    c.value = s.value + price[p.priceBasis >= 0 && p.priceBasis <= 2 ? p.priceBasis : 3];
    if (gross > 0 && top > s.cut) s.children.push_back(c);
  }
  for (Node &c : s.children) grow(c, tree, args, table);
}

inline void collect(const Node &n, std::vector<std::vector<const Node *>> &levels) {
  if (levels.size() <= n.products.size()) levels.resize(n.products.size() + 1);
  levels[n.products.size()].push_back(&n);
  for (const Node &c : n.children) collect(c, levels);
}

}  // namespace bucking_test
