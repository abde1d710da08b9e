// What the two searching bucking exports share: reading their arguments,
// trying a product as the next log of a sequence, clearing the output on
// entry, and writing the winning sequence into the caller's tables.
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
// taper evaluations are made in exactly this order. With `heightAtMinTop`
// given, the height search for minTopDiam runs only while it holds NaN and
// its result is kept there (the height depends on the product alone).
bool extendWith(Stem &stem, const SearchLimits &limits, const ProductSpec &p, int g,
                double cutHeight, double cutDiam, Extension &out, double *heightAtMinTop = nullptr);

// The arguments of a searching export that its search reads.
struct SearchCall {
  SearchLimits limits;
  double stumpTop;  // stumpHeight + stumpTrim: where the first log begins
  const ProductSpec *products;
  int count;      // productCount, read from its low 16 bits
  int objective;  // likewise: 0 value, 1 net volume
};

// A winner must score above it.
constexpr double kNoScore = -kNoLimit;

// A cutting sequence, in the one shape every search keeps and reports its
// winner in:
// entries 1..logs hold the product number and length of each log from the
// stump up; entry 0 and later entries are 0.
struct LogSequence {
  int logs = 0;  // how many
  std::int16_t products[kLogRows] = {};
  double lengths[kLogRows] = {};
};

enum class Outcome { kNoWinner, kWinner, kGivenUp };

// A search over cutting sequences; it may throw std::bad_alloc.
using Search = Outcome (*)(Stem &stem, const SearchCall &call, LogSequence &winner);

// The breadth-first search of PHVoDll and the dynamic programme of PHVxDll.
Outcome breadthFirstSearch(Stem &stem, const SearchCall &call, LogSequence &winner);
Outcome exactSearch(Stem &stem, const SearchCall &call, LogSequence &winner);

// For the fuzz harnesses: the most products the dynamic programme may try on
// its states in one search (a negative value restores no limit), and how
// many searches, on any thread, have stopped there since load. A search that
// stops has an answer of no meaning; the harness that set the limit skips
// its checks. Its time grows with the tries, and a table whose logs advance
// by millimetres reaches millions of states, minutes under the sanitizers.
// Not for use by the exports.
void setExactTryLimitForTesting(long tries) noexcept;
unsigned long exactTryLimitHitsForTesting() noexcept;

}  // namespace xylotrak::bucking
