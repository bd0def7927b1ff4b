#!/usr/bin/env bash
# layers_test.sh <source root>: every #include of the program's own headers keeps to the layers'
# rules: app/ uses everything; config/, audio/ and help/ use platform/; hotkeys/ uses config/,
# platform/ and libkbtap's C interface; the MP3 converter uses platform/ and the wave format;
# platform/ uses nothing; libkbtap shares only the key map; nothing below app/ includes app/.
# Prints each include that breaks a rule and fails on any.
set -uo pipefail
root=${1:?source root}
declare -A allowed=(
  [app]="app/ audio/ config/ help/ hotkeys/ platform/"
  [audio]="audio/ platform/"
  [audio/mp3]="audio/mp3/ audio/sample_tap.h audio/wave_file.h platform/"
  [config]="config/ platform/"
  [help]="help/ platform/"
  [hotkeys]="hotkeys/ config/ platform/ kbtap/kbtap.h"
  [platform]="platform/"
  [kbtap]="kbtap/ platform/keymap.h"
)
broken=0
for layer in "${!allowed[@]}"; do
  for file in "$root/$layer"/*.cpp "$root/$layer"/*.h; do
    [ -e "$file" ] || continue
    while IFS= read -r included; do
      # audio/ alone does not reach into audio/mp3/.
      [ "$layer" = audio ] && [[ "$included" == audio/mp3/* ]] && { echo "$file: $included"; broken=1; continue; }
      ok=0
      for prefix in ${allowed[$layer]}; do [[ "$included" == "$prefix"* ]] && ok=1; done
      [ $ok = 1 ] || { echo "$file: $included"; broken=1; }
    done < <(sed -n -E 's/^#include "([a-z0-9_]+\/[^"]+)".*/\1/p' "$file")
  done
done
exit $broken
