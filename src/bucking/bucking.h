// The cores of the bucking exports: each bucks one tree into the caller's
// tables without accounting, and says what its export returns and the taper
// work it stands for; the exports (bucking/exports.cpp) and the inventory
// call run the prologue and count that work.
#pragma once

#include "accounting/accounting.h"
#include "accounting/inner_calls.h"
#include "bucking/search.h"
#include "bucking/tables.h"
#include "xylotrak.h"

namespace xylotrak::bucking {

// The heights of a bucking export's arguments 6-12 (the two unused doubles
// left out); the searches do not read startHeight.
struct Heights {
  double startHeight;
  double topHeightLimit;
  double stumpHeight;
  double stumpTrim;
  double heightLimit;
};

// What a core did: what its export returns, the taper work the answer
// stands for, and whether memory ran out (a search then returns 99).
struct Bucked {
  double outcome = 0;
  taper::CallTally inner;
  bool outOfMemory = false;
};

// PHVsDll's bucking: greedily from the stump upward, the products in table
// order. `productCount` as the caller gave it.
Bucked buckSequentially(const taper::Model &model, const Heights &heights, ProductSpec *products,
                        int productCount, const Totals &totals, LogEntry *logs) noexcept;

// PHVoDll's or PHVxDll's bucking with its search: clears the output, runs the
// search, writes the winner. Returns 1 with a winner, 0 without one, 99 when
// the search gave up or memory ran out (the output then left as cleared).
Bucked buckBySearch(Search search, const taper::Model &model, const Heights &heights,
                    ProductSpec *products, int productCount, int objective, const Totals &totals,
                    LogEntry *logs) noexcept;

// Where the cutting of a bucked stem ends, where its top begins and the
// diameter there (0: none), as PHZnDll documents them; `totals` the eight.
struct Zones {
  double lastTrimTop = 0;
  double topStart = 0;
  double topDiam = 0;
};
Zones stemZones(Stem &stem, double stumpHeight, double stumpTrim, const LogEntry *logs,
                const double *totals) noexcept;

// A bucking as its export makes it: the accounting prologue of `slot`, the
// core, and the core's taper work counted.
template <class Core>
Bucked accounted(int slot, Core &&core) noexcept {
  accounting::enter(slot);
  const Bucked bucked = core();
  accounting::countInnerCalls(bucked.inner);
  return bucked;
}

}  // namespace xylotrak::bucking
