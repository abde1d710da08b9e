// Process-wide call accounting: one status and one counter per slot.
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
};
constexpr int kSlotCount = 8;
constexpr int kReportedSlots = 7;  // slots 0-6 are in the usage report

enum Status : std::int16_t { kOff = 0, kCounting = -1, kStopped = -2 };

// The block is deliberately unsynchronised in effect: every access is a
// relaxed atomic load or store, so concurrent callers may lose increments
// but never race in the language sense.
extern std::atomic<std::int16_t> g_status[kSlotCount];
extern std::atomic<std::uint32_t> g_counter[kSlotCount];

// Sets slots 0-6 to counting and clears their counters.
void commonInitialisation() noexcept;

inline void bump(int slot) noexcept {
  g_counter[slot].store(g_counter[slot].load(std::memory_order_relaxed) + 1u,
                        std::memory_order_relaxed);
}

// Prologue of the taper and bucking exports (slots 0-6).
inline void enter(int slot) noexcept {
  if (g_status[slot].load(std::memory_order_relaxed) == kOff) commonInitialisation();
  if (g_status[slot].load(std::memory_order_relaxed) == kCounting) bump(slot);
}

// Prologue of the basic formulas (slot 7), run after their argument test.
inline void enterFormula() noexcept {
  if (g_status[kFormulas].load(std::memory_order_relaxed) == kOff) {
    commonInitialisation();
    g_status[kFormulas].store(kCounting, std::memory_order_relaxed);
  }
  if (g_status[kFormulas].load(std::memory_order_relaxed) == kCounting) bump(kFormulas);
}

// Appends the usage report to the diagnostics log (run at unload).
void writeUsageReport() noexcept;

}  // namespace xylotrak::accounting
