#!/usr/bin/env bash
# Installs the build into a scratch prefix, then builds and runs a consumer
# against it twice: with find_package(xylotrak) and with pkg-config.
# usage: install_test.sh <build dir> <consumer source dir> <scratch dir> <C compiler>
set -euo pipefail
build=$1 consumer=$2 work=$3 cc=$4
rm -rf "$work"
mkdir -p "$work"
prefix=$work/prefix
export XYLOTRAK_LOG=$work/xtk.txt

cmake --install "$build" --prefix "$prefix" >/dev/null
test -f "$prefix/include/xylotrak.h"
test -f "$prefix/include/xylotrak_version.h"

# CMake package.
cmake -S "$consumer" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_C_COMPILER="$cc" >/dev/null
cmake --build "$work/cmake" >/dev/null
"$work/cmake/xylotrak_consumer"

# pkg-config file.
pc=$(find "$prefix" -name xylotrak.pc)
test -n "$pc"
export PKG_CONFIG_PATH=${pc%/*}
# The package's version is the headers' version.
grep -q "^#define XYLOTRAK_VERSION_STRING \"$(pkg-config --modversion xylotrak)\"$" \
  "$prefix/include/xylotrak_version.h"
# shellcheck disable=SC2046  # the flags are meant to split
"$cc" -std=c11 -Wall -Werror "$consumer/consumer.c" $(pkg-config --cflags --libs xylotrak) \
  -o "$work/pkgconfig_consumer"
LD_LIBRARY_PATH=$(pkg-config --variable=libdir xylotrak) "$work/pkgconfig_consumer"

# Both runs unloaded the library at exit and appended their usage reports.
test "$(grep -c '^Process detach$' "$XYLOTRAK_LOG")" -eq 2
echo "install test passed"
