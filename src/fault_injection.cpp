#include "fault_injection.h"

#include <atomic>

namespace xylotrak::fault {

namespace {
std::atomic<long> g_failAt{0};
std::atomic<long> g_checked{0};
}  // namespace

void failAllocationAt(long k) noexcept {
  g_checked.store(0, std::memory_order_relaxed);
  g_failAt.store(k, std::memory_order_relaxed);
}

long allocationsChecked() noexcept { return g_checked.load(std::memory_order_relaxed); }

void checkAllocation() {
  const long n = g_checked.fetch_add(1, std::memory_order_relaxed) + 1;
  const long at = g_failAt.load(std::memory_order_relaxed);
  if (at > 0 && n == at) throw std::bad_alloc();
}

}  // namespace xylotrak::fault
