#!/usr/bin/env bash
# Installs what is missing, builds and starts the recorder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
"$root/scripts/build.sh" larkspur
exec "$root/build/out/larkspur"
