#include "accounting/accounting.h"

#include <cstdio>
#include <mutex>
#include <new>

#include "abi.h"
#include "diagnostics/log.h"
#include "xylotrak.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace xylotrak::accounting {

std::atomic<std::int16_t> g_status[kSlotCount];
#if !defined(_WIN32)
constinit thread_local CounterBlock *t_block __attribute__((tls_model("initial-exec"))) = nullptr;
#endif

namespace {

std::mutex g_lock;                                // guards everything below, and status transitions
CounterBlock *g_blocks = nullptr;                 // blocks of live threads
std::uint32_t g_retired[kSlotCount] = {};         // counts of threads that have ended
std::uint32_t g_baseline[kSlotCount] = {};        // sums at the last clearing
std::atomic<std::uint32_t> g_shared[kSlotCount];  // counts of threads without a block

std::uint32_t sumLocked(int slot) noexcept {
  std::uint32_t sum = g_retired[slot] + g_shared[slot].load(std::memory_order_relaxed);
  for (const CounterBlock *b = g_blocks; b != nullptr; b = b->next)
    sum += b->counter[slot].load(std::memory_order_relaxed);
  return sum;
}

// Common initialisation: slots 0-6 and 8 count again, from zero.
void commonInitialisationLocked() noexcept {
  for (int s = 0; s < kSlotCount; ++s) {
    if (inTaperGroup(s)) g_status[s].store(kCounting, std::memory_order_release);
  }
  for (int s = 0; s < kSlotCount; ++s) {
    if (inTaperGroup(s)) g_baseline[s] = sumLocked(s);
  }
}

void retireLocked(CounterBlock *block) noexcept {
  for (int s = 0; s < kSlotCount; ++s)
    g_retired[s] += block->counter[s].load(std::memory_order_relaxed);
  if (block->prev != nullptr)
    block->prev->next = block->next;
  else
    g_blocks = block->next;
  if (block->next != nullptr) block->next->prev = block->prev;
  delete block;
}

CounterBlock *newBlockLocked() noexcept {
  // cppcheck-suppress legacyUninitvar ; cppcheck 2.10 reads new (std::nothrow) as a use of block
  auto *block = new (std::nothrow) CounterBlock{};
  if (block == nullptr) return nullptr;
  block->prev = nullptr;
  block->next = g_blocks;
  if (g_blocks != nullptr) g_blocks->prev = block;
  g_blocks = block;
  return block;
}

#if defined(_WIN32)
// Windows: a native TLS slot; DllMain folds the block at thread detach.
DWORD g_tlsIndex = TlsAlloc();

CounterBlock *attach() noexcept {
  if (g_tlsIndex == TLS_OUT_OF_INDEXES) return nullptr;
  std::lock_guard<std::mutex> guard(g_lock);
  CounterBlock *block = newBlockLocked();
  if (block != nullptr && !TlsSetValue(g_tlsIndex, block)) {
    retireLocked(block);
    block = nullptr;
  }
  return block;
}
#else
// POSIX: a thread-local pointer for the counting path, and a thread-specific
// key whose destructor folds the block when the thread ends.
pthread_key_t g_key;

// Run by the C runtime when a thread ends, so nothing may be thrown out of it.
void retireThreadBlock(void *p) noexcept {
  t_block = nullptr;
  std::lock_guard<std::mutex> guard(g_lock);
  retireLocked(static_cast<CounterBlock *>(p));
}

const bool g_keyReady = pthread_key_create(&g_key, retireThreadBlock) == 0;

CounterBlock *attachPosix() noexcept {
  if (!g_keyReady) return nullptr;
  std::lock_guard<std::mutex> guard(g_lock);
  CounterBlock *block = newBlockLocked();
  if (block != nullptr && pthread_setspecific(g_key, block) != 0) {
    retireLocked(block);
    block = nullptr;
  }
  t_block = block;
  return block;
}
#endif

}  // namespace

#if defined(_WIN32)
CounterBlock *currentBlock() noexcept {
  if (g_tlsIndex != TLS_OUT_OF_INDEXES) {
    if (auto *block = static_cast<CounterBlock *>(TlsGetValue(g_tlsIndex))) return block;
  }
  return attach();
}
CounterBlock *attachThread() noexcept { return attach(); }
#else
CounterBlock *attachThread() noexcept { return attachPosix(); }
#endif

