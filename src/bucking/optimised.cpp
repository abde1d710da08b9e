// Optimised bucking: a breadth-first search over cutting sequences. Each
// generation appends one log to every sequence of the previous one, trying
// the products in table order; the best sequence by value or net volume is
// reported.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <vector>

#include "abi.h"
#include "accounting/accounting.h"
#include "bucking/search.h"
#include "bucking/tables.h"
#include "fault_injection.h"
#include "xylotrak.h"

using namespace xylotrak;
using namespace xylotrak::bucking;

namespace {

// A generation leaving more sequences than this gives the search up.
constexpr std::size_t kListLimit = 10000;

// One cutting sequence from the stump cut upward and where it stands.
struct CuttingState {
  LogSequence logs;
  double cutHeight = 0;  // where the next log would begin
  double cutDiam = 0;    // D(cutHeight)
  double volumeSoFar = 0;
  double valueSoFar = 0;
};

struct Head {
  double cutHeight;
  double cutDiam;
  double volumeSoFar;
  double valueSoFar;
};

// The sequences of one generation. All of them hold the same number of logs,
// so each keeps exactly its own entries (no fixed 100-entry arrays): list
// memory is the generation's size times its number of logs. Cleared lists
// keep their storage, so the two lists that swap roles every generation are
// reused rather than reallocated.
class SequenceList {
 public:
  void reset(int logs) {
    logs_ = logs;
    heads_.clear();
    products_.clear();
    lengths_.clear();
  }
  std::size_t size() const { return heads_.size(); }
  const Head &head(std::size_t i) const { return heads_[i]; }

  // Stores a state of this list's length (entries 1..logs).
  void append(const CuttingState &state) {
    heads_.push_back({state.cutHeight, state.cutDiam, state.volumeSoFar, state.valueSoFar});
    products_.insert(products_.end(), state.logs.products + 1, state.logs.products + 1 + logs_);
    lengths_.insert(lengths_.end(), state.logs.lengths + 1, state.logs.lengths + 1 + logs_);
  }

  // Copies the entries of sequence i into entries 1..logs of the state.
  void loadEntries(std::size_t i, CuttingState &state) const {
    const std::size_t first = i * static_cast<std::size_t>(logs_);
    for (int k = 0; k < logs_; ++k) {
      state.logs.products[k + 1] = products_[first + k];
      state.logs.lengths[k + 1] = lengths_[first + k];
    }
  }

 private:
  int logs_ = 0;
  std::vector<Head, fault::Allocator<Head>> heads_;
  std::vector<std::int16_t, fault::Allocator<std::int16_t>> products_;
  std::vector<double, fault::Allocator<double>> lengths_;
};

class BreadthFirst {
 public:
  BreadthFirst(Stem &stem, const SearchCall &call) : stem_(stem), call_(call) {}
  Outcome run(LogSequence &winner);

 private:
  double score(double volume, double value) const { return call_.objective == 0 ? value : volume; }
  // Tries product j (1-based) on sequence `parent` as log g; builds the
  // candidate in `scratch` and reports whether it was accepted.
  bool tryProduct(const Head &parent, int g, int j, CuttingState &scratch);

  Stem &stem_;
  const SearchCall &call_;
  // The best sequence so far and its score.
  CuttingState best_;
  double bestScore_ = kNoScore;
};

bool BreadthFirst::tryProduct(const Head &parent, int g, int j, CuttingState &scratch) {
  Extension e;
  if (!extendWith(stem_, call_.limits, call_.products[j - 1], g, parent.cutHeight, parent.cutDiam,
                  e)) {
    return false;
  }
  scratch.logs.logs = g;
  scratch.logs.products[g] = static_cast<std::int16_t>(j);
  scratch.logs.lengths[g] = e.length;
  scratch.cutHeight = e.cutHeight;
  scratch.cutDiam = e.cutDiam;
  scratch.volumeSoFar = parent.volumeSoFar + e.net;
  scratch.valueSoFar = parent.valueSoFar + e.value;
  return e.accepted;
}

Outcome BreadthFirst::run(LogSequence &winner) {
  SequenceList lists[2];
  CuttingState scratch;  // entries after the current generation's stay 0
  scratch.cutHeight = call_.stumpTop;
  scratch.cutDiam = stem_.diameter(call_.stumpTop);
  lists[0].reset(0);
  lists[0].append(scratch);  // the seed, generation 0

  const bool scored = call_.objective == 0 || call_.objective == 1;
  for (int g = 1;; ++g) {
    const SequenceList &current = lists[(g - 1) & 1];
    SequenceList &next = lists[g & 1];
    next.reset(g);
    if (current.size() > kListLimit) return Outcome::kGivenUp;

    bool anyExtended = false;
    bool final = false;
    for (std::size_t s = 0; s < current.size(); ++s) {
      const Head parent = current.head(s);
      current.loadEntries(s, scratch);
      bool extended = false;
      if (g - 1 < kMaxLogs) {  // a sequence of 99 logs fills the table
        for (int j = 1; j <= call_.count; ++j) {
          if (!tryProduct(parent, g, j, scratch)) continue;
          extended = true;
          anyExtended = true;
          if (scored) {
            const double candidate = score(scratch.volumeSoFar, scratch.valueSoFar);
            if (candidate > bestScore_) {
              bestScore_ = candidate;
              best_ = scratch;
            }
          }
          // A list past the limit is never extended, so further candidates
          // are scored but not stored.
          if (next.size() <= kListLimit) next.append(scratch);
        }
      }
      if (!extended && g > 1 && scored &&
          score(parent.volumeSoFar, parent.valueSoFar) == bestScore_)
        final = true;
    }
    if (final || !anyExtended) break;
  }
  if (best_.logs.logs < 1) return Outcome::kNoWinner;
  winner = best_.logs;
  return Outcome::kWinner;
}

}  // namespace

Outcome xylotrak::bucking::breadthFirstSearch(Stem &stem, const SearchCall &call,
                                              LogSequence &winner) {
  BreadthFirst search(stem, call);
  return search.run(winner);  // the lists live and die inside run()
}
