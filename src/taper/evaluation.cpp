#include "taper/evaluation.h"

#include <atomic>
#include <bit>
#include <new>

#include "fault_injection.h"

namespace xylotrak::taper {

namespace {

std::atomic<long> g_entriesForTesting{-1};

std::uint64_t bitsOf(double value) noexcept { return std::bit_cast<std::uint64_t>(value); }

// Memory the cache can do without: nothing is thrown when it cannot be had.
void *tryAllocate(std::size_t bytes) noexcept {
  if (!fault::allocationAllowed()) return nullptr;
  return ::operator new(bytes, std::nothrow);
}

// An open-addressing table from the bits of a double to a value: linear
// probing, at most half full, doubling from `initial` up to `most` slots.
// When it cannot grow it takes no more entries; a lookup then misses and the
// caller works the value out.
template <class Value>
class BitsMap {
 public:
  BitsMap(std::size_t initial, std::size_t most) noexcept : initial_(initial), most_(most) {}
  ~BitsMap() { ::operator delete(slots_); }
  BitsMap(const BitsMap &) = delete;
  BitsMap &operator=(const BitsMap &) = delete;

  // The one pattern that marks a free slot; a key with these bits (a NaN
  // that arithmetic never makes, but a host may pass) is never stored or
  // looked up: it always misses.
  static constexpr std::uint64_t kFree = ~std::uint64_t{0};

  const Value *find(std::uint64_t key) const noexcept {
    if (slots_ == nullptr || key == kFree) return nullptr;
    for (std::size_t i = home(key);; i = (i + 1) & mask_) {
      if (slots_[i].key == key) return &slots_[i].value;
      if (slots_[i].key == kFree) return nullptr;
    }
  }

  void insert(std::uint64_t key, const Value &value) noexcept {
    if (key == kFree) return;
    if (2 * (used_ + 1) > capacity() && !grow()) return;
    place(key, value);
  }

 private:
  struct Slot {
    std::uint64_t key;
    Value value;
  };

  std::size_t capacity() const noexcept { return slots_ == nullptr ? 0 : mask_ + 1; }
  std::size_t home(std::uint64_t key) const noexcept {
    return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> shift_);
  }

  void place(std::uint64_t key, const Value &value) noexcept {
    std::size_t i = home(key);
    while (slots_[i].key != kFree) i = (i + 1) & mask_;
    slots_[i].key = key;
    slots_[i].value = value;
    ++used_;
  }

  bool grow() noexcept {
    const std::size_t size = slots_ == nullptr ? initial_ : 2 * capacity();
    if (size > most_ || size < 2) return false;
    auto *fresh = static_cast<Slot *>(tryAllocate(size * sizeof(Slot)));
    if (fresh == nullptr) {
      most_ = capacity();  // no second try within this call
      return false;
    }
    for (std::size_t i = 0; i < size; ++i) fresh[i].key = kFree;
    Slot *old = slots_;
    const std::size_t oldSize = capacity();
    slots_ = fresh;
    mask_ = size - 1;
    shift_ = 64;
    for (std::size_t s = size; s > 1; s >>= 1) --shift_;
    used_ = 0;
    for (std::size_t i = 0; i < oldSize; ++i)
      if (old[i].key != kFree) place(old[i].key, old[i].value);
    ::operator delete(old);
    return true;
  }

  Slot *slots_ = nullptr;
  std::size_t mask_ = 0;
  unsigned shift_ = 64;
  std::size_t used_ = 0;
  std::size_t initial_;
  std::size_t most_;
};

// Largest power of two not above n (n >= 1).
std::size_t floorPowerOfTwo(std::size_t n) noexcept {
  std::size_t p = 1;
  while (p <= n / 2) p *= 2;
  return p;
}

}  // namespace

// The tables of one call. At their largest: 8192 diameters (128 kB), 4096
// integrals (64 kB) and 256 height searches (6 kB).
class EvaluationCache {
 public:
  struct Search {
    double height;
    int rounds;
  };

