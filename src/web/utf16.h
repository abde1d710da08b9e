// UTF-16 text as UTF-8 bytes, for the trace and for the POSIX transport's URL.
#pragma once

#include <cstdint>

namespace xylotrak::web {

// Calls put(byte) for each UTF-8 byte of the NUL-terminated UTF-16 string `s`.
// A surrogate pair becomes one four-byte sequence; a surrogate without its
// partner becomes U+FFFD.
template <class CodeUnit, class Put>
void forEachUtf8Byte(const CodeUnit *s, Put put) {
  auto unit = [](CodeUnit u) { return static_cast<std::uint32_t>(u) & 0xFFFFu; };
  while (*s != 0) {
    std::uint32_t c = unit(*s++);
    if (c >= 0xD800 && c <= 0xDBFF) {
      const std::uint32_t low = unit(*s);  // the terminator is not a low surrogate
      if (low >= 0xDC00 && low <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++s;
      } else {
        c = 0xFFFD;
      }
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      put(static_cast<char>(c));
    } else if (c < 0x800) {
      put(static_cast<char>(0xC0 | (c >> 6)));
      put(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      put(static_cast<char>(0xE0 | (c >> 12)));
      put(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      put(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      put(static_cast<char>(0xF0 | (c >> 18)));
      put(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      put(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      put(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
}

}  // namespace xylotrak::web
