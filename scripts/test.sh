#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. Tests that need a display or a sound
# server start their own private Xvfb and sound server, PulseAudio and PipeWire in turn
# (tests/fixtures/with-fixtures.sh); the user's display and sound server are never touched.
# --quick runs the unit tests alone (no display, no sound server, no fuzzing): the loop to run
# while changing code; CI runs everything.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh" --test
"$root/scripts/build.sh"
unset DISPLAY WAYLAND_DISPLAY PULSE_SERVER XDG_SESSION_TYPE XDG_CURRENT_DESKTOP
if [ "${1:-}" = "--quick" ]; then
  exec ctest --test-dir "$root/build" --output-on-failure -j "$(nproc)" -L unit
fi
# A test that fails is run once more: on a machine of two cores a sound server's graph misses a
# cycle now and then, for every client. The first failure stays in the log.
ctest --test-dir "$root/build" --output-on-failure -j "$(nproc)" --repeat until-pass:2
# Every parser of files on disk under libFuzzer and ASan, 48 s in all, in a clang build of its own.
"$root/tests/fuzz/run.sh" 48
