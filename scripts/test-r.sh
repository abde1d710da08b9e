#!/usr/bin/env bash
# Builds and checks the R package in r/ against the library: the one
# scripts/test.sh built in build/ when it is there, else a Release build of
# its own in build-r/. The library is installed to a staging prefix, found by
# the package through pkg-config, and xtk from there is what the tests compare
# buck_inventory() with. Fails when R CMD check reports an ERROR or a WARNING.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

build=${XYLOTRAK_R_BUILD:-build}
if [ ! -f "$build/libxylotrak.so" ] || [ ! -x "$build/tools/xtk/xtk" ]; then
  build="build-r"
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DXYLOTRAK_BUILD_TESTS=OFF \
    -DXYLOTRAK_BUILD_BENCHMARKS=OFF -DXYLOTRAK_BUILD_EXAMPLES=OFF
  cmake --build "$build" -j"$(nproc)" --target xylotrak xtk
fi
# The package's version is the project's, which project() in CMakeLists.txt defines.
project_version=$(sed -n 's/^project(xylotrak VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
package_version=$(sed -n 's/^Version: *//p' r/DESCRIPTION)
if [ "$project_version" != "$package_version" ]; then
  echo "test-r.sh: r/DESCRIPTION says version $package_version, CMakeLists.txt $project_version" >&2
  exit 1
fi
stage="$root/$build/stage"
cmake --install "$build" --prefix "$stage" >/dev/null
pc=$(find "$stage" -name xylotrak.pc -print -quit)
[ -n "$pc" ] || { echo "test-r.sh: no xylotrak.pc under $stage" >&2; exit 1; }
pcdir=$(dirname "$pc")
export PKG_CONFIG_PATH="$pcdir${PKG_CONFIG_PATH:+:$PKG_CONFIG_PATH}"
export XTK="$stage/bin/xtk"
# The .hpr fixtures that read_hpr() and harvest_audit() are compared on.
export XYLOTRAK_HPR_DATA="$root/tests/data/hpr"

out="$root/$build/r-check"
rm -rf "$out"
mkdir -p "$out/repo/src/contrib"
cd "$out"
# Every dependency comes from Debian: R CMD check looks packages up in an empty
# local repository instead of reaching out to CRAN.
: >repo/src/contrib/PACKAGES
echo "options(repos = c(CRAN = 'file://$out/repo'))" >Rprofile
export R_PROFILE_USER="$out/Rprofile"
R CMD build --no-build-vignettes "$root/r"
tarball=$(ls xylotrak_*.tar.gz)
status=0
_R_CHECK_FORCE_SUGGESTS_=false R CMD check --no-manual "$tarball" 2>&1 | tee check.log || status=$?
summary=$(grep -E '^Status:' check.log || true)
if [ "$status" -ne 0 ] || [ -z "$summary" ] || echo "$summary" | grep -Eq 'ERROR|WARNING'; then
  echo "test-r.sh: R CMD check failed (${summary:-no status}); see $out/check.log and xylotrak.Rcheck/" >&2
  exit 1
fi
echo "test-r.sh: R CMD check passed (${summary})"
# Ctrl-C during a long inventory, against the package as the check installed it.
"$root/tests/r_interrupt_test.sh" "$out/xylotrak.Rcheck"
# The shared front-end inputs through xtk batch, Python and R: the same rows, or the same refusal.
LD_LIBRARY_PATH="$stage/lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" /usr/bin/python3 \
  "$root/tests/frontend_parity.py" "$XTK" "$root/$build/libxylotrak.so" "$out/xylotrak.Rcheck"
