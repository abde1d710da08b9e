#include "accounting/accounting.h"

#include <cstdio>

#include "accounting/diagnostics_log.h"
#include "abi.h"
#include "xylotrak.h"

namespace xylotrak::accounting {

std::atomic<std::int16_t> g_status[kSlotCount];
std::atomic<std::uint32_t> g_counter[kSlotCount];

void commonInitialisation() noexcept {
  for (int s = 0; s < kReportedSlots; ++s) g_status[s].store(kCounting, std::memory_order_relaxed);
  for (int s = 0; s < kReportedSlots; ++s) g_counter[s].store(0, std::memory_order_relaxed);
}

void writeUsageReport() noexcept {
  if (!diagnostics::redirectStandardError()) return;
  std::fprintf(stderr, "Process detach\n");
  for (int i = 0; i < kReportedSlots; ++i) {
    // "%.i" has precision 0: a zero prints as nothing at all.
    std::fprintf(stderr, "%.i = %.i acessos \n", i,
                 static_cast<int>(g_counter[i].load(std::memory_order_relaxed)));
  }
  std::fclose(stderr);
}

}  // namespace xylotrak::accounting

using namespace xylotrak;
using namespace xylotrak::accounting;

namespace {
bool inBlock(std::int16_t index) { return index >= 0 && index < kSlotCount; }
}  // namespace

extern "C" {

XYLOTRAK_API int32_t tally_start(void) {
  commonInitialisation();
  return 0;
}

XYLOTRAK_API int32_t tally_stop(void) {
  for (int s = 0; s < kReportedSlots; ++s) g_status[s].store(kStopped, std::memory_order_relaxed);
  return kStopped;
}

XYLOTRAK_API int32_t tally_status(int index) {
  const std::int16_t i = low16(index);
  if (!inBlock(i)) return 0;
  return g_status[i].load(std::memory_order_relaxed);
}

XYLOTRAK_API int32_t tally_count(int index) {
  const std::int16_t i = low16(index);
  if (!inBlock(i)) return 0;
  return static_cast<int32_t>(g_counter[i].load(std::memory_order_relaxed));
}

}  // extern "C"
