// Shared parts of the libFuzzer harnesses: a reader that decodes the fuzz
// input front to back (fuzz/make_seeds.py writes the same format), guarded
// memory for the host's tables, and the check that stops a run.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include "xylotrak.h"

// A violated check stops the run at once; libFuzzer reports it as a crash
// and keeps the input that caused it.
#define FUZZ_CHECK(cond)                                                                  \
  do {                                                                                    \
    if (!(cond)) {                                                                        \
      std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
      __builtin_trap();                                                                   \
    }                                                                                     \
  } while (0)

namespace fuzz {

// The byte that fills padding, reserved members and the slack before every
// guarded table: the library must leave all of it as it is.
constexpr unsigned char kPattern = 0xA5;

// No bytes are always the same: an empty vector's data() may be null, which
// memcmp must not be given even for a length of 0.
inline bool sameBits(const void *a, const void *b, std::size_t n) {
  return n == 0 || std::memcmp(a, b, n) == 0;
}
inline bool sameBits(double a, double b) { return sameBits(&a, &b, sizeof a); }
// The same double, any NaN matching any NaN: the sign and payload of a NaN
// that arithmetic produces depend on the order in which the compiler places
// the operands.
inline bool sameValue(double a, double b) {
  return sameBits(a, b) || (std::isnan(a) && std::isnan(b));
}

inline bool allPattern(const void *p, std::size_t n) {
  const auto *bytes = static_cast<const unsigned char *>(p);
  for (std::size_t i = 0; i < n; ++i)
    if (bytes[i] != kPattern) return false;
  return true;
}

// Reads the fuzz input front to back; an exhausted input reads as zero bytes.
class Reader {
 public:
  Reader(const std::uint8_t *data, std::size_t size) : data_(data), size_(size) {}

  std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::uint16_t u16() {
    const unsigned lo = byte();
    return static_cast<std::uint16_t>(lo | (static_cast<unsigned>(byte()) << 8));
  }
  std::uint32_t u32() {
    const std::uint32_t lo = u16();
    return lo | (static_cast<std::uint32_t>(u16()) << 16);
  }
  double raw() {
    std::uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits |= static_cast<std::uint64_t>(byte()) << (8 * i);
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
  }

  // A double: a tag byte below 16 picks a special value (0 first, so an
  // exhausted input gives zeros), below 32 eight raw bytes follow (any bit
  // pattern), otherwise two bytes place the value in [lo, hi], the range a
  // host would normally pass.
  double real(double lo, double hi) {
    static constexpr double kSpecial[16] = {0.0,
                                            -0.0,
                                            std::numeric_limits<double>::quiet_NaN(),
                                            -std::numeric_limits<double>::quiet_NaN(),
                                            std::numeric_limits<double>::infinity(),
                                            -std::numeric_limits<double>::infinity(),
                                            DBL_MAX,
                                            -DBL_MAX,
                                            1e300,
                                            -1e300,
                                            DBL_MIN,
                                            std::numeric_limits<double>::denorm_min(),
                                            -std::numeric_limits<double>::denorm_min(),
                                            999.0,
                                            -1.0,
                                            1e-300};
    const std::uint8_t tag = byte();
    if (tag < 16) return kSpecial[tag];
    if (tag < 32) return raw();
    return lo + (hi - lo) * (u16() / 65535.0);
  }

  // A 16-bit code: usually one of the values the rules name, otherwise any
  // int16 at all.
  std::int16_t code() {
    static constexpr std::int16_t kNamed[8] = {0, 1, 2, 3, 4, 5, 99, -1};
    const std::uint8_t tag = byte();
    if (tag < 0xF0) return kNamed[tag % 8];
    return static_cast<std::int16_t>(u16());
  }

  // An int argument read in its low 16 bits: the high half comes from the
  // input as it stands; the low half is any negative value or 0..max.
  int count(int max) {
    const std::uint32_t x = u32();
    auto low = static_cast<std::int16_t>(x & 0xFFFFu);
    if (low > max) low = static_cast<std::int16_t>(low % (max + 1));
    const std::uint32_t bits = (x & 0xFFFF0000u) | static_cast<std::uint16_t>(low);
    int value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }

  // An int whose low 16 bits are a code (see code()), high bits from the input.
  int codeArg() {
    const std::int16_t low = code();
    const std::uint32_t bits =
        (static_cast<std::uint32_t>(u16()) << 16) | static_cast<std::uint16_t>(low);
    int value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }

