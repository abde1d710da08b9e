#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when missing;
# with arguments, those packages instead.
set -euo pipefail
packages=(cmake g++ make pkg-config libgtest-dev googletest libbenchmark-dev python3)
packages+=(libcurl4-openssl-dev libidn2-dev openssl)  # the HTTPS request and its test server
packages+=(libeigen3-dev libboost-dev)  # fitting taper models: QR factorisation, F distribution
# The Python binding's tests: Debian's interpreter with pytest, NumPy, pandas and Dask.
packages+=(python3-pytest python3-numpy python3-pandas python3-dask python3-distributed)
# The Python package: its wheel (setuptools, wheel, pip), a virtual environment to install it
# into, and the type check.
packages+=(python3-pip python3-setuptools python3-wheel python3-venv mypy)
# xtk, the command-line program: its option parser and JSON library.
packages+=(libcli11-dev nlohmann-json3-dev)
# Harvester production files (.hpr): the XML library.
packages+=(libpugixml-dev)
# The R package in r/ (scripts/test-r.sh): R, its headers and testthat.
packages+=(r-base-core r-base-dev r-cran-testthat)
# The mixed-effects fit is compared with nlme::lme (tests/nlme_compare.R).
packages+=(r-cran-nlme r-cran-jsonlite)
# Fuzzing (scripts/fuzz.sh) and static analysis (scripts/static-analysis.sh).
packages+=(clang-14 libclang-rt-14-dev clang-tidy-14 cppcheck)
# The formatting check (scripts/check-format.sh).
packages+=(clang-format-14)
[ $# -gt 0 ] && packages=("$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
