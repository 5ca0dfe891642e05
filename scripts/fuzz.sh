#!/bin/sh
# Builds the terminal input decoder's fuzz target with libFuzzer and the
# address and undefined-behaviour sanitizers, then runs it.
#   scripts/fuzz.sh [seconds]        (default 60)
# The build and the growing corpus live in $FUZZ_DIR (default build-fuzz/).
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
dir=${FUZZ_DIR:-$root/build-fuzz}
mkdir -p "$dir/corpus"

clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$root/src" -I"$root" $(pkg-config --cflags libcjson) \
  "$root/tests/fuzz/input_decoder_fuzz.cpp" \
  "$root/src/terminal/vt/input_decoder.cpp" \
  "$root/src/input/event_queue.cpp" \
  "$root/src/text/utf8.cpp" \
  "$root/src/text/unicode_case.cpp" \
  "$root/src/text/unicode_case_table.cpp" \
  $(pkg-config --libs libcjson) \
  -o "$dir/input_decoder_fuzz"

# Tokens of the sequences the decoder knows, so that mutations reach deep.
cat > "$dir/input_decoder.dict" <<'DICT'
"\x1b"
"\x1b["
"\x1bO"
"\x1b]"
"\x1bP"
"\x1b_"
"\x1b\\"
"\x07"
"\x1b[<"
"\x1b[200~"
"\x1b[201~"
"\x1b[?"
"\x1b[27;"
";"
":"
"u"
"~"
"M"
"m"
"$"
"\xc3\xa9"
"\xf0\x9f\x98\x80"
"\xed\xa0\x80"
"57364"
"1114111"
DICT

# Seeds: one of each family.
printf '\000\001A\033[A\033[1;5:3A' > "$dir/corpus/seed-keys"
printf '\001\003\033[97:65;2;65u\033[?1u\033[113;5u' > "$dir/corpus/seed-csi-u"
printf '\000\002\033[<35;10;2M\033[<65;1;1M\033[<0;3;4m' > "$dir/corpus/seed-mouse"
printf '\004\005\033[200~a\r\nb\000\033[201~\033]0;t\007' > "$dir/corpus/seed-paste"

exec "$dir/input_decoder_fuzz" -max_total_time="$seconds" -rss_limit_mb=2048 -max_len=4096 \
  -dict="$dir/input_decoder.dict" "$dir/corpus"