 private:
  const std::uint8_t *data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// Memory whose usable part is followed by 64 KiB of inaccessible guard pages
// and preceded by one. An object placed at the tail ends exactly where the
// guard begins, so any access past its end faults at the instruction that
// makes it, whichever code makes it and however far (within the guard) it
// goes; the slack in front of the object is filled with the pattern and
// checked, which catches writes before it. The mapping is made once and
// reused by every run, so guarding costs no system call per input.
class GuardedRegion {
 public:
  explicit GuardedRegion(std::size_t capacity) {
    page_ = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    usable_ = (capacity + page_ - 1) / page_ * page_;
    const std::size_t total = page_ + usable_ + kGuardAfter;
    void *m = mmap(nullptr, total, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    FUZZ_CHECK(m != MAP_FAILED);
    base_ = static_cast<unsigned char *>(m) + page_;
    FUZZ_CHECK(mprotect(base_, usable_, PROT_READ | PROT_WRITE) == 0);
  }
  GuardedRegion(const GuardedRegion &) = delete;
  GuardedRegion &operator=(const GuardedRegion &) = delete;

  // `bytes` bytes that end at the guard; everything in front is pattern.
  void *tail(std::size_t bytes) {
    FUZZ_CHECK(bytes <= usable_);
    slack_ = usable_ - bytes;
    std::memset(base_, kPattern, slack_);
    return base_ + slack_;
  }
  bool slackIntact() const { return allPattern(base_, slack_); }

 private:
  static constexpr std::size_t kGuardAfter = 64 * 1024;
  std::size_t page_ = 0;
  std::size_t usable_ = 0;
  std::size_t slack_ = 0;
  unsigned char *base_ = nullptr;
};

// An input array (doubles, or integers such as tree ids) at the end of a
// guarded region, so reading past its last entry faults, with a copy to show
// afterwards that the library did not write it.
template <class T>
class GuardedInput {
 public:
  explicit GuardedInput(std::size_t capacity) : region_(capacity * sizeof(T)), copy_(capacity) {}

  // Places n values (n <= capacity) at the tail, each from `next`.
  template <class Next>
  const T *fill(std::size_t n, Next next) {
    FUZZ_CHECK(n <= copy_.size());
    n_ = n;
    data_ = static_cast<T *>(region_.tail(n * sizeof(T)));
    for (std::size_t i = 0; i < n; ++i) data_[i] = copy_[i] = next();
    return data_;
  }
  void checkUnchanged() const {
    FUZZ_CHECK(region_.slackIntact());
    FUZZ_CHECK(sameBits(data_, copy_.data(), n_ * sizeof(T)));
  }

 private:
  GuardedRegion region_;
  std::vector<T> copy_;  // sized once: no allocation per run
  std::size_t n_ = 0;
  T *data_ = nullptr;
};

using InputArray = GuardedInput<double>;

// Output doubles that must be written in place and nowhere else: each sits
// between pattern-filled neighbours, the last one against the guard.
template <int N>
class OutputDoubles {
 public:
  OutputDoubles() : region_(2 * N * sizeof(double)) {}
  void reset() {
    cells_ = static_cast<double *>(region_.tail(2 * N * sizeof(double)));
    std::memset(cells_, kPattern, 2 * N * sizeof(double));
  }
  double *at(int i) { return &cells_[2 * i + 1]; }
  double value(int i) const { return cells_[2 * i + 1]; }
  void checkNeighbours() const {
    FUZZ_CHECK(region_.slackIntact());
    for (int i = 0; i < N; ++i) FUZZ_CHECK(allPattern(&cells_[2 * i], sizeof(double)));
  }

 private:
  GuardedRegion region_;
  double *cells_ = nullptr;
};

// Output doubles at the tail of a guarded region, filled with a marker (7.0)
// before each call.
class OutputArray {
 public:
  explicit OutputArray(std::size_t capacity) : region_(capacity * sizeof(double)) {}
  double *place(std::size_t n) {
    n_ = n;
    data_ = static_cast<double *>(region_.tail(n * sizeof(double)));
    std::fill(data_, data_ + n, 7.0);
    return data_;
  }
  bool allZero() const {
    return std::all_of(data_, data_ + n_, [](double v) { return sameBits(v, 0.0); });
  }
  bool allFinite() const {
    return std::all_of(data_, data_ + n_, [](double v) { return std::isfinite(v); });
  }
  void checkSlack() const { FUZZ_CHECK(region_.slackIntact()); }
  const double *data() const { return data_; }

 private:
  fuzz::GuardedRegion region_;
  std::size_t n_ = 0;
  double *data_ = nullptr;
};

}  // namespace fuzz
