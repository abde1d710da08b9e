// Bucking a whole inventory in one call: every tree goes through the core of
// its single-tree export, on worker threads, and the results come back to
// the caller's thread block by block in the trees' order. Memory is a fixed
// ring of blocks, so an inventory of any size runs in the same space.
#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "abi.h"
#include "accounting/accounting.h"
#include "bucking/bucking.h"
#include "bucking/search.h"
#include "bucking/tables.h"
#include "fault_injection.h"
#include "xylotrak.h"

using namespace xylotrak;
using namespace xylotrak::bucking;

namespace {

constexpr std::int64_t kBlockTrees = 64;  // the most trees of one block
constexpr int kMostThreads = 256;

// Memory the call cannot work without: the test hook may refuse it.
void *allocate(std::size_t bytes) noexcept {
  if (!fault::allocationAllowed()) return nullptr;
  return ::operator new(bytes, std::nothrow);
}

// What every tree of the call shares.
struct Inventory {
  const double *dbh;
  const double *totalHeight;
  const std::int32_t *modelIndex;
  std::int64_t treeCount;
  const xylotrak_taper_model *models;
  std::int32_t modelCount;
  const ProductSpec *products;
  int productCount;     // read from its low 16 bits; 0 for an empty table
  int productArgument;  // as the caller gave it, passed on to the exports
  xylotrak_inventory_params params;
  std::int64_t blockTrees;
};

// One block's memory: its tree records, the rows of its trees (at most 100
// a tree) and a product table per tree.
struct Block {
  xylotrak_tree_result *trees = nullptr;
  LogEntry *rows = nullptr;
  ProductSpec *products = nullptr;
  std::int32_t treeCount = 0;
  std::int32_t rowCount = 0;
  std::int64_t first = 0;

  bool allocate(const Inventory &inv) noexcept {
    const auto n = static_cast<std::size_t>(inv.blockTrees);
    trees = static_cast<xylotrak_tree_result *>(::allocate(n * sizeof(xylotrak_tree_result)));
    rows = static_cast<LogEntry *>(::allocate(n * kLogRows * sizeof(LogEntry)));
    const std::size_t records = n * static_cast<std::size_t>(inv.productCount);
    products = records == 0 ? nullptr
                            : static_cast<ProductSpec *>(::allocate(records * sizeof(ProductSpec)));
    return trees != nullptr && rows != nullptr && (records == 0 || products != nullptr);
  }
  void release() noexcept {
    ::operator delete(trees);
    ::operator delete(rows);
    ::operator delete(products);
    trees = nullptr;
    rows = nullptr;
    products = nullptr;
  }
};

// Whether every coefficient and exponent the exports read of a model is
// finite: entries 0..n of both, or coefs[0] alone when n is negative.
bool finiteModel(const xylotrak_taper_model &m) noexcept {
  const int n = low16(m.termCount);
  if (n < 0) return std::isfinite(m.coefs[0]);
  for (int k = 0; k <= n; ++k)
    if (!std::isfinite(m.coefs[k]) || !std::isfinite(m.exps[k])) return false;
  return true;
}

// Bucks tree i into the block: its result record, its product records and
// its rows from `block.rowCount` on. `table` is the tree's 100-row scratch.
void buckTree(const Inventory &inv, std::int64_t i, Block &block, LogEntry *table) noexcept {
  const std::int32_t t = block.treeCount;
  xylotrak_tree_result &r = block.trees[t];
  r = xylotrak_tree_result{};
  r.tree = i;
  r.method = -1;
  r.firstRow = block.rowCount;
  ProductSpec *products = inv.productCount > 0
                              ? block.products + static_cast<std::size_t>(t) * inv.productCount
                              : nullptr;
  if (products != nullptr) {
    std::memcpy(products, inv.products,
                static_cast<std::size_t>(inv.productCount) * sizeof *products);
    for (int p = 0; p < inv.productCount; ++p) clearResults(products[p]);
  }
  std::fill_n(table, kLogRows, LogEntry{});

  const std::int32_t index = inv.modelIndex[i];
  const double dbh = inv.dbh[i], height = inv.totalHeight[i];
  if (index < 0 || index >= inv.modelCount || inv.models[index].coefs == nullptr ||
      inv.models[index].exps == nullptr) {
    r.status = XYLOTRAK_TREE_BAD_MODEL;
  } else if (!std::isfinite(dbh) || !std::isfinite(height) || !finiteModel(inv.models[index])) {
    r.status = XYLOTRAK_TREE_NONFINITE;
  } else {
    const xylotrak_taper_model &m = inv.models[index];
    const xylotrak_inventory_params &q = inv.params;
    double *totals = r.totals;
    const Totals out{totals,     totals + 1, totals + 2, totals + 3,
                     totals + 4, totals + 5, totals + 6, totals + 7};
    const taper::Model model{dbh, height, m.coefs, m.exps, low16(m.termCount)};
    const Heights heights{q.startHeight, q.topHeightLimit, q.stumpHeight, q.stumpTrim,
                          q.heightLimit};
    r.status = XYLOTRAK_TREE_BUCKED;
    r.method = q.method;
    if (q.method == XYLOTRAK_METHOD_SEQUENTIAL) {
      r.outcome =
          accounted(accounting::kSequentialBucking, [&] {
            return buckSequentially(model, heights, products, inv.productArgument, out, table);
          }).outcome;
    } else {
      const bool exact = q.method == XYLOTRAK_METHOD_EXACT;
      auto search = [&](bool useExact) {
        const Bucked bucked =
            accounted(useExact ? accounting::kExactBucking : accounting::kOptimisedBucking, [&] {
              return buckBySearch(useExact ? &exactSearch : &breadthFirstSearch, model, heights,
                                  products, inv.productArgument, q.objective, out, table);
            });
        r.outcome = bucked.outcome;
        return bucked.outOfMemory;
      };
      bool outOfMemory = search(exact);
      if (!exact && !outOfMemory && r.outcome == 99.0 &&
          (q.flags & XYLOTRAK_EXACT_WHEN_GIVEN_UP) != 0) {
        r.method = XYLOTRAK_METHOD_EXACT;
        outOfMemory = search(true);
      }
      if (outOfMemory) r.status = XYLOTRAK_TREE_OUT_OF_MEMORY;
    }
  }
  int n = 0;
  while (n + 1 < kLogRows && table[n + 1].logNumber != 0) ++n;
  r.logCount = n;
  std::memcpy(block.rows + block.rowCount, table, static_cast<std::size_t>(n + 1) * sizeof *table);
  block.rowCount += n + 1;
  ++block.treeCount;
}

// Bucks block number b (trees b * blockTrees on) into `block`.
void buckBlock(const Inventory &inv, std::int64_t b, Block &block, LogEntry *table) noexcept {
  block.first = b * inv.blockTrees;
  block.treeCount = 0;
  block.rowCount = 0;
  const std::int64_t end = std::min(inv.treeCount, block.first + inv.blockTrees);
  for (std::int64_t i = block.first; i < end; ++i) buckTree(inv, i, block, table);
}

bool deliver(xylotrak_inventory_callback callback, void *context, const Block &block) {
  const xylotrak_inventory_block view{block.first, block.treeCount, block.rowCount,
                                      block.trees, block.rows,      block.products};
  return callback(context, &view) == 0;
}

// The blocks in flight and the workers that fill them. Block b lives in ring
// slot b % ring.size(); a worker may take block b only once block
// b - ring.size() has been handed over.
class Pool {
 public:
  Pool(const Inventory &inv, std::vector<Block> &ring, std::int64_t blocks)
      : inv_(inv), ring_(ring), blocks_(blocks), ready_(ring.size(), -1) {}

