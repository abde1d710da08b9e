#!/usr/bin/env bash
# Fresh machine to first result: install what building needs, build the library,
# xtk and the example host, and run xtk's built-in example (a 30 m tree bucked
# into four products both ways; the drawing goes to demo.svg). The test suite,
# its tools and the benchmarks are left to scripts/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --build
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DXYLOTRAK_BUILD_TESTS=OFF \
  -DXYLOTRAK_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build -j"$(nproc)" >/dev/null
./build/tools/xtk/xtk demo
