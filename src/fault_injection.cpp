#include "fault_injection.h"

#include <atomic>

namespace xylotrak::fault {

namespace {
std::atomic<long> g_failAt{0};
std::atomic<long> g_checked{0};
std::atomic<bool> g_optionalFailed{false};

bool reachesArmedAllocation() noexcept {
  const long n = g_checked.fetch_add(1, std::memory_order_relaxed) + 1;
  const long at = g_failAt.load(std::memory_order_relaxed);
  return at > 0 && n == at;
}
}  // namespace

void failAllocationAt(long k) noexcept {
  g_checked.store(0, std::memory_order_relaxed);
  g_optionalFailed.store(false, std::memory_order_relaxed);
  g_failAt.store(k, std::memory_order_relaxed);
}

bool optionalAllocationFailed() noexcept {
  return g_optionalFailed.load(std::memory_order_relaxed);
}

long allocationsChecked() noexcept { return g_checked.load(std::memory_order_relaxed); }

bool allocationAllowed() noexcept {
  if (!reachesArmedAllocation()) return true;
  g_optionalFailed.store(true, std::memory_order_relaxed);
  return false;
}

void checkAllocation() {
  if (reachesArmedAllocation()) throw std::bad_alloc();
}

}  // namespace xylotrak::fault
