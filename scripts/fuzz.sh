#!/bin/sh
# Builds every fuzz target (tests/fuzz/*_fuzz.cpp) with libFuzzer and the
# address and undefined-behaviour sanitizers, then runs them.
#   scripts/fuzz.sh [seconds] [target...]   each target for `seconds` (default 60)
#   scripts/fuzz.sh --ci [total-seconds]    every target in turn, `total-seconds`
#                                           (default 60) shared out between them
# A target runs on its growing corpus in $FUZZ_DIR/corpus/<target> (default
# build-fuzz/) and on the committed seeds in tests/fuzz/corpus/<target>, with
# tests/fuzz/<target>.dict as its dictionary and the flags in
# tests/fuzz/<target>.options, when they exist. A crash, a leak, a sanitizer
# report or a failed check ends the script with the fuzzer's failure code,
# the input that caused it saved in $FUZZ_DIR/artifacts/.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
dir=${FUZZ_DIR:-$root/build-fuzz}
ci=false
if [ "${1:-}" = "--ci" ]; then
  ci=true
  shift
fi
seconds=${1:-60}
[ $# -gt 0 ] && shift

targets=$*
if [ -z "$targets" ]; then
  for source in "$root"/tests/fuzz/*_fuzz.cpp; do
    targets="$targets $(basename "$source" .cpp)"
  done
fi
count=$(echo $targets | wc -w)
if $ci; then
  seconds=$(( seconds / count ))
  [ "$seconds" -ge 1 ] || seconds=1
fi

CC=clang CXX=clang++ cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMORA_FUZZ=ON \
  -DLUMORA_TESTS=OFF -DLUMORA_BENCH=OFF >/dev/null
# shellcheck disable=SC2086
cmake --build "$dir" -j "${FUZZ_JOBS:-2}" --target $targets

mkdir -p "$dir/artifacts"
for target in $targets; do
  echo "== fuzzing $target for ${seconds}s"
  seeds="$root/tests/fuzz/corpus/$target"
  corpus="$dir/corpus/$target"
  mkdir -p "$corpus" "$seeds"
  set --
  [ -f "$root/tests/fuzz/$target.dict" ] && set -- "$@" "-dict=$root/tests/fuzz/$target.dict"
  if [ -f "$root/tests/fuzz/$target.options" ]; then
    # shellcheck disable=SC2046
    set -- "$@" $(cat "$root/tests/fuzz/$target.options")
  fi
  # The leak check stays on: a leak is a failure like a crash.
  "$dir/tests/fuzz/$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=25 -print_final_stats=0 \
    -artifact_prefix="$dir/artifacts/$target-" "$@" "$corpus" "$seeds" 2>"$dir/$target.log" || {
    status=$?
    tail -n 60 "$dir/$target.log" >&2
    exit "$status"
  }
  grep -E '^#[0-9]+.*DONE' "$dir/$target.log" || tail -n 2 "$dir/$target.log"
done
