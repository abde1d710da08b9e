#!/usr/bin/env bash
# Builds the library and its tests with AddressSanitizer (leak checking
# included) and UndefinedBehaviorSanitizer, and runs the test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DXYLOTRAK_SANITIZE=address,undefined \
  -DXYLOTRAK_BUILD_BENCHMARKS=OFF -DXYLOTRAK_BUILD_EXAMPLES=OFF
cmake --build build-asan -j"$(nproc)"
ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build-asan --output-on-failure -j"$(nproc)"
