#!/usr/bin/env bash
# run.sh [seconds]: builds the fuzz targets with clang, libFuzzer and ASan in build-fuzz/ and runs
# the wave-reading target for a bounded time (default 30 s) from a few seed files made here.
# Exits non-zero when the fuzzer finds a crash, a hang or a bad memory access.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-30}
build="$root/build-fuzz"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DLARKSPUR_FUZZ=ON >/dev/null
cmake --build "$build"

work=$(mktemp -d /tmp/larkspur-fuzz.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir "$work/seeds" "$work/corpus"

le16() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $(($1 >> 8 & 255)))"; }
le32() { le16 $(($1 & 65535)); le16 $(($1 >> 16 & 65535)); }
# fmt_chunk tag channels rate bits extra-bytes
fmt_chunk() {
  printf 'fmt '; le32 $((16 + $5)); le16 "$1"; le16 "$2"; le32 "$3"
  le32 $(($3 * $2 * $4 / 8)); le16 $(($2 * $4 / 8)); le16 "$4"; head -c "$5" /dev/zero
}
{ printf 'RIFF'; le32 44; printf 'WAVE'; fmt_chunk 1 2 44100 16 0
  printf 'data'; le32 16; printf '\x00\x10\x00\xf0\x00\x20\x00\xe0\x00\x30\x00\xd0\x00\x40\x00\xc0'
} >"$work/seeds/stereo16"
{ printf 'RIFF'; le32 70; printf 'WAVE'; fmt_chunk 1 1 32000 8 0
  printf 'LIST'; le32 5; printf 'INFO\x00\x00'; printf 'fact'; le32 4; le32 5
  printf 'data'; le32 5; printf '\x80\xff\x00\x80\x7f'
} >"$work/seeds/mono8-list"
{ printf 'RIFF'; le32 0; printf 'WAVE'; fmt_chunk 1 2 48000 16 2
  printf 'data'; le32 4096; printf '\x01\x02\x03\x04\x05\x06\x07'
} >"$work/seeds/fmt18-short"
{ printf 'RAFFxxxxWAVX'; fmt_chunk 1 1 44100 16 0; printf 'data'; le32 2; printf '\xff\x7f'
} >"$work/seeds/not-riff"

# New inputs go to the scratch corpus; a finding is kept in build-fuzz/ for a look afterwards.
"$build/tests/fuzz/wav2mp3_fuzz" -max_total_time="$seconds" -timeout=5 -print_final_stats=1 \
  -artifact_prefix="$build/" "$work/corpus" "$work/seeds"
