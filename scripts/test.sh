#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j"$(nproc)"
# The HTTPS request tests once more under AddressSanitizer (leaks included).
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DXYLOTRAK_SANITIZE=address \
  -DXYLOTRAK_BUILD_BENCHMARKS=OFF -DXYLOTRAK_BUILD_EXAMPLES=OFF
cmake --build build-asan -j"$(nproc)" --target https_tests https_internal_tests
ctest --test-dir build-asan -R '^Https' --output-on-failure -j"$(nproc)"
