// Small helpers for reading arguments as they cross the C boundary.
#pragma once

#include <cstdint>

namespace xylotrak {

// Codes and counts arrive as int; only their low 16 bits count, read as a
// signed 16-bit integer (65535 reads as -1, 65537 as 1).
constexpr std::int16_t low16(int value) noexcept {
  return static_cast<std::int16_t>(
      static_cast<std::uint16_t>(static_cast<unsigned>(value) & 0xFFFFu));
}

}  // namespace xylotrak
