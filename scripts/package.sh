#!/usr/bin/env bash
# Builds the Debian package build/package/larkspur_<version>_<arch>.deb (installs what the build
# needs with apt-get, through sudo when not root).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh" --package
"$root/scripts/build.sh"
cd "$root/build" && cpack -G DEB
