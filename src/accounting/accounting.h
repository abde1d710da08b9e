// Process-wide call accounting: one status and one counter per slot.
//
// Counters lose nothing and do not make threads wait on one another: every
// thread counts into a block of its own, written only by that thread, and a
// counter's value is the sum over all blocks (plus what threads that have
// ended left behind) minus the value it had when it was last cleared.
// Clearing and the status transitions take one lock; the counting path takes
// none and costs a thread-local load and a plain increment.
#pragma once

#include <atomic>
#include <cstdint>

namespace xylotrak::accounting {

enum Slot : int {
  kOptimisedBucking = 0,
  kSequentialBucking = 1,
  kVolume = 2,
  kDiameter = 3,
  kHeight = 4,
  kFormFactor = 5,
  kLogCount = 6,
  kFormulas = 7,
  kExactBucking = 8,
};
constexpr int kSlotCount = 9;
constexpr int kReportedSlots = 7;  // slots 0-6 are reported at unload

// Slots 0-6 and 8 move together: started and cleared by the common
// initialisation and by tally_start, stopped by tally_stop. Slot 7 (the
// formulas) has a life of its own. Slot 8 behaves like slots 0-6 but is not
// part of the usage report, whose seven lines stay as they are.
constexpr bool inTaperGroup(int slot) noexcept { return slot != kFormulas; }

enum Status : std::int16_t { kOff = 0, kCounting = -1, kStopped = -2 };

extern std::atomic<std::int16_t> g_status[kSlotCount];

// One thread's counters. Only the owning thread writes them.
struct alignas(64) CounterBlock {
  std::atomic<std::uint32_t> counter[kSlotCount];
  CounterBlock *prev;
  CounterBlock *next;
};

// The calling thread's block, attached on first use (null if it could not be
// allocated; the count then goes to a shared atomic counter instead).
CounterBlock *attachThread() noexcept;
#if defined(_WIN32)
CounterBlock *currentBlock() noexcept;
#else
extern constinit thread_local CounterBlock *t_block __attribute__((tls_model("initial-exec")));
inline CounterBlock *currentBlock() noexcept {
  CounterBlock *block = t_block;
  return block != nullptr ? block : attachThread();
}
#endif
void bumpShared(int slot, std::uint32_t calls) noexcept;

inline void bump(int slot, std::uint32_t calls = 1) noexcept {
  if (CounterBlock *block = currentBlock()) {
    auto &c = block->counter[slot];
    c.store(c.load(std::memory_order_relaxed) + calls, std::memory_order_relaxed);
  } else {
    bumpShared(slot, calls);
  }
}

// Off -> counting for slots 0-6 and 8 (and for slot 7 when `formulas`),
// clearing their counters, under the lock so that it happens once.
void startFromOff(bool formulas) noexcept;

// Prologue of the taper and bucking exports (slots 0-6 and 8).
inline void enter(int slot) noexcept {
  if (g_status[slot].load(std::memory_order_acquire) == kOff) startFromOff(false);
  if (g_status[slot].load(std::memory_order_relaxed) == kCounting) bump(slot);
}

// Counts `calls` entries into a slot of the taper group at once, as that
// many prologues would: made by the exports for the work done inside them
// (a height search's diameters, a bucking's volumes). Counters wrap, so only
// the count modulo 2^32 matters.
inline void enterMany(int slot, std::uint64_t calls) noexcept {
  if (calls == 0) return;
  if (g_status[slot].load(std::memory_order_acquire) == kOff) startFromOff(false);
  if (g_status[slot].load(std::memory_order_relaxed) == kCounting)
    bump(slot, static_cast<std::uint32_t>(calls));
}

// Prologue of the basic formulas (slot 7), run after their argument test.
inline void enterFormula() noexcept {
  if (g_status[kFormulas].load(std::memory_order_acquire) == kOff) startFromOff(true);
  if (g_status[kFormulas].load(std::memory_order_relaxed) == kCounting) bump(kFormulas);
}

// The counter of a slot as the host reads it.
std::uint32_t count(int slot) noexcept;

// tally_start and tally_stop.
void start() noexcept;
void stop() noexcept;

// Folds the calling thread's block into the totals (thread exit).
void detachThread() noexcept;

// Appends the usage report to the diagnostics log (run at unload).
void writeUsageReport() noexcept;

// Releases every block; run last at unload.
void shutdown() noexcept;

}  // namespace xylotrak::accounting
