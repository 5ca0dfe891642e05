#!/usr/bin/env bash
# Cross-builds the Windows build's dependencies (cJSON and GoogleTest, the
# versions the Linux build uses) from Debian's own source packages with the
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

installed_version() {
  dpkg-query -W -f='${Version}' "$1" 2>/dev/null || true
}

# build_package SOURCE_PACKAGE VERSION [cmake options...]: a static library,
# so that the .exe needs no DLL of it.
build_package() {
  local package=$1 version=$2
  shift 2
  local marker=$prefix/.built-$package-$version
  if [ -f "$marker" ]; then
    return
  fi
  local work=$cache/src/$package-windows-$version
  rm -rf "$work"
  mkdir -p "$work"
  # apt-get source checks the signed .dsc and every file's checksum.
  (cd "$work" && apt-get source -qq --only-source "$package=$version" >/dev/null 2>"$work/source.log")
  local tree
  tree=$(find "$work" -mindepth 1 -maxdepth 1 -type d | head -n1)
  cmake -S "$tree" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_INSTALL_LIBDIR=lib \
    -DBUILD_SHARED_LIBS=OFF "$@" >"$work/configure.log" 2>&1
  cmake --build "$work/build" -j "$jobs" >"$work/build.log"
  cmake --install "$work/build" >"$work/install.log"
  touch "$marker"
  rm -rf "$work"
}

ensure_source_entry
# The versions the Linux build uses, so that both builds parse and test alike.
cjson_version=$(installed_version libcjson-dev)
gtest_version=$(installed_version googletest)
if [ -z "$cjson_version" ] || [ -z "$gtest_version" ]; then
  echo "build_windows_deps: libcjson-dev and googletest must be installed; run scripts/setup.sh first" >&2
  exit 1
fi
prefix=$cache/windows-x64-cjson-${cjson_version%%-*}-gtest-${gtest_version%%-*}
mkdir -p "$prefix"
build_package cjson "$cjson_version" \
  -DBUILD_SHARED_AND_STATIC_LIBS=OFF -DENABLE_CJSON_TEST=OFF -DENABLE_CJSON_UTILS=OFF -DENABLE_CUSTOM_COMPILER_FLAGS=OFF
# For the Windows layer's own tests, run under Wine.
build_package googletest "$gtest_version" -DINSTALL_GTEST=ON -DBUILD_GMOCK=ON -Dgtest_disable_pthreads=OFF
echo "$prefix"
