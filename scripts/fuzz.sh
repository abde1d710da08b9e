#!/usr/bin/env bash
# Builds the libFuzzer harnesses of fuzz/ with clang into build-fuzz/ and runs
# them from the seed corpus in fuzz/corpus/.
#
#   scripts/fuzz.sh                          every harness for a short fixed
#                                            number of runs (what CI runs)
#   scripts/fuzz.sh --long SECONDS [NAME...] each named harness (default: all)
#                                            for SECONDS, one after another
#   scripts/fuzz.sh --runs N [NAME...]       the same, each for N executions
#
# Options before --long: --workers N runs N copies of each harness at once on
# the same corpus (their executions are added up); --coverage-only builds the
# harnesses without AddressSanitizer and UndefinedBehaviorSanitizer, in
# build-fuzz-coverage/ (the harnesses' own checks and guard pages stay; runs
# are several times faster, for long runs).
#
# Inputs found along the way go to build-fuzz/corpus/<harness>/ (cleared for
# the short run, kept across long runs); a failing input is saved as
# build-fuzz/artifacts/<harness>-crash-... and the script exits non-zero.
# Reproduce one with: build-fuzz/fuzz/<harness> <file>
set -euo pipefail
cd "$(dirname "$0")/.."

long=0
seconds=0
workers=1
dir=build-fuzz
sanitizers="address,undefined"
while [ $# -gt 0 ]; do
  case "$1" in
    --workers) workers=${2:?usage: --workers N}; shift 2 ;;
    --coverage-only) dir=build-fuzz-coverage; sanitizers=""; shift ;;
    *) break ;;
  esac
done
runs_each=0
if [ "${1:-}" = "--long" ]; then
  long=1
  seconds=${2:?usage: scripts/fuzz.sh --long SECONDS [HARNESS...]}
  shift 2
elif [ "${1:-}" = "--runs" ]; then
  long=1
  runs_each=${2:?usage: scripts/fuzz.sh --runs N [HARNESS...]}
  shift 2
fi
all=(taper_fuzz sequential_fuzz optimised_fuzz exact_fuzz formulas_fuzz plot_area_fuzz fitting_fuzz
  inventory_fuzz hpr_fuzz taper_stats_fuzz)
harnesses=("$@")
[ ${#harnesses[@]} -gt 0 ] || harnesses=("${all[@]}")

# Runs of the short run. The optimised search is by far the dearest per input
# (each call made twice: normal and a squeezed cache); the exact harness makes
# each call four times (normal, squeezed, no and a tiny cache; large tables
# only the first two).
declare -A runs=([taper_fuzz]=20000 [sequential_fuzz]=20000 [optimised_fuzz]=4000
  [exact_fuzz]=3000 [formulas_fuzz]=20000 [plot_area_fuzz]=20000
  [fitting_fuzz]=8000 [inventory_fuzz]=1000 [hpr_fuzz]=4000
  [taper_stats_fuzz]=4000)

scripts/install-deps.sh
jobs=$(nproc)
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 -DXYLOTRAK_BUILD_FUZZERS=ON \
  -DXYLOTRAK_FUZZ_SANITIZERS="$sanitizers" -DXYLOTRAK_BUILD_TESTS=OFF \
  -DXYLOTRAK_BUILD_BENCHMARKS=OFF -DXYLOTRAK_BUILD_EXAMPLES=OFF -DXYLOTRAK_BUILD_TOOLS=OFF >/dev/null
cmake --build "$dir" -j"$jobs" --target fuzzers

# The unload report of each run goes nowhere; sanitizer reports stop the run.
export XYLOTRAK_LOG=/nonexistent/xylotrak/xtk.txt
export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p "$dir/artifacts"

for h in "${harnesses[@]}"; do
  [ -x "$dir/fuzz/$h" ] || { echo "no such harness: $h" >&2; exit 2; }
  work=$dir/corpus/$h
  if [ "$runs_each" -gt 0 ]; then
    # Split among the workers, so that together they make N executions.
    limit=(-runs="$(((runs_each + workers - 1) / workers))")
  elif [ "$long" = 1 ]; then
    limit=(-max_total_time="$seconds")
  else
    rm -rf "$work"
    limit=(-runs="${runs[$h]}")
  fi
  mkdir -p "$work"
  echo "== $h"
  start=$(date +%s)
  # One input may take a while in the optimised search (up to 99 generations
  # of up to 10000 sequences); -timeout only catches one that never returns.
  rm -f "$dir/$h".*.log
  pids=()
  for w in $(seq 1 "$workers"); do
    "$dir/fuzz/$h" "$work" "fuzz/corpus/$h" "${limit[@]}" -seed="$w" -timeout=60 \
      -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$dir/artifacts/$h-" \
      >"$dir/$h.$w.log" 2>&1 &
    pids+=($!)
  done
  failed=0
  for w in $(seq 1 "$workers"); do
    if ! wait "${pids[$((w - 1))]}"; then
      tail -n 60 "$dir/$h.$w.log"
      echo "FAILED: $h (full log $dir/$h.$w.log, input in $dir/artifacts/)" >&2
      failed=1
    fi
  done
  [ "$failed" = 0 ] || exit 1
  for w in $(seq 1 "$workers"); do
    grep -E '^(Done|stat::(number_of_executed_units|average_exec_per_sec|slowest_unit_time_sec|peak_rss_mb))' \
      "$dir/$h.$w.log" | sed "s/^/   [$w] /"
  done
  total=$(cat "$dir/$h".*.log | awk '/^stat::number_of_executed_units:/ { n += $2 } END { print n }')
  echo "   executions: $total in $(($(date +%s) - start)) s"
done
