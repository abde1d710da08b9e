// The host side of one bucking call, decoded from the fuzz input: the taper
// model, the scalars, a product table of up to maxProducts records and the
// 100-row log table, each table ending at a guard page. After the call the
// checks that the bucking exports share are made here; the table and the
// output memory can be put back as they were, so that the same call can be
// made again and its answers compared.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "abi.h"
#include "fuzz_support.h"
#include "support/bucking_call.h"

namespace fuzz {

constexpr int kRows = XYLOTRAK_LOG_ROWS;

// What one call answered: its result, every byte of the memory it writes,
// and what it counted since the tally_start() made just before it (its own
// accounting slot and the volume, diameter and height calls it stands for).
struct Answer {
  double result = 0;
  double totals[8] = {};
  LogEntry logs[kRows] = {};
  std::vector<ProductSpec> products;  // the whole table; capacity kept across runs
  std::int32_t counted[4] = {};
};

// Two answers the same to the bit, NaN payloads and unwritten bytes included;
// each part is checked on its own, so a failure names the part that differs.
inline void checkSameAnswer(const Answer &a, const Answer &b) {
  FUZZ_CHECK(sameBits(a.result, b.result));
  FUZZ_CHECK(sameBits(a.totals, b.totals, sizeof a.totals));
  FUZZ_CHECK(sameBits(a.logs, b.logs, sizeof a.logs));
  FUZZ_CHECK(a.products.size() == b.products.size());
  FUZZ_CHECK(
      sameBits(a.products.data(), b.products.data(), a.products.size() * sizeof(ProductSpec)));
  FUZZ_CHECK(a.counted[0] == b.counted[0]);  // the export's own calls
  FUZZ_CHECK(a.counted[1] == b.counted[1]);  // volume calls
  FUZZ_CHECK(a.counted[2] == b.counted[2]);  // diameter calls
  FUZZ_CHECK(a.counted[3] == b.counted[3]);  // height calls
}

class BuckingHost {
 public:
  BuckingHost(int maxTerms, int maxProducts)
      : maxTerms_(maxTerms),
        maxProducts_(maxProducts),
        coefArray_(static_cast<std::size_t>(maxTerms) + 1),
        expArray_(static_cast<std::size_t>(maxTerms) + 1),
        productRegion_(static_cast<std::size_t>(maxProducts) * sizeof(ProductSpec)),
        logRegion_(kRows * sizeof(LogEntry)),
        productCopy_(static_cast<std::size_t>(maxProducts)) {}

  // Taper model and scalars, then the table size and productCount.
  void decodeCall(Reader &in) {
    dbh = in.real(0, 100);
    totalHeight = in.real(0, 50);
    termCount = in.count(maxTerms_);
    const std::size_t entries =
        static_cast<std::size_t>(std::max<int>(xylotrak::low16(termCount), 0)) + 1;
    coefs = coefArray_.fill(entries, [&] { return in.real(-2, 2); });
    exps = expArray_.fill(entries, [&] { return in.real(-1, 8); });
    startHeight = in.real(-5, 60);
    topHeightLimit = in.real(-5, 1000);
    unused8 = in.real(0, 1);
    unused9 = in.real(0, 1);
    stumpHeight = in.real(-1, 2);
    stumpTrim = in.real(-1, 1);
    heightLimit = in.real(-5, 1000);
    tableSize_ = 1 + in.byte() % maxProducts_;
    productCount = in.count(tableSize_);
    count_ = xylotrak::low16(productCount);
  }

  // The product records (every field of every record of the table, also
  // those past productCount), then the output memory.
  void decodeTable(Reader &in) {
    for (int i = 0; i < tableSize_; ++i) {
      ProductSpec &p = productCopy_[i];
      std::memset(&p, kPattern, sizeof p);
      std::memset(&p.logCount, kStale, 2);  // results left from an earlier call
      std::memset(&p.volumeSum, kStale, sizeof p - offsetof(ProductSpec, volumeSum));
      p.minTopDiam = in.real(-5, 60);
      p.maxTopDiam = in.real(-5, 1000);
      p.minBaseDiam = in.real(-5, 100);
      p.maxBaseDiam = in.real(-5, 1000);
      p.minLength = in.real(-1, 10);
      p.maxLength = in.real(-1, 15);
      p.unitPrice = in.real(-10, 200);
      p.priceBasis = in.code();
      p.logPosition = in.code();
      p.heightRule = in.code();
      p.lossFraction = in.real(-0.5, 1.5);
      p.trimLength = in.real(-0.5, 1);
    }
    restore();
  }

  // Puts the product table and the output memory back as decodeTable left
  // them: the records as decoded (stale results included), the log table,
  // the totals and the slack in front of each all pattern.
  void restore() {
    products = static_cast<ProductSpec *>(productRegion_.tail(tableSize_ * sizeof(ProductSpec)));
    std::memcpy(static_cast<void *>(products), productCopy_.data(),
                tableSize_ * sizeof(ProductSpec));
    logs = static_cast<LogEntry *>(logRegion_.tail(kRows * sizeof(LogEntry)));
    std::memset(static_cast<void *>(logs), kPattern, kRows * sizeof(LogEntry));
    totals.reset();
  }

  // Takes down the answer of the call just made, which returned `result`;
  // tally_start() must have been called just before it.
  void record(double result, int ownSlot, Answer &a) const {
    a.result = result;
    for (int i = 0; i < 8; ++i) a.totals[i] = totals.value(i);
    std::memcpy(static_cast<void *>(a.logs), logs, sizeof a.logs);
    a.products.resize(static_cast<std::size_t>(tableSize_));
    std::memcpy(static_cast<void *>(a.products.data()), products, tableSize_ * sizeof(ProductSpec));
    a.counted[0] = tally_count(ownSlot);
    a.counted[1] = tally_count(2);
    a.counted[2] = tally_count(3);
    a.counted[3] = tally_count(4);
  }

