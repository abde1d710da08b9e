#!/usr/bin/env bash
# Installs the Debian packages that the Windows cross build and its Wine test
# run need, when missing: the mingw-w64 cross compiler (POSIX threads model),
# 64-bit Wine with GnuTLS for its TLS, and openssl for the throwaway CA.
set -euo pipefail
packages=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 libgnutls30 openssl)
exec "$(dirname "$0")/install-deps.sh" "${packages[@]}"
