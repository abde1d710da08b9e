#!/usr/bin/env bash
# Fresh machine to first result: install, build, and run xtk's built-in example
# (a 30 m tree bucked into four products both ways; the drawing goes to demo.svg).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" >/dev/null
./build/tools/xtk/xtk demo