  double *total(int i) { return totals.at(i); }

  // The call made with the counters restarted, its answer taken down.
  double callAndRecord(xylotrak::support::Bucking which, int objective, Answer &answer) {
    tally_start();
    const double result = call(which, objective);
    record(result, slotOf(which), answer);
    return result;
  }

  // The accounting slot of a bucking export.
  static int slotOf(xylotrak::support::Bucking which) {
    using xylotrak::support::Bucking;
    return which == Bucking::kSequential ? 1 : which == Bucking::kOptimised ? 0 : 8;
  }

  // The decoded call made by one of the buckings, `objective` as given.
  double call(xylotrak::support::Bucking which, int objective) {
    xylotrak::support::CallArgs args;
    args.startHeight = startHeight;
    args.topHeightLimit = topHeightLimit;
    args.unused8 = unused8;
    args.unused9 = unused9;
    args.stumpHeight = stumpHeight;
    args.stumpTrim = stumpTrim;
    args.heightLimit = heightLimit;
    args.objective = objective;
    double *const each[8] = {total(0), total(1), total(2), total(3),
                             total(4), total(5), total(6), total(7)};
    return xylotrak::support::buck(which, {dbh, totalHeight, coefs, exps, termCount}, args,
                                   products, productCount, each, logs);
  }
  int count() const { return count_; }
  int tableSize() const { return tableSize_; }

  // Checks that hold after every call of either export; returns the number
  // of log rows (rows 1..n with logNumber 1..n).
  int checkShared() const {
    FUZZ_CHECK(productRegion_.slackIntact());
    FUZZ_CHECK(logRegion_.slackIntact());
    totals.checkNeighbours();
    coefArray_.checkUnchanged();
    expArray_.checkUnchanged();

    for (int i = 0; i < tableSize_; ++i) {
      const ProductSpec &p = products[i];
      const ProductSpec &before = productCopy_[i];
      if (i >= count_) {  // past productCount: not a byte read or written
        FUZZ_CHECK(sameBits(&p, &before, sizeof p));
        continue;
      }
      // Input fields and padding as the host left them.
      FUZZ_CHECK(sameBits(&p, &before, offsetof(ProductSpec, logCount)));
      FUZZ_CHECK(allPattern(&p.reserved1, sizeof p.reserved1));
      FUZZ_CHECK(p.logCount >= 0);
      if (p.logCount == 0) FUZZ_CHECK(resultsZero(p));
    }

    int n = 0;
    while (n + 1 < kRows && logs[n + 1].logNumber == n + 1) ++n;
    std::vector<int> perProduct(static_cast<std::size_t>(std::max(count_, 0)));
    for (int k = 0; k < kRows; ++k) {
      const LogEntry &r = logs[k];
      FUZZ_CHECK(allPattern(&r.reserved0, sizeof r.reserved0));
      if (k == 0) continue;
      if (k > n) {
        FUZZ_CHECK(rowZero(r));
        continue;
      }
      FUZZ_CHECK(r.productNumber >= 1 && r.productNumber <= count_);
      FUZZ_CHECK(r.length > 0);  // a log without length is never recorded
      if (k > 1) FUZZ_CHECK(sameValue(r.baseHeight, logs[k - 1].trimTopHeight));
      ++perProduct[r.productNumber - 1];
    }
    for (int i = 0; i < count_; ++i) FUZZ_CHECK(products[i].logCount == perProduct[i]);
    return n;
  }

  // Nothing but the clearing: totals, product results and rows all zero.
  void checkCleared() const {
    for (int i = 0; i < 8; ++i) FUZZ_CHECK(sameBits(totals.value(i), 0.0));
    for (int i = 0; i < count_; ++i) FUZZ_CHECK(resultsZero(products[i]));
    for (int k = 0; k < kRows; ++k) FUZZ_CHECK(rowZero(logs[k]));
  }

  double dbh = 0, totalHeight = 0;
  int termCount = 0;
  const double *coefs = nullptr;
  const double *exps = nullptr;
  double startHeight = 0, topHeightLimit = 0, unused8 = 0, unused9 = 0;
  double stumpHeight = 0, stumpTrim = 0, heightLimit = 0;
  ProductSpec *products = nullptr;
  int productCount = 0;
  LogEntry *logs = nullptr;
  OutputDoubles<8> totals;

 private:
  static constexpr unsigned char kStale = 0x5A;

  static bool resultsZero(const ProductSpec &p) {
    return p.logCount == 0 && p.volumeSum == 0 && p.valueSum == 0 && p.lastTopHeight == 0 &&
           p.lastTopDiam == 0 && p.lengthSum == 0 && p.meanTopDiam == 0 && p.weightedTopDiam == 0;
  }
  static bool rowZero(const LogEntry &r) {
    return r.logNumber == 0 && r.productNumber == 0 && r.baseHeight == 0 && r.length == 0 &&
           r.topHeight == 0 && r.trimTopHeight == 0 && r.baseDiam == 0 && r.topDiam == 0 &&
           r.trimTopDiam == 0 && r.volume == 0 && r.value == 0;
  }

  int maxTerms_;
  int maxProducts_;
  InputArray coefArray_;
  InputArray expArray_;
  GuardedRegion productRegion_;
  GuardedRegion logRegion_;
  std::vector<ProductSpec> productCopy_;
  int tableSize_ = 1;
  int count_ = 0;
};

}  // namespace fuzz
