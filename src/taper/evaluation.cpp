#include "taper/evaluation.h"

#include <atomic>
#include <bit>
#include <new>

#include "fault_injection.h"

namespace xylotrak::taper {

namespace {

std::atomic<long> g_entriesForTesting{-1};
std::atomic<long> g_bytesForTesting{-1};
thread_local EvaluationWork t_lastWork;

std::uint64_t bitsOf(double value) noexcept { return std::bit_cast<std::uint64_t>(value); }

// Memory the cache can do without: nothing is thrown when it cannot be had.
void *tryAllocate(std::size_t bytes) noexcept {
  if (!fault::allocationAllowed()) return nullptr;
  return ::operator new(bytes, std::nothrow);
}

// The bytes the cache of one evaluator may hold at once, and the most it
// held.
class Budget {
 public:
  explicit Budget(std::size_t bound) noexcept : left_(bound), bound_(bound) {}
  bool take(std::size_t bytes) noexcept {
    if (bytes > left_) return false;
    left_ -= bytes;
    if (bound_ - left_ > peak_) peak_ = bound_ - left_;
    return true;
  }
  void giveBack(std::size_t bytes) noexcept { left_ += bytes; }
  std::size_t peak() const noexcept { return peak_; }

 private:
  std::size_t left_;
  std::size_t bound_;
  std::size_t peak_ = 0;
};

// A table from the bits of a double to a value: open addressing with linear
// probing, where a key lives within kWindow slots of the slot its hash picks
// and every slot between is taken, so a lookup reads at most kWindow slots
// and stops at a free one. Nothing is ever removed, only replaced in place.
// A key whose window is full doubles the table while the budget allows (and
// the table has at most 2^maxBits slots). Once the table cannot grow, a new
// key whose window is full takes the slot of the window's entry asked for
// least often since it came (lookups are counted from the first such
// replacement on); entries asked for long ago lose their counts by halves.
template <class Value>
class BoundedMap {
 public:
  // The one pattern that marks a free slot; a key with these bits (a NaN
  // that arithmetic never makes, but a host may pass) is never stored or
  // looked up: it always misses.
  static constexpr std::uint64_t kFree = ~std::uint64_t{0};

  BoundedMap(Budget &budget, unsigned initialBits, unsigned maxBits) noexcept
      : budget_(budget),
        initialBits_(initialBits < maxBits ? initialBits : maxBits),
        maxBits_(maxBits) {}
  ~BoundedMap() {
    if (slots_ != nullptr) ::operator delete(slots_);
  }
  BoundedMap(const BoundedMap &) = delete;
  BoundedMap &operator=(const BoundedMap &) = delete;

  Value *find(std::uint64_t key) noexcept {
    if (slots_ == nullptr || key == kFree) return nullptr;
    std::size_t i = home(key);
    for (int d = 0; d < kWindow; ++d, i = (i + 1) & mask_) {
      if (slots_[i].key == key) {
        if (counting_ && uses_[i] != kMostUses) ++uses_[i];
        return &slots_[i].value;
      }
      if (slots_[i].key == kFree) break;
    }
    return nullptr;
  }

  // A slot for a key that find() has just missed, its value set to Value{};
  // nullptr when the table has no memory.
  Value *add(std::uint64_t key) noexcept {
    if (key == kFree || (slots_ == nullptr && !grow())) return nullptr;
    for (;;) {
      const std::size_t first = home(key);
      std::size_t i = first;
      std::size_t victim = first;
      int taken = 0;  // the taken slots of the window before the first free one
      while (taken < kWindow && slots_[i].key != kFree) {
        if (uses_[i] < uses_[victim]) victim = i;
        i = (i + 1) & mask_;
        ++taken;
      }
      if (taken < kWindow) {
        ++used_;
        return set(i, key, 0);
      }
      // A full window in a table of fair size grows the table; one of many
      // keys that crowd a corner of a large table does not.
      if (8 * used_ >= capacity() && grow()) continue;
      // Every entry of the window has been asked for again since it came:
      // their counts are halved, so that what was asked for long ago does
      // not stay for ever.
      if (uses_[victim] > 0) {
        for (std::size_t k = first, n = 0; n < kWindow; k = (k + 1) & mask_, ++n)
          uses_[k] = static_cast<std::uint8_t>(uses_[k] / 2);
      }
      counting_ = true;
      return set(victim, key, 0);
    }
  }