  // Runs up to `threads` workers (each with its own 100-row scratch); the
  // caller's thread hands the blocks over. Returns false if the callback
  // stopped the run.
  bool run(int threads, xylotrak_inventory_callback callback, void *context) {
    std::vector<std::thread> workers;
    try {
      workers.reserve(static_cast<std::size_t>(threads));
      for (int i = 0; i < threads; ++i) workers.emplace_back([this] { work(); });
    } catch (...) {
      // Fewer workers than asked for: those that started carry on.
    }
    bool goOn = true;
    if (workers.empty()) {
      goOn = runAlone(callback, context);
    } else {
      for (std::int64_t b = 0; b < blocks_ && goOn; ++b) {
        const std::size_t slot = static_cast<std::size_t>(b) % ring_.size();
        {
          std::unique_lock lock(mutex_);
          filled_.wait(lock, [&] { return ready_[slot] == b; });
        }
        goOn = deliver(callback, context, ring_[slot]);
        {
          std::lock_guard lock(mutex_);
          delivered_ = b + 1;
          if (!goOn) stop_ = true;
        }
        freed_.notify_all();
      }
      {
        std::lock_guard lock(mutex_);
        stop_ = true;
      }
      freed_.notify_all();
      for (auto &w : workers) w.join();
    }
    return goOn;
  }

 private:
  bool runAlone(xylotrak_inventory_callback callback, void *context) {
    LogEntry table[kLogRows];
    for (std::int64_t b = 0; b < blocks_; ++b) {
      Block &block = ring_[static_cast<std::size_t>(b) % ring_.size()];
      buckBlock(inv_, b, block, table);
      if (!deliver(callback, context, block)) return false;
    }
    return true;
  }