void bumpShared(int slot, std::uint32_t calls) noexcept {
  g_shared[slot].fetch_add(calls, std::memory_order_relaxed);
}

void startFromOff(bool formulas) noexcept {
  std::lock_guard<std::mutex> guard(g_lock);
  if (formulas) {
    if (g_status[kFormulas].load(std::memory_order_relaxed) != kOff) return;
    commonInitialisationLocked();
    g_status[kFormulas].store(kCounting, std::memory_order_release);
  } else {
    // Another thread may have started the slots while this one waited.
    if (g_status[kOptimisedBucking].load(std::memory_order_relaxed) != kOff) return;
    commonInitialisationLocked();
  }
}

std::uint32_t count(int slot) noexcept {
  std::lock_guard<std::mutex> guard(g_lock);
  return sumLocked(slot) - g_baseline[slot];  // modulo 2^32: counters wrap
}

void start() noexcept {
  std::lock_guard<std::mutex> guard(g_lock);
  commonInitialisationLocked();
}

void stop() noexcept {
  std::lock_guard<std::mutex> guard(g_lock);
  for (int s = 0; s < kSlotCount; ++s) {
    if (inTaperGroup(s)) g_status[s].store(kStopped, std::memory_order_release);
  }
}

void detachThread() noexcept {
#if defined(_WIN32)
  if (g_tlsIndex == TLS_OUT_OF_INDEXES) return;
  auto *block = static_cast<CounterBlock *>(TlsGetValue(g_tlsIndex));
  if (block == nullptr) return;
  TlsSetValue(g_tlsIndex, nullptr);
  std::lock_guard<std::mutex> guard(g_lock);
  retireLocked(block);
#endif
  // POSIX threads are folded by the thread-specific key's destructor.
}

void writeUsageReport() noexcept {
  std::uint32_t counts[kReportedSlots];
  for (int i = 0; i < kReportedSlots; ++i) counts[i] = count(i);
  // A stream of the report's own: the host's standard error stays as it was,
  // so a host that unloads the library can go on writing to it.
  std::FILE *log = diagnostics::openLog();
  if (log == nullptr) return;
  // The report is written at unload, where nobody is left to hear of a
  // failed write: the results of fprintf and fclose are deliberately unused.
  (void)std::fprintf(log, "Process detach\n");
  for (int i = 0; i < kReportedSlots; ++i) {
    // "%.i" has precision 0: a zero prints as nothing at all.
    (void)std::fprintf(log, "%.i = %.i acessos \n", i, static_cast<int>(counts[i]));
  }
  (void)std::fclose(log);
}

void shutdown() noexcept {
  std::lock_guard<std::mutex> guard(g_lock);
#if defined(_WIN32)
  if (g_tlsIndex != TLS_OUT_OF_INDEXES) TlsFree(g_tlsIndex);
  g_tlsIndex = TLS_OUT_OF_INDEXES;
#else
  // The library is leaving the process: no thread may run its key destructor.
  if (g_keyReady) pthread_key_delete(g_key);
  t_block = nullptr;
#endif
  while (g_blocks != nullptr) retireLocked(g_blocks);
}

}  // namespace xylotrak::accounting

using namespace xylotrak;
using namespace xylotrak::accounting;

namespace {
bool inBlock(std::int16_t index) { return index >= 0 && index < kSlotCount; }
}  // namespace

extern "C" {

XYLOTRAK_API int32_t tally_start(void) {
  start();
  return 0;
}

XYLOTRAK_API int32_t tally_stop(void) {
  stop();
  return kStopped;
}

XYLOTRAK_API int32_t tally_status(int index) {
  const std::int16_t i = low16(index);
  if (!inBlock(i)) return 0;
  return g_status[i].load(std::memory_order_acquire);
}

XYLOTRAK_API int32_t tally_count(int index) {
  const std::int16_t i = low16(index);
  if (!inBlock(i)) return 0;
  return static_cast<int32_t>(count(i));
}

}  // extern "C"