 private:
  static constexpr int kWindow = 8;
  static constexpr std::uint8_t kMostUses = 255;

  struct Slot {
    std::uint64_t key;
    Value value;
  };

  std::size_t capacity() const noexcept { return slots_ == nullptr ? 0 : mask_ + 1; }
  std::size_t home(std::uint64_t key) const noexcept {
    return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> shift_) & mask_;
  }
  Value *set(std::size_t i, std::uint64_t key, std::uint8_t uses) noexcept {
    slots_[i].key = key;
    slots_[i].value = Value{};
    uses_[i] = uses;
    return &slots_[i].value;
  }

  // Doubles the table (or makes its first one): the slots and, after them,
  // a count of uses for each.
  bool grow() noexcept {
    if (!growable_) return false;
    const unsigned bits = slots_ == nullptr ? initialBits_ : bits_ + 1;
    const std::size_t size = std::size_t{1} << bits;
    const std::size_t bytes = size * (sizeof(Slot) + 1);
    void *memory = nullptr;
    if (bits <= maxBits_ && budget_.take(bytes)) {
      memory = tryAllocate(bytes);
      if (memory == nullptr) budget_.giveBack(bytes);
    }
    if (memory == nullptr) {
      growable_ = false;  // no second try within this call
      return false;
    }
    Slot *old = slots_;
    const std::uint8_t *oldUses = uses_;
    const std::size_t oldSize = capacity();
    slots_ = static_cast<Slot *>(memory);
    uses_ = reinterpret_cast<std::uint8_t *>(slots_ + size);
    mask_ = size - 1;
    bits_ = bits;
    shift_ = bits == 0 ? 63 : 64 - bits;  // one slot: every key lands in it (mask 0)
    for (std::size_t i = 0; i < size; ++i) {
      slots_[i].key = kFree;
      uses_[i] = 0;
    }
    // Each entry moves with its count; one whose new window is full (a
    // rare crowd) is dropped.
    for (std::size_t i = 0; i < oldSize; ++i) {
      if (old[i].key == kFree) continue;
      std::size_t k = home(old[i].key);
      int d = 0;
      while (d < kWindow && slots_[k].key != kFree) {
        k = (k + 1) & mask_;
        ++d;
      }
      if (d < kWindow) {
        *set(k, old[i].key, oldUses[i]) = old[i].value;
      } else {
        --used_;
      }
    }
    if (old != nullptr) {
      ::operator delete(old);
      budget_.giveBack(oldSize * (sizeof(Slot) + 1));
    }
    return true;
  }

  Budget &budget_;
  Slot *slots_ = nullptr;
  std::uint8_t *uses_ = nullptr;
  std::size_t mask_ = 0;
  unsigned bits_ = 0;
  unsigned shift_ = 63;
  unsigned initialBits_;
  unsigned maxBits_;
  std::size_t used_ = 0;
  bool growable_ = true;
  bool counting_ = false;
};

}  // namespace

// What is known at one height: its diameter, the integral up to it, or
// both (the volume of a log needs the integral up to its top, the next test
// of the search the diameter there).
struct AtHeight {
  static constexpr std::uint8_t kDiameter = 1;
  static constexpr std::uint8_t kIntegral = 2;
  double diameter;
  double integral;
  std::uint8_t known;
};

// The tables of one call: heights and height searches. They start at 128
// slots of heights (4 kB) and 16 of searches, and grow as the call asks for
// more, within one budget that also holds this object.
class EvaluationCache {
 public:
  struct Search {
    double height;
    int rounds;
  };

