#!/usr/bin/env bash
# Builds SDL3, SDL3_ttf and SDL3_image from Debian's own source packages
# (Debian 12 packages no SDL3) into a cache folder outside the source tree,
# once per machine and version; later runs find the finished build and return
# at once. Prints the install prefix on its last line.
#   scripts/build_sdl3.sh            build (or reuse) and print the prefix
# LUMORA_CACHE chooses the cache folder (default ~/.cache/lumora).
set -euo pipefail

suite=trixie
cache=${LUMORA_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/lumora}
jobs=$(nproc 2>/dev/null || echo 2)
sudo=()
if [ "$(id -u)" -ne 0 ]; then
  sudo=(sudo)
fi

# Source entries for Debian's own archive only; binary packages keep coming
# from the machine's bookworm entries.
sources_file=/etc/apt/sources.list.d/lumora-debian-sources.sources
ensure_source_entry() {
  if [ -f "$sources_file" ] && apt-cache showsrc "libsdl3" 2>/dev/null | grep -q '^Package: libsdl3$'; then
    return
  fi
  "${sudo[@]}" tee "$sources_file" >/dev/null <<SOURCES
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm $suite
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
  "${sudo[@]}" apt-get update -qq
}

# The newest version of a source package in the suite, as apt would fetch it.
source_version() {
  apt-cache showsrc "$1" 2>/dev/null | awk -v want="$1" '
    /^Package: / { package = $2 }
    /^Version: / && package == want { print $2 }' | sort -V | tail -n1
}

# build_package SOURCE_PACKAGE VERSION PREFIX [cmake options...]
build_package() {
  local package=$1 version=$2 prefix=$3
  shift 3
  local upstream=${version%%-*}
  upstream=${upstream%%+*}
  local work=$cache/src/$package-$version
  if [ -f "$prefix/.built-$package-$version" ]; then
    return
  fi
  rm -rf "$work"
  mkdir -p "$work"
  # apt-get source checks the signed .dsc and every file's checksum.
  (cd "$work" && apt-get source -qq --only-source "$package/$suite" >/dev/null)
  local tree
  tree=$(find "$work" -mindepth 1 -maxdepth 1 -type d | head -n1)
  cmake -S "$tree" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_INSTALL_LIBDIR=lib "$@" >"$work/configure.log"
  cmake --build "$work/build" -j "$jobs" >"$work/build.log"
  cmake --install "$work/build" >"$work/install.log"
  touch "$prefix/.built-$package-$version"
  rm -rf "$work"
}

ensure_source_entry
sdl_version=$(source_version libsdl3)
ttf_version=$(source_version libsdl3-ttf)
image_version=$(source_version libsdl3-image)
if [ -z "$sdl_version" ] || [ -z "$ttf_version" ] || [ -z "$image_version" ]; then
  echo "build_sdl3: Debian's $suite sources for libsdl3, libsdl3-ttf and libsdl3-image were not found" >&2
  exit 1
fi
prefix=$cache/sdl3-${sdl_version%%+*}-ttf-${ttf_version%%+*}-image-${image_version%%+*}
mkdir -p "$prefix"

# Only what the window uses: X11, Wayland and offscreen video, the software
# and OpenGL renderers, shared libraries; no audio, GPU API, tests or examples.
build_package libsdl3 "$sdl_version" "$prefix" \
  -DSDL_SHARED=ON -DSDL_STATIC=OFF -DSDL_TEST_LIBRARY=OFF -DSDL_TESTS=OFF -DSDL_EXAMPLES=OFF \
  -DSDL_AUDIO=OFF -DSDL_CAMERA=OFF -DSDL_SENSOR=OFF \
  -DSDL_POWER=OFF -DSDL_DIALOG=OFF -DSDL_GPU=OFF -DSDL_VULKAN=OFF -DSDL_RENDER_VULKAN=OFF -DSDL_RENDER_GPU=OFF \
  -DSDL_X11=ON -DSDL_WAYLAND=ON -DSDL_OFFSCREEN=ON -DSDL_KMSDRM=OFF -DSDL_OPENGL=ON -DSDL_OPENGLES=ON \
  -DSDL_PIPEWIRE=OFF -DSDL_PULSEAUDIO=OFF -DSDL_ALSA=OFF -DSDL_JACK=OFF -DSDL_SNDIO=OFF -DSDL_LIBURING=OFF \
  -DSDL_IBUS=OFF -DSDL_LIBUDEV=OFF -DSDL_DBUS=OFF -DSDL_WAYLAND_LIBDECOR=OFF
build_package libsdl3-ttf "$ttf_version" "$prefix" \
  -DBUILD_SHARED_LIBS=ON -DSDLTTF_VENDORED=OFF -DSDLTTF_HARFBUZZ=ON -DSDLTTF_PLUTOSVG=OFF \
  -DSDLTTF_SAMPLES=OFF -DSDLTTF_TESTS=OFF
build_package libsdl3-image "$image_version" "$prefix" \
  -DBUILD_SHARED_LIBS=ON -DSDLIMAGE_VENDORED=OFF -DSDLIMAGE_SAMPLES=OFF -DSDLIMAGE_TESTS=OFF \
  -DSDLIMAGE_BACKEND_STB=OFF -DSDLIMAGE_PNG=ON -DSDLIMAGE_PNG_SAVE=ON -DSDLIMAGE_BMP=ON \
  -DSDLIMAGE_AVIF=OFF -DSDLIMAGE_GIF=OFF -DSDLIMAGE_JPG=OFF -DSDLIMAGE_JXL=OFF -DSDLIMAGE_LBM=OFF \
  -DSDLIMAGE_PCX=OFF -DSDLIMAGE_PNM=OFF -DSDLIMAGE_QOI=OFF -DSDLIMAGE_SVG=OFF -DSDLIMAGE_TGA=OFF \
  -DSDLIMAGE_TIF=OFF -DSDLIMAGE_WEBP=OFF -DSDLIMAGE_XCF=OFF -DSDLIMAGE_XPM=OFF -DSDLIMAGE_XV=OFF
echo "$prefix"
