#!/usr/bin/env bash
# run.sh [seconds]: builds the fuzz targets with clang, libFuzzer and ASan in build-fuzz/, replays
# every kept regression input once, then runs each target for its share of the time (default 48 s
# in all) from the seed corpus in the tree. Exits non-zero on a crash, a hang or a bad memory
# access; a finding is left in build-fuzz/ and belongs, once mended, in regressions/<target>/.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
seconds=${1:-48}
build="$root/build-fuzz"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DLARKSPUR_FUZZ=ON >/dev/null
cmake --build "$build"

work=$(mktemp -d /tmp/larkspur-fuzz.XXXXXX)
trap 'rm -rf "$work"' EXIT
# target, and the folder of its seeds and regressions
targets=("wav2mp3_fuzz wav2mp3" "wave_format_fuzz wave" "ini_fuzz ini" "hotkey_ini_fuzz hotkey_ini")
share=$((seconds / ${#targets[@]}))
for entry in "${targets[@]}"; do
  read -r target inputs <<<"$entry"
  fuzzer="$build/tests/fuzz/$target"
  regressions=("$here/regressions/$inputs"/*)
  [ -e "${regressions[0]}" ] && "$fuzzer" -timeout=5 "${regressions[@]}"
  # The converter reads the same files as the recording device.
  seeds="$here/seeds/$inputs"
  [ "$inputs" = wav2mp3 ] && seeds="$here/seeds/wave"
  mkdir "$work/$target"
  echo "== $target: $share s"
  "$fuzzer" -max_total_time="$share" -timeout=5 -print_final_stats=1 \
    -artifact_prefix="$build/$target-" "$work/$target" "$seeds"
done
