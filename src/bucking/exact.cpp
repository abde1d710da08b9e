// Exact optimal bucking: dynamic programming over the states that matter for
// the rest of the stem. A sequence's future (which products are admitted,
// how long their logs are, what they add to the score) depends only on where
// its next cut lies and on how many logs it holds (log positions count from
// the stump), so among sequences reaching the same cut height with the same
// number of logs only the best needs to go on.
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
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

std::atomic<long> g_tryLimitForTesting{-1};
std::atomic<unsigned long> g_tryLimitHitsForTesting{0};

// The best sequence reaching one state: its last log and where it came from.
struct Node {
  double cutHeight;
  double cutDiam;
  double volumeSoFar;
  double valueSoFar;
  double length;         // of the last log
  std::int32_t parent;   // index in the previous layer; -1 for the seed
  std::int16_t product;  // 1-based number of the last log's product
};

template <class T>
using Vector = std::vector<T, fault::Allocator<T>>;
using Layer = Vector<Node>;

// The states of one layer by the key of their cut height: open addressing
// with linear probing, at most half full, in the search's own memory.
class StateIndex {
 public:
  explicit StateIndex(std::size_t expected) {
    std::size_t size = 16;
    while (size < 2 * expected) size *= 2;
    slots_.resize(size, Slot{0, kFree});
  }

  // The index recorded for `key`, or, for a key not seen yet, `next`, which
  // is recorded for it; `isNew` tells which.
  std::int32_t findOrAdd(std::uint64_t key, std::int32_t next, bool &isNew) {
    if (2 * (used_ + 1) > slots_.size()) grow();
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = home(key, mask);; i = (i + 1) & mask) {
      Slot &slot = slots_[i];
      if (slot.index == kFree) {
        slot = Slot{key, next};
        ++used_;
        isNew = true;
        return next;
      }
      if (slot.key == key) {
        isNew = false;
        return slot.index;
      }
    }
  }

 private:
  static constexpr std::int32_t kFree = -1;
  struct Slot {
    std::uint64_t key;
    std::int32_t index;
  };

  // The top bits of the product, which every bit of the key reaches.
  static std::size_t home(std::uint64_t key, std::size_t mask) {
    return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> (64 - std::bit_width(mask)));
  }

  void grow() {
    Vector<Slot> old(2 * slots_.size(), Slot{0, kFree});
    old.swap(slots_);
    const std::size_t mask = slots_.size() - 1;
    for (const Slot &slot : old) {
      if (slot.index == kFree) continue;
      std::size_t i = home(slot.key, mask);
      while (slots_[i].index != kFree) i = (i + 1) & mask;
      slots_[i] = slot;
    }
  }

  Vector<Slot> slots_;
  std::size_t used_ = 0;
};

// The state key of a cut height: its bits (with -0 read as 0).
std::uint64_t stateKey(double cutHeight) {
  if (cutHeight == 0) cutHeight = 0;
  std::uint64_t bits;
  std::memcpy(&bits, &cutHeight, sizeof bits);
  return bits;
}

struct ExactSearch {
  Stem &stem;
  SearchLimits limits;
  const ProductSpec *products;
  int count;
  int objective;

  Vector<Layer> layers;  // layer g: the states of g logs
  Vector<double> heightAtMinTop;

  LogSequence best;
  double bestScore = kNoScore;
  // Products tried on states, and how many a test lets one search try.
  unsigned long tries = 0;
  unsigned long tryLimit = static_cast<unsigned long>(-1);

  double score(const Node &n) const { return objective == 0 ? n.valueSoFar : n.volumeSoFar; }

  // Whether the sequence of `a` comes before that of `b` (both of g logs) in
  // building order: the lower product number at the first log they differ.
  // The two are walked down from log g together, so the last difference met
  // is that of the first log, and no further than where they join (their
  // logs below are the same): a step per log, where looking each log up
  // from the top would take g steps for each.
  bool buildsBefore(int g, const Node &a, const Node &b) const {
    const Node *x = &a;
    const Node *y = &b;
    bool before = false;
    for (int k = g; k >= 1 && x != y; --k) {
      if (x->product != y->product) before = x->product < y->product;
      if (k > 1) {
        x = &layers[k - 1][x->parent];
        y = &layers[k - 1][y->parent];
      }
    }
    return before;
  }

