#!/usr/bin/env bash
# Installs the Debian packages that the Windows cross build and its Wine test
# run need, when missing: the mingw-w64 cross compiler (POSIX threads model),
# 64-bit Wine with GnuTLS for its TLS, and openssl for the throwaway CA. The
# DLL's XML library, pugixml, has no mingw package: its Debian source is
# fetched (a deb-src entry for bookworm main is added for it) and unpacked
# into third_party/, where cmake/Pugixml.cmake compiles it into the DLL.
set -euo pipefail
packages=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 libgnutls30 openssl)
"$(dirname "$0")/install-deps.sh" "${packages[@]}"

root=$(cd "$(dirname "$0")/.." && pwd)
if ! compgen -G "$root/third_party/pugixml-*/src/pugixml.cpp" >/dev/null; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  list=/etc/apt/sources.list.d/xylotrak-deb-src.sources
  if [ ! -f "$list" ]; then
    printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: bookworm\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' |
      $SUDO tee "$list" >/dev/null
    $SUDO apt-get update -qq
  fi
  mkdir -p "$root/third_party"
  work=$(mktemp -d)
  (cd "$work" && apt-get source --download-only pugixml >/dev/null)
  tar -xzf "$work"/pugixml_*.orig.tar.gz -C "$root/third_party"
  rm -rf "$work"
fi
