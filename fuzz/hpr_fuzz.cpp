// The .hpr reader and the audit on any bytes: the reader either refuses the
// input with a message that ends inside its buffer, or gives tables whose
// rows point where they say; the audit then gives one row per stem, and the
// optimal logs of a stem lie within it, admissible and summing to its value.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "xylotrak.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  // The input and the message buffer end against guard pages: a read past the
  // input or a write past the buffer faults; a write before it is found.
  constexpr int kCapacity = 64;
  constexpr std::size_t kMaxInput = 1 << 20;
  static fuzz::GuardedRegion input(kMaxInput), text(kCapacity * sizeof(xylotrak_char16));
  if (size > kMaxInput) return 0;
  auto *bytes = static_cast<char *>(input.tail(size));
  if (size > 0) std::memcpy(bytes, data, size);
  auto *message = static_cast<xylotrak_char16 *>(text.tail(kCapacity * sizeof(xylotrak_char16)));
  xylotrak_hpr *file = nullptr;
  const int32_t rc = HPRpDll(bytes, static_cast<int64_t>(size), &file, message, kCapacity);
  FUZZ_CHECK(text.slackIntact());
  if (rc != XYLOTRAK_HPR_OK) {
    FUZZ_CHECK(file == nullptr);
    bool ended = false;
    for (int i = 0; i < kCapacity && !ended; ++i) ended = message[i] == 0;
    FUZZ_CHECK(ended);
    return 0;
  }
  FUZZ_CHECK(file != nullptr);
  const int64_t products = HPRnDll(file, XYLOTRAK_HPR_PRODUCTS);
  const int64_t stems = HPRnDll(file, XYLOTRAK_HPR_STEMS);
  const int64_t logs = HPRnDll(file, XYLOTRAK_HPR_LOGS);
  for (int table = XYLOTRAK_HPR_SPECIES; table <= XYLOTRAK_HPR_UNSUPPORTED; ++table) {
    for (int64_t r = 0; r < HPRnDll(file, table); ++r) {
      unsigned char record[128];
      const int32_t n = HPRrDll(file, table, r, record, message, kCapacity);
      FUZZ_CHECK(n >= 0);
    }
  }
  for (int64_t r = 0; r < logs; ++r) {
    xylotrak_hpr_log l{};
    HPRrDll(file, XYLOTRAK_HPR_LOGS, r, &l, nullptr, 0);
    FUZZ_CHECK(l.stem >= 0 && l.stem < stems);
    FUZZ_CHECK(l.product >= -1 && l.product < products);
  }
  // The audit on a coarse grid keeps a long stem's programme small.
  xylotrak_audit_totals totals{};
  FUZZ_CHECK(HPRaDll(file, 100, &totals) == XYLOTRAK_HPR_OK);
  FUZZ_CHECK(HPRnDll(file, XYLOTRAK_HPR_AUDIT_STEMS) == stems);
  FUZZ_CHECK(totals.stems == stems);
  for (int64_t r = 0; r < stems; ++r) {
    xylotrak_audit_stem a{};
    xylotrak_hpr_stem s{};
    HPRrDll(file, XYLOTRAK_HPR_AUDIT_STEMS, r, &a, nullptr, 0);
    HPRrDll(file, XYLOTRAK_HPR_STEMS, r, &s, nullptr, 0);
    FUZZ_CHECK(a.actualLogCount == s.logCount);
    double sum = 0;
    for (int32_t k = 0; k < a.optimalLogCount; ++k) {
      xylotrak_audit_log l{};
      HPRrDll(file, XYLOTRAK_HPR_AUDIT_LOGS, a.firstLog + a.actualLogCount + k, &l, nullptr, 0);
      FUZZ_CHECK(l.optimal == 1 && l.stem == r);
      FUZZ_CHECK(l.log.status == XYLOTRAK_LOG_ADMISSIBLE);
      FUZZ_CHECK(l.log.product >= 0 && l.log.product < products);
      FUZZ_CHECK(l.log.startCm >= 0 && l.log.lengthCm > 0);
      FUZZ_CHECK(l.log.startCm + l.log.lengthCm <= s.stem.positions[s.stem.pointCount - 1]);
      sum = sum + l.log.value;
    }
    if (a.status == XYLOTRAK_MATRIX_OK) FUZZ_CHECK(fuzz::sameValue(sum, a.optimalValue));
  }
  HPRcDll(file);
  return 0;
}
