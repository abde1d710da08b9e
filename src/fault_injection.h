// Allocation with a test hook: every allocation the library makes goes
// through checkAllocation(), which white-box tests can arm so that the k-th
// allocation from then on fails with std::bad_alloc. Not exported.
#pragma once

#include <cstddef>
#include <memory>
#include <new>

namespace xylotrak::fault {

// Arms the hook: the k-th checked allocation from now on fails (k >= 1);
// k = 0 disarms it. Returns nothing; see allocationsChecked() for counting.
void failAllocationAt(long k) noexcept;

// Number of allocations checked since the last failAllocationAt() call.
long allocationsChecked() noexcept;

// Throws std::bad_alloc when the armed allocation is reached.
void checkAllocation();

// The same check for memory the library can do without (a cache): false
// when the armed allocation is reached, instead of throwing.
bool allocationAllowed() noexcept;

// Whether the armed failure, since the last failAllocationAt(), hit memory
// of that kind (the call then goes on without it and must answer as if
// nothing had failed).
bool optionalAllocationFailed() noexcept;

// A standard allocator whose allocations pass the hook first.
template <class T>
struct Allocator {
  using value_type = T;
  Allocator() noexcept = default;
  template <class U>
  Allocator(const Allocator<U> &) noexcept {}
  T *allocate(std::size_t n) {
    checkAllocation();
    return std::allocator<T>().allocate(n);
  }
  void deallocate(T *p, std::size_t n) noexcept { std::allocator<T>().deallocate(p, n); }
  template <class U>
  bool operator==(const Allocator<U> &) const noexcept {
    return true;
  }
};

}  // namespace xylotrak::fault