  void work() noexcept {
    LogEntry table[kLogRows];
    const auto slots = static_cast<std::int64_t>(ring_.size());
    for (;;) {
      std::int64_t b;
      {
        std::unique_lock lock(mutex_);
        freed_.wait(lock, [&] { return stop_ || next_ >= blocks_ || next_ < delivered_ + slots; });
        if (stop_ || next_ >= blocks_) return;
        b = next_++;
      }
      const std::size_t slot = static_cast<std::size_t>(b % slots);
      buckBlock(inv_, b, ring_[slot], table);
      {
        std::lock_guard lock(mutex_);
        ready_[slot] = b;
      }
      filled_.notify_all();
    }
  }

  const Inventory &inv_;
  std::vector<Block> &ring_;
  const std::int64_t blocks_;
  std::mutex mutex_;
  std::condition_variable filled_, freed_;
  std::vector<std::int64_t> ready_;  // per slot: the block it holds, once bucked
  std::int64_t next_ = 0;            // the next block a worker takes
  std::int64_t delivered_ = 0;       // blocks handed over
  bool stop_ = false;
};

int threadCount(std::int32_t asked) noexcept {
  if (asked != 0) return asked;
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : static_cast<int>(std::min<unsigned>(cores, kMostThreads));
}

std::int32_t buckInventory(const Inventory &given, xylotrak_inventory_callback callback,
                           void *context) {
  Inventory inv = given;
  if (inv.treeCount == 0) return XYLOTRAK_INVENTORY_OK;
  const int threads = threadCount(inv.params.threads);
  // Small inventories still spread over the threads: at least four blocks a
  // worker where the trees allow it.
  const std::int64_t spread = 4 * static_cast<std::int64_t>(threads);
  const std::int64_t perBlock = (inv.treeCount + spread - 1) / spread;
  inv.blockTrees = std::clamp<std::int64_t>(perBlock, 1, kBlockTrees);
  const std::int64_t blocks = (inv.treeCount + inv.blockTrees - 1) / inv.blockTrees;
  const int workers = threads == 1 ? 0 : threads;

  // Two blocks a worker keep every worker busy while the caller's thread
  // hands blocks over; with less memory the run goes on with fewer.
  std::size_t want = workers == 0 ? 1 : static_cast<std::size_t>(2 * workers + 2);
  want = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(want), blocks));
  std::vector<Block> ring;
  // Out of memory for the call's own bookkeeping ends it.
  const std::int32_t result = guarded(
      [&] {
        ring.reserve(want);
        while (ring.size() < want) {
          Block block;
          if (!block.allocate(inv)) {
            block.release();
            break;
          }
          ring.push_back(block);
        }
        if (ring.empty()) return static_cast<std::int32_t>(XYLOTRAK_INVENTORY_OUT_OF_MEMORY);
        // A worker without a block of its own would only wait.
        const int usable = std::min<int>(workers, static_cast<int>(ring.size()));
        Pool pool(inv, ring, blocks);
        if (!pool.run(usable, callback, context))
          return static_cast<std::int32_t>(XYLOTRAK_INVENTORY_STOPPED);
        return static_cast<std::int32_t>(XYLOTRAK_INVENTORY_OK);
      },
      static_cast<std::int32_t>(XYLOTRAK_INVENTORY_OUT_OF_MEMORY));
  for (Block &block : ring) block.release();
  return result;
}

}  // namespace

extern "C" XYLOTRAK_API std::int32_t PHVbDll(const double *dbh, const double *totalHeight,
                                             const std::int32_t *modelIndex, std::int64_t treeCount,
                                             const xylotrak_taper_model *models,
                                             std::int32_t modelCount, const ProductSpec *products,
                                             int productCount,
                                             const xylotrak_inventory_params *params,
                                             xylotrak_inventory_callback callback, void *context) {
  const int read = low16(productCount);
  const int count = read > 0 ? read : 0;
  if (params == nullptr || callback == nullptr || treeCount < 0 || modelCount < 0 ||
      (treeCount > 0 && (dbh == nullptr || totalHeight == nullptr || modelIndex == nullptr)) ||
      (modelCount > 0 && models == nullptr) || (count > 0 && products == nullptr))
    return XYLOTRAK_INVENTORY_BAD_ARGUMENT;
  const xylotrak_inventory_params &q = *params;
  if (q.method < XYLOTRAK_METHOD_SEQUENTIAL || q.method > XYLOTRAK_METHOD_EXACT || q.threads < 0 ||
      q.threads > kMostThreads || (q.flags & ~XYLOTRAK_EXACT_WHEN_GIVEN_UP) != 0)
    return XYLOTRAK_INVENTORY_BAD_ARGUMENT;
  const Inventory inv{dbh,      totalHeight, modelIndex,   treeCount, models, modelCount,
                      products, count,       productCount, q,         0};
  return buckInventory(inv, callback, context);
}
