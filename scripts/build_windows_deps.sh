#!/usr/bin/env bash
# Cross-builds the Windows host's dependencies (cJSON, the same version as
# the Linux build's libcjson-dev) from Debian's own source package with the
# MinGW-w64 toolchain, into a cache folder outside the source tree, once per
# machine and version; later runs find the finished build and return at once.
# Prints the install prefix on its last line.
#   scripts/build_windows_deps.sh        build (or reuse) and print the prefix
# LUMORA_CACHE chooses the cache folder (default ~/.cache/lumora).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
suite=bookworm
cache=${LUMORA_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/lumora}
toolchain=$root/cmake/mingw-w64-x86_64.cmake
jobs=$(nproc 2>/dev/null || echo 2)
sudo=()
if [ "$(id -u)" -ne 0 ]; then
  sudo=(sudo)
fi

# Source entries for Debian's own archive only (the same file the SDL3 build
# writes); binary packages keep coming from the machine's entries.
sources_file=/etc/apt/sources.list.d/lumora-debian-sources.sources
ensure_source_entry() {
  if apt-cache showsrc cjson 2>/dev/null | grep -q '^Package: cjson$'; then
    return
  fi
  if [ ! -f "$sources_file" ]; then
    "${sudo[@]}" tee "$sources_file" >/dev/null <<SOURCES
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm trixie
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
  fi
  "${sudo[@]}" apt-get update -qq
}

# The version the Linux build links against, so both hosts parse alike.
cjson_version() {
  dpkg-query -W -f='${Version}' libcjson-dev 2>/dev/null || true
}

ensure_source_entry
version=$(cjson_version)
if [ -z "$version" ]; then
  echo "build_windows_deps: libcjson-dev is not installed; run scripts/setup.sh first" >&2
  exit 1
fi
prefix=$cache/windows-x64-cjson-${version%%-*}
marker=$prefix/.built-cjson-$version
if [ ! -f "$marker" ]; then
  work=$cache/src/cjson-windows-$version
  rm -rf "$work"
  mkdir -p "$work" "$prefix"
  # apt-get source checks the signed .dsc and every file's checksum.
  (cd "$work" && apt-get source -qq --only-source "cjson=$version" >/dev/null 2>"$work/source.log")
  tree=$(find "$work" -mindepth 1 -maxdepth 1 -type d | head -n1)
  # A static library, so that the .exe needs no DLL of it.
  cmake -S "$tree" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_INSTALL_LIBDIR=lib \
    -DBUILD_SHARED_LIBS=OFF -DBUILD_SHARED_AND_STATIC_LIBS=OFF -DENABLE_CJSON_TEST=OFF \
    -DENABLE_CJSON_UTILS=OFF -DENABLE_CUSTOM_COMPILER_FLAGS=OFF >"$work/configure.log" 2>&1
  cmake --build "$work/build" -j "$jobs" >"$work/build.log"
  cmake --install "$work/build" >"$work/install.log"
  touch "$marker"
  rm -rf "$work"
fi
echo "$prefix"
