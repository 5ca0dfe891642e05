#!/usr/bin/env bash
# Sets up a Debian 12 machine for Lumora, builds it, and runs what is asked:
#   scripts/setup.sh          install what is missing and build
#   scripts/setup.sh demo     ... then run the demo (interactive in a terminal, headless otherwise)
#   scripts/setup.sh test     ... then run every test, once plainly and once under ASan + UBSan,
#                             then every fuzz target for about a minute in all
#   scripts/setup.sh bench    ... then run the benchmarks and write bench/RESULTS.md
#   scripts/setup.sh windows  install what is missing, the MinGW-w64 cross compiler and Wine included,
#                             cross-build lumora-host.exe and lay out dist/lumora-windows-x64/
#   scripts/setup.sh windows test   ... and then run the Windows layer's tests and the host's
#                                   integration tests against it under Wine
# Safe to run again: it installs only missing packages and rebuilds incrementally.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
action=${1:-build}
shift || true

packages=(
  build-essential cmake ninja-build pkg-config git
  libcjson-dev libsdl2-dev libsdl2-ttf-dev libsdl2-image-dev libpng-dev fonts-dejavu-core
  libgtest-dev libgmock-dev googletest libbenchmark-dev libutf8proc-dev libimgui-dev
  tmux python3 clang libclang-rt-14-dev libvterm-dev
  python3-pip python3-setuptools python3-wheel python3-venv
  xvfb xdotool
)

# Only for the Windows build, so that the Linux-only paths do not pay for them.
windows_packages=(g++-mingw-w64-x86-64-posix wine wine64 file)
if [ "$action" = windows ]; then
  packages+=("${windows_packages[@]}")
fi

install_missing() {
  local missing=()
  for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$package")
    fi
  done
  if [ ${#missing[@]} -eq 0 ]; then
    return
  fi
  echo "Installing: ${missing[*]}"
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    sudo=(sudo)
  fi
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

jobs=$(nproc 2>/dev/null || echo 2)

build() {  # build DIR [cmake options...]
  local dir=$1
  shift
  cmake -S "$root" -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

run_tests() {  # run_tests DIR
  # The tmux, pty and Xvfb tests wait on real terminals and servers; on a
  # loaded machine one of them may miss its wait once, so a failed test runs
  # once more and only a second failure fails the run.
  (cd "$1" && ctest --output-on-failure -j "$jobs" --timeout 300 --repeat until-pass:2)
}

install_missing
# The Windows build needs no Linux build; its tests need only the integration tests.
if [ "$action" != windows ]; then
  build "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi

case "$action" in
  build) ;;
  demo)
    exec "$root/build/lumora-demo" "$@"
    ;;
  test)
    echo "== tests"
    run_tests "$root/build"
    echo "== tests under AddressSanitizer and UndefinedBehaviorSanitizer"
    build "$root/build-sanitize" -DCMAKE_BUILD_TYPE=Debug -DLUMORA_SANITIZE=ON -DLUMORA_BENCH=OFF
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      run_tests "$root/build-sanitize"
    echo "== fuzz targets on their committed seeds"
    FUZZ_JOBS=$jobs "$root/scripts/fuzz.sh" --ci 60
    ;;
  bench)
    "$root/bench/run.sh" "$root/build" "$@"
    ;;
  windows)
    echo "== Windows dependencies (cached)"
    windows_deps=$("$root/scripts/build_windows_deps.sh" | tail -n1)
    echo "== Windows build"
    # pkg-config results stay cached: a new dependency prefix needs a fresh configure.
    if ! grep -qxF "LUMORA_WINDOWS_DEPS:UNINITIALIZED=$windows_deps" "$root/build-windows/CMakeCache.txt" 2>/dev/null; then
      rm -f "$root/build-windows/CMakeCache.txt"
    fi
    cmake -S "$root" -B "$root/build-windows" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DLUMORA_WINDOWS_DEPS="$windows_deps" >/dev/null
    cmake --build "$root/build-windows" -j "$jobs" --target lumora-host
    dist=$root/dist/lumora-windows-x64
    rm -rf "$dist"
    mkdir -p "$dist"
    cp "$root/build-windows/lumora-host.exe" "$dist/"
    cp "$root/docs/windows-dist-README.txt" "$dist/README.txt"
    file "$dist/lumora-host.exe"
    if [ "${1:-}" = test ]; then
      echo "== the Windows tests under Wine"
      cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
      cmake --build "$root/build" -j "$jobs" --target integration_tests
      cmake --build "$root/build-windows" -j "$jobs" --target windows_platform_tests
      "$root/scripts/test_windows.sh" "$root/build" "$root/build-windows/lumora-host.exe"
    fi
    ;;
  *)
    echo "usage: scripts/setup.sh [build|demo|test|bench|windows [test]]" >&2
    exit 2
    ;;
esac