  explicit EvaluationCache(long entriesForTesting) noexcept
      : diameters(slots(256, 8192, entriesForTesting), slots(8192, 8192, entriesForTesting)),
        integrals(slots(64, 4096, entriesForTesting), slots(4096, 4096, entriesForTesting)),
        searches(slots(16, 256, entriesForTesting), slots(256, 256, entriesForTesting)) {}

  BitsMap<double> diameters;
  BitsMap<double> integrals;
  BitsMap<Search> searches;

 private:
  // Slots for a table of the given size, or for at most `entries` entries
  // (a table is at most half full) when a test bounds them.
  static std::size_t slots(std::size_t normal, std::size_t most, long entries) noexcept {
    if (entries < 0) return normal;
    const std::size_t bound = floorPowerOfTwo(2 * static_cast<std::size_t>(entries) + 1);
    return normal < bound ? normal : (most < bound ? most : bound);
  }
};

void setCacheEntriesForTesting(long entries) noexcept {
  g_entriesForTesting.store(entries, std::memory_order_relaxed);
}

// The closed form's arrays are left unset until prepare() writes them, so
// that an evaluator on the stack costs nothing to make.
// cppcheck-suppress uninitMemberVar ; ClosedForm is read only after prepare()
Evaluator::Evaluator(const Model &model, bool cached) noexcept : model_(model) {
  const long entries = g_entriesForTesting.load(std::memory_order_relaxed);
  if (!cached || entries == 0) return;
  void *memory = tryAllocate(sizeof(EvaluationCache));
  if (memory != nullptr) cache_ = new (memory) EvaluationCache(entries);
}

Evaluator::~Evaluator() {
  if (cache_ != nullptr) {
    cache_->~EvaluationCache();
    ::operator delete(cache_);
  }
}

double Evaluator::diameter(double height) noexcept {
  ++tally_.diameter;
  if (cache_ == nullptr) return taper::diameter(model_, height);
  const std::uint64_t key = bitsOf(height);
  if (const double *known = cache_->diameters.find(key)) return *known;
  const double d = taper::diameter(model_, height);
  cache_->diameters.insert(key, d);
  return d;
}

double Evaluator::heightAt(double diam) noexcept {
  ++tally_.height;
  const std::uint64_t key = bitsOf(diam);
  if (cache_ != nullptr) {
    if (const EvaluationCache::Search *known = cache_->searches.find(key)) {
      tally_.diameter += static_cast<std::uint64_t>(known->rounds);
      return known->height;
    }
  }
  const HeightSearch found = taper::heightAt(model_, diam);
  tally_.diameter += static_cast<std::uint64_t>(found.rounds);
  if (cache_ != nullptr) cache_->searches.insert(key, {found.height, found.rounds});
  return found.height;
}

double Evaluator::integrate(double height) const noexcept {
  return prepared_ ? closedForm_.fromGround(height) : volumeFromGround(model_, height);
}

double Evaluator::fromGround(double height) noexcept {
  if (cache_ == nullptr) return integrate(height);
  const std::uint64_t key = bitsOf(height);
  if (const double *known = cache_->integrals.find(key)) return *known;
  const double v = integrate(height);
  cache_->integrals.insert(key, v);
  return v;
}

Section Evaluator::section(const Limits &limits) noexcept {
  return resolveSection(model_.totalHeight, limits, [this](double d) { return heightAt(d); });
}

double Evaluator::volume(const Limits &limits) noexcept {
  ++tally_.volume;
  const Section section = this->section(limits);
  const double upper = wholeLogsTop(section, limits.logLength);
  if (model_.terms < 0) return 0;
  if (!prepared_) prepared_ = closedForm_.prepare(model_);
  const double vUpper = fromGround(upper);
  const double vLower = fromGround(section.lower);
  return sectionVolume(vUpper, vLower);
}

}  // namespace xylotrak::taper
