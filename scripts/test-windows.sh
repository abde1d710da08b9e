#!/usr/bin/env bash
# Builds the Windows x64 DLL with mingw-w64 and tests it: its import and
# export tables, and, under Wine in a throwaway prefix, the GoogleTest
# programs, the usage report written at unload and the parity of random
# cases with the Linux shared object. Installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/install-windows-deps.sh

# The Windows DLL and the Windows test programs (build-win/xylotrak.dll).
cmake -S . -B build-win --toolchain cmake/mingw-w64-x86_64.cmake
cmake --build build-win -j2

# The Linux build holds the windows.* tests and the Linux twin of the
# parity probe; only the Windows tests are run here.
cmake -S . -B build -DXYLOTRAK_BUILD_TESTS=ON -DXYLOTRAK_WINDOWS_TESTS=ON
cmake --build build -j2 --target parity_probe
ctest --test-dir build -L windows --output-on-failure