  bool buildsBeforeBest(int g, const Node &node) const {
    // A winner with fewer logs was built before any sequence of g logs.
    if (best.logs != g) return false;
    const Node *n = &node;
    bool before = false;
    for (int k = g; k >= 1; --k) {
      if (n->product != best.products[k]) before = n->product < best.products[k];
      if (k > 1) n = &layers[k - 1][n->parent];
    }
    return before;
  }

  void takeAsBest(int g, const Node &node) {
    best.logs = g;
    bestScore = score(node);
    const Node *n = &node;
    for (int k = g; k >= 1; --k) {
      best.products[k] = n->product;
      best.lengths[k] = n->length;
      if (k > 1) n = &layers[k - 1][n->parent];
    }
    for (int k = g + 1; k < kLogRows; ++k) {
      best.products[k] = 0;
      best.lengths[k] = 0;
    }
  }

  void run(double stumpTop) {
    heightAtMinTop.assign(static_cast<std::size_t>(count), std::nan(""));
    layers.emplace_back();
    layers[0].push_back(Node{stumpTop, stem.diameter(stumpTop), 0, 0, 0, -1, 0});

    for (int g = 1; g <= kMaxLogs; ++g) {
      layers.emplace_back();
      const Layer &previous = layers[g - 1];
      Layer &current = layers[g];
      StateIndex index(previous.size());
      for (std::size_t i = 0; i < previous.size(); ++i) {
        const Node parent = previous[i];
        for (int j = 1; j <= count; ++j) {
          if (++tries > tryLimit) {
            g_tryLimitHitsForTesting.fetch_add(1, std::memory_order_relaxed);
            return;
          }
          Extension e;
          if (!extendWith(stem, limits, products[j - 1], g, parent.cutHeight, parent.cutDiam, e,
                          &heightAtMinTop[static_cast<std::size_t>(j - 1)]) ||
              !e.accepted) {
            continue;
          }
          const Node node{e.cutHeight,
                          e.cutDiam,
                          parent.volumeSoFar + e.net,
                          parent.valueSoFar + e.value,
                          e.length,
                          static_cast<std::int32_t>(i),
                          static_cast<std::int16_t>(j)};
          bool isNew = false;
          const std::int32_t at = index.findOrAdd(stateKey(node.cutHeight),
                                                  static_cast<std::int32_t>(current.size()), isNew);
          if (isNew) {
            current.push_back(node);
          } else {
            Node &kept = current[static_cast<std::size_t>(at)];
            const double s = score(node), k = score(kept);
            if (!(s > k || (s == k && buildsBefore(g, node, kept)))) continue;
            kept = node;
          }
          const double s = score(node);
          if (s > bestScore || (s == bestScore && buildsBeforeBest(g, node))) takeAsBest(g, node);
        }
      }
      if (current.empty()) break;
    }
  }
};

}  // namespace

Outcome xylotrak::bucking::exactSearch(Stem &stem, const SearchCall &call, LogSequence &winner) {
  if (call.objective != 0 && call.objective != 1) return Outcome::kNoWinner;  // nothing can win
  ExactSearch search{stem, call.limits, call.products, call.count, call.objective, {}, {}, {}};
  const long limit = g_tryLimitForTesting.load(std::memory_order_relaxed);
  if (limit >= 0) search.tryLimit = static_cast<unsigned long>(limit);
  search.run(call.stumpTop);
  if (search.best.logs < 1) return Outcome::kNoWinner;
  winner = search.best;
  return Outcome::kWinner;  // the search's memory is released on return
}

void xylotrak::bucking::setExactTryLimitForTesting(long tries) noexcept {
  g_tryLimitForTesting.store(tries, std::memory_order_relaxed);
}

unsigned long xylotrak::bucking::exactTryLimitHitsForTesting() noexcept {
  return g_tryLimitHitsForTesting.load(std::memory_order_relaxed);
}
