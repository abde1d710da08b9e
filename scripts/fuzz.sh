#!/usr/bin/env bash
# Builds the libFuzzer harnesses of fuzz/ with clang into build-fuzz/ and runs
# them from the seed corpus in fuzz/corpus/.
#
#   scripts/fuzz.sh                          every harness for a short fixed
#                                            number of runs (what CI runs)
#   scripts/fuzz.sh --long SECONDS [NAME...] each named harness (default: all)
#                                            for SECONDS, one after another
#
# Inputs found along the way go to build-fuzz/corpus/<harness>/ (cleared for
# the short run, kept across long runs); a failing input is saved as
# build-fuzz/artifacts/<harness>-crash-... and the script exits non-zero.
# Reproduce one with: build-fuzz/fuzz/<harness> <file>
set -euo pipefail
cd "$(dirname "$0")/.."

long=0
seconds=0
if [ "${1:-}" = "--long" ]; then
  long=1
  seconds=${2:?usage: scripts/fuzz.sh --long SECONDS [HARNESS...]}
  shift 2
fi
all=(taper_fuzz sequential_fuzz optimised_fuzz exact_fuzz formulas_fuzz plot_area_fuzz)
harnesses=("$@")
[ ${#harnesses[@]} -gt 0 ] || harnesses=("${all[@]}")

# Runs of the short run. The optimised search is by far the dearest per input;
# the exact harness makes each call three times (normal, no and a tiny cache).
declare -A runs=([taper_fuzz]=20000 [sequential_fuzz]=20000 [optimised_fuzz]=4000
  [exact_fuzz]=8000 [formulas_fuzz]=20000 [plot_area_fuzz]=20000)

scripts/install-deps.sh
jobs=$(nproc)
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 -DXYLOTRAK_BUILD_FUZZERS=ON \
  -DXYLOTRAK_BUILD_TESTS=OFF -DXYLOTRAK_BUILD_BENCHMARKS=OFF -DXYLOTRAK_BUILD_EXAMPLES=OFF >/dev/null
cmake --build build-fuzz -j"$jobs" --target fuzzers

# The unload report of each run goes nowhere; sanitizer reports stop the run.
export XYLOTRAK_LOG=/nonexistent/xylotrak/xtk.txt
export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p build-fuzz/artifacts

for h in "${harnesses[@]}"; do
  [ -x "build-fuzz/fuzz/$h" ] || { echo "no such harness: $h" >&2; exit 2; }
  work=build-fuzz/corpus/$h
  if [ "$long" = 1 ]; then
    limit=(-max_total_time="$seconds")
  else
    rm -rf "$work"
    limit=(-runs="${runs[$h]}" -seed=1)
  fi
  mkdir -p "$work"
  echo "== $h"
  start=$(date +%s)
  # One input may take a while in the optimised search (up to 99 generations
  # of up to 10000 sequences); -timeout only catches one that never returns.
  if ! "build-fuzz/fuzz/$h" "$work" "fuzz/corpus/$h" "${limit[@]}" -timeout=60 \
      -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="build-fuzz/artifacts/$h-" \
      >"build-fuzz/$h.log" 2>&1; then
    tail -n 60 "build-fuzz/$h.log"
    echo "FAILED: $h (full log build-fuzz/$h.log, input in build-fuzz/artifacts/)" >&2
    exit 1
  fi
  grep -E '^(Done|stat::(number_of_executed_units|average_exec_per_sec|slowest_unit_time_sec|peak_rss_mb))' \
    "build-fuzz/$h.log"
  echo "   $(($(date +%s) - start)) s"
done
