#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite: as built
# for release; the R package (XYLOTRAK_SKIP_R=1 leaves it out); under
# AddressSanitizer and UndefinedBehaviorSanitizer; the concurrency tests under
# ThreadSanitizer; each fuzz harness briefly; the static analysis and the
# formatting check; and the Windows DLL under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"
# The windows.* tests (there when mingw-w64 is installed) run once, in the
# Windows stage at the end.
ctest --test-dir build --output-on-failure -j"$jobs" -LE windows

# The R package, built and checked against the library just built.
if [ "${XYLOTRAK_SKIP_R:-0}" != 1 ]; then
  scripts/test-r.sh
fi

if [ "${XYLOTRAK_SKIP_SANITIZERS:-0}" != 1 ]; then
  cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DXYLOTRAK_SANITIZE=address,undefined,float-cast-overflow \
    -DXYLOTRAK_BUILD_BENCHMARKS=OFF -DXYLOTRAK_BUILD_EXAMPLES=OFF
  cmake --build build-asan -j"$jobs"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure -j"$jobs"
fi

# The concurrency tests (the accounting's, the inventory export's worker
# threads) once more under ThreadSanitizer.
if [ "${XYLOTRAK_SKIP_SANITIZERS:-0}" != 1 ]; then
  cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DXYLOTRAK_SANITIZE=thread \
    -DXYLOTRAK_BUILD_BENCHMARKS=OFF -DXYLOTRAK_BUILD_EXAMPLES=OFF
  cmake --build build-tsan -j"$jobs" --target accounting_threads_tests inventory_tests
  TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan --output-on-failure \
    -R '^(Concurrent|Inventory\.)'
fi

# Each fuzz harness for a short fixed number of runs, and the static analysis.
if [ "${XYLOTRAK_SKIP_FUZZ:-0}" != 1 ]; then
  scripts/fuzz.sh
fi
scripts/static-analysis.sh
scripts/check-format.sh

# The Windows DLL, cross-built and run under Wine.
if [ "${XYLOTRAK_SKIP_WINDOWS:-0}" != 1 ]; then
  scripts/test-windows.sh
fi
