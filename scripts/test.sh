#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite: as built
# for release; the R package (XYLOTRAK_SKIP_R=1 leaves it out); under
# AddressSanitizer and UndefinedBehaviorSanitizer; the concurrency tests under
# ThreadSanitizer; each fuzz harness briefly; the static analysis and the
# formatting check; and the Windows DLL under Wine. Ends with the time each
# stage took (wall clock and processor), also when a stage fails.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

# Each stage's wall-clock seconds, and the processor seconds (user and system)
# of its processes: on a machine shared with other work the first grows with
# the load, the second hardly.
stages=()
seconds=()
cpu=()
current=""
started=0
cpu_started=0
times_file=$(mktemp)
# Processor seconds of this script's finished child processes so far. `times`
# must run in this shell, not in a subshell, to see them.
children_cpu() {
  times >"$times_file"
  children_cpu_seconds=$(awk 'NR == 2 { split($1, u, /[ms]/); split($2, s, /[ms]/);
    printf "%d", u[1] * 60 + u[2] + s[1] * 60 + s[2] }' "$times_file")
}
# Runs the rest of the arguments as the stage named by the first.
stage() {
  current=$1
  shift
  started=$SECONDS
  children_cpu
  cpu_started=$children_cpu_seconds
  "$@"
  end_stage "$current"
}
end_stage() {
  children_cpu
  stages+=("$1")
  seconds+=($((SECONDS - started)))
  cpu+=($((children_cpu_seconds - cpu_started)))
  current=""
}
summary() {
  local status=$?
  [ -z "$current" ] || end_stage "$current (failed)"
  children_cpu
  rm -f "$times_file"
  echo
  printf '%-28s %8s %12s\n' "stage" "seconds" "cpu seconds"
  local i
  for i in "${!stages[@]}"; do
    printf '%-28s %8d %12d\n' "${stages[$i]}" "${seconds[$i]}" "${cpu[$i]}"
  done
  printf '%-28s %8d %12d\n' "total" "$SECONDS" "$children_cpu_seconds"
  exit "$status"
}
trap summary EXIT

build() {
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DXYLOTRAK_BUILD_TESTS=ON \
    -DXYLOTRAK_BUILD_BENCHMARKS=ON -DXYLOTRAK_BUILD_EXAMPLES=ON -DXYLOTRAK_BUILD_TOOLS=ON
  cmake --build build -j"$jobs"
}
# The windows.* tests (there when mingw-w64 is installed) run once, in the
# Windows stage at the end.
unit_tests() { ctest --test-dir build --output-on-failure -j"$jobs" -LE windows; }

asan_build() {
  cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DXYLOTRAK_SANITIZE=address,undefined,float-cast-overflow \
    -DXYLOTRAK_BUILD_BENCHMARKS=OFF -DXYLOTRAK_BUILD_EXAMPLES=OFF
  cmake --build build-asan -j"$jobs"
}
asan_tests() {
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure -j"$jobs"
}
# The concurrency tests (the accounting's, the inventory export's worker
# threads) once more under ThreadSanitizer.
tsan() {
  cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DXYLOTRAK_SANITIZE=thread \
    -DXYLOTRAK_BUILD_BENCHMARKS=OFF -DXYLOTRAK_BUILD_EXAMPLES=OFF
  cmake --build build-tsan -j"$jobs" --target accounting_threads_tests inventory_tests
  TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan --output-on-failure \
    -R '^(Concurrent|Inventory\.)'
}

stage "packages" scripts/install-deps.sh
stage "build (RelWithDebInfo)" build
stage "ctest" unit_tests
# The R package, built and checked against the library just built.
if [ "${XYLOTRAK_SKIP_R:-0}" != 1 ]; then
  stage "R package" scripts/test-r.sh
fi
if [ "${XYLOTRAK_SKIP_SANITIZERS:-0}" != 1 ]; then
  stage "build (ASan, UBSan)" asan_build
  stage "ctest (ASan, UBSan)" asan_tests
  stage "ThreadSanitizer" tsan
fi
# Each fuzz harness for a short fixed number of runs, and the static analysis.
if [ "${XYLOTRAK_SKIP_FUZZ:-0}" != 1 ]; then
  stage "fuzzing" scripts/fuzz.sh
fi
stage "static analysis" scripts/static-analysis.sh
stage "format" scripts/check-format.sh
# The Windows DLL, cross-built and run under Wine.
if [ "${XYLOTRAK_SKIP_WINDOWS:-0}" != 1 ]; then
  stage "Windows DLL under Wine" scripts/test-windows.sh
fi
