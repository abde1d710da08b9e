#!/usr/bin/env bash
# Static analysis of the library's sources in src/ and of the programs in
# tools/: clang-tidy (checks in .clang-tidy, and tools/xtk/.clang-tidy for xtk)
# with the compile commands of a configured build, then cppcheck. Prints every
# finding and exits non-zero when there is one.
#
# A false positive is suppressed where it occurs, with the reason:
#   // NOLINT(check-name): reason                        (clang-tidy)
#   // cppcheck-suppress id ; reason   on the line before (cppcheck)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)
build=build-analysis

# Only configuring is needed: clang-tidy reads compile_commands.json.
cmake -S . -B "$build" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DXYLOTRAK_BUILD_TESTS=OFF -DXYLOTRAK_BUILD_BENCHMARKS=OFF -DXYLOTRAK_BUILD_EXAMPLES=OFF >/dev/null

# The sources under src/ and tools/ that this platform compiles.
mapfile -t sources < <(python3 - "$build/compile_commands.json" "$PWD/src/" "$PWD/tools/" <<'PY'
import json, os, sys
entries = json.load(open(sys.argv[1]))
files = {os.path.realpath(os.path.join(e["directory"], e["file"])) for e in entries}
print("\n".join(sorted(f for f in files if f.startswith(tuple(sys.argv[2:])))))
PY
)
for dir in src tools; do
  printf '%s\n' "${sources[@]}" | grep -q "^$PWD/$dir/" ||
    { echo "no sources of $dir/ in $build/compile_commands.json" >&2; exit 2; }
done

status=0
echo "== clang-tidy-14 (${#sources[@]} files)"
# Every finding is an error (.clang-tidy), so clang-tidy fails on any; its
# summary lines ("N warnings generated.") are left out of the output.
log="$build/clang-tidy.log"
printf '%s\n' "${sources[@]}" | xargs -P "$jobs" -n 1 clang-tidy-14 -p "$build" --quiet >"$log" 2>&1 ||
  status=1
grep -v -E '^[0-9]+ (warnings?|errors?)( and [0-9]+ errors?)? generated\.$' "$log" || true

echo "== cppcheck"
if ! cppcheck --enable=warning,performance,portability --error-exitcode=1 --inline-suppr \
    --std=c++20 --language=c++ -I include -I src -I tools/xtk --quiet -j "$jobs" src/ tools/; then
  status=1
fi

[ "$status" = 0 ] && echo "static analysis: no findings"
exit "$status"
