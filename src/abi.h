// What every export shares as its arguments and results cross the C
// boundary: reading codes and counts, the one exception guard, and the
// constants that more than one part of the library reads.
#pragma once

#include <cstdint>
#include <exception>
#include <new>
#include <numbers>
#include <type_traits>

#include "xylotrak.h"

namespace xylotrak {

// Codes and counts arrive as int; only their low 16 bits count, read as a
// signed 16-bit integer (65535 reads as -1, 65537 as 1).
constexpr std::int16_t low16(int value) noexcept {
  return static_cast<std::int16_t>(
      static_cast<std::uint16_t>(static_cast<unsigned>(value) & 0xFFFFu));
}

// The double nearest pi, for every formula of the library.
inline constexpr double kPi = std::numbers::pi;

// A limit that does not limit (a diameter test that is to pass, a height
// above any tree), as the header documents it.
inline constexpr double kNoLimit = XYLOTRAK_NO_LIMIT;

// What escaped an export's body.
struct Failure {
  bool outOfMemory;  // std::bad_alloc
  const char *what;  // the exception's message; "" when it has none
};

// The one exception guard of the exports: returns what `body` returns, and
// when an exception escapes it, the export's documented failure value.
// `failure` is that value, or a function of the Failure that makes it (and
// leaves the caller's memory as the export documents for a failure).
template <class Body, class OnFailure>
auto guarded(Body &&body, OnFailure &&failure) noexcept -> decltype(body()) {
  using Result = decltype(body());
  const auto fail = [&failure](Failure f) -> Result {
    if constexpr (std::is_invocable_v<OnFailure, Failure>) {
      return failure(f);
    } else {
      (void)f;
      return static_cast<Result>(failure);
    }
  };
  try {
    return body();
  } catch (const std::bad_alloc &) {
    return fail({true, "out of memory"});
  } catch (const std::exception &e) {
    return fail({false, e.what()});
  } catch (...) {
    return fail({false, ""});
  }
}

}  // namespace xylotrak
