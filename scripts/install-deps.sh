#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when missing.
#   install-deps.sh           everything scripts/test.sh uses
#   install-deps.sh --build   only what building the library, xtk and the examples
#                             needs (scripts/quickstart.sh)
#   install-deps.sh PKG...    those packages
set -euo pipefail
# The library (its HTTPS request: curl and IDN; fitting taper models: Eigen's QR
# factorisation and Boost's F distribution; harvester production files: pugixml) and xtk
# (its option parser and JSON library).
build=(cmake g++ make pkg-config libcurl4-openssl-dev libidn2-dev libeigen3-dev libboost-dev)
build+=(libpugixml-dev libcli11-dev nlohmann-json3-dev)

packages=("${build[@]}")
packages+=(libgtest-dev googletest libbenchmark-dev python3)  # the tests and benchmarks
packages+=(openssl)  # the HTTPS test's server certificates
# The Python binding's tests: Debian's interpreter with pytest, NumPy, pandas and Dask.
packages+=(python3-pytest python3-numpy python3-pandas python3-dask python3-distributed)
# The Python package: its wheel (setuptools, wheel, pip), a virtual environment to install it
# into, and the type check.
packages+=(python3-pip python3-setuptools python3-wheel python3-venv mypy)
# The R package in r/ (scripts/test-r.sh): R, its headers and testthat.
packages+=(r-base-core r-base-dev r-cran-testthat)
# The mixed-effects fit is compared with nlme::lme (tests/nlme_compare.R).
packages+=(r-cran-nlme r-cran-jsonlite)
# Fuzzing (scripts/fuzz.sh) and static analysis (scripts/static-analysis.sh).
packages+=(clang-14 libclang-rt-14-dev clang-tidy-14 cppcheck)
# The formatting check (scripts/check-format.sh).
packages+=(clang-format-14)
if [ "${1:-}" = --build ]; then
  packages=("${build[@]}")
elif [ $# -gt 0 ]; then
  packages=("$@")
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  # apt-get and dpkg print a few lines per package: they go to a log, which is
  # shown when the installation fails.
  log=$(mktemp "${TMPDIR:-/tmp}/xylotrak-install.XXXXXX")
  echo "installing: ${missing[*]} (apt-get's output in $log)"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  if ! { $SUDO apt-get update -qq &&
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
      "${missing[@]}"; } >"$log" 2>&1; then
    cat "$log" >&2
    echo "install-deps.sh: installing the packages failed (see above)" >&2
    exit 1
  fi
fi