  EvaluationCache(std::size_t bytes, long entriesForTesting) noexcept
      : budget(bytes),
        heights(budget, 7, maxBits(entriesForTesting)),
        searches(budget, 4, maxBits(entriesForTesting)) {
    budget.take(sizeof(EvaluationCache));
  }

  Budget budget;
  BoundedMap<AtHeight> heights;
  BoundedMap<Search> searches;

 private:
  // A table of at most `entries` slots when a test bounds them (the largest
  // power of two not above), otherwise as large as the budget allows.
  static unsigned maxBits(long entries) noexcept {
    if (entries < 0) return 8 * sizeof(std::size_t) - 8;
    unsigned bits = 0;
    while ((std::size_t{2} << bits) <= static_cast<std::size_t>(entries)) ++bits;
    return bits;
  }
};

void setCacheEntriesForTesting(long entries) noexcept {
  g_entriesForTesting.store(entries, std::memory_order_relaxed);
}

void setCacheBytesForTesting(long bytes) noexcept {
  g_bytesForTesting.store(bytes, std::memory_order_relaxed);
}

EvaluationWork lastEvaluationWorkForTesting() noexcept { return t_lastWork; }

// The closed form's arrays are left unset until prepare() writes them, so
// that an evaluator on the stack costs nothing to make.
// cppcheck-suppress uninitMemberVar ; ClosedForm is read only after prepare()
Evaluator::Evaluator(const Model &model, Memory memory) noexcept
    : model_(model), keepsWork_(memory == Memory::kCached) {
  const long entries = g_entriesForTesting.load(std::memory_order_relaxed);
  if (memory != Memory::kCached || entries == 0) return;
  const long bytes = g_bytesForTesting.load(std::memory_order_relaxed);
  const std::size_t bound = bytes < 0 ? kCacheBytes : static_cast<std::size_t>(bytes);
  if (bound < sizeof(EvaluationCache)) return;
  void *block = tryAllocate(sizeof(EvaluationCache));
  if (block != nullptr) cache_ = new (block) EvaluationCache(bound, entries);
}

Evaluator::~Evaluator() {
  if (cache_ != nullptr) {
    work_.peakBytes = cache_->budget.peak();
    cache_->~EvaluationCache();
    ::operator delete(cache_);
  }
  if (keepsWork_) t_lastWork = work_;
}

double Evaluator::diameter(double height) noexcept {
  ++tally_.diameter;
  if (cache_ == nullptr) {
    ++work_.diameters;
    return taper::diameter(model_, height);
  }
  const std::uint64_t key = bitsOf(height);
  AtHeight *at = cache_->heights.find(key);
  if (at != nullptr && (at->known & AtHeight::kDiameter) != 0) return at->diameter;
  ++work_.diameters;
  const double d = taper::diameter(model_, height);
  if (at == nullptr) at = cache_->heights.add(key);
  if (at != nullptr) {
    at->diameter = d;
    at->known |= AtHeight::kDiameter;
  }
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
  ++work_.searches;
  const HeightSearch found = taper::heightAt(model_, diam);
  tally_.diameter += static_cast<std::uint64_t>(found.rounds);
  if (cache_ != nullptr) {
    if (EvaluationCache::Search *kept = cache_->searches.add(key))
      *kept = {found.height, found.rounds};
  }
  return found.height;
}

double Evaluator::integrate(double height) const noexcept {
  return prepared_ ? closedForm_.fromGround(height) : volumeFromGround(model_, height);
}

double Evaluator::fromGround(double height) noexcept {
  if (cache_ == nullptr) {
    ++work_.integrals;
    return integrate(height);
  }
  const std::uint64_t key = bitsOf(height);
  AtHeight *at = cache_->heights.find(key);
  if (at != nullptr && (at->known & AtHeight::kIntegral) != 0) return at->integral;
  ++work_.integrals;
  const double v = integrate(height);
  if (at == nullptr) at = cache_->heights.add(key);
  if (at != nullptr) {
    at->integral = v;
    at->known |= AtHeight::kIntegral;
  }
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
