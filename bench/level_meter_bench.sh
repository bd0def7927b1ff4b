#!/usr/bin/env bash
# level_meter_bench.sh PROGRAM_DIR [seconds]  (inside with-fixtures.sh --x --pulseaudio)
# CPU of the whole program recording the default output while a tone plays: with the bottom
# strip's meter on screen, first at a steady level, then at a level that moves all the time (the
# meter repaints at its full pace), and then with the window unmapped (what a minimised window is
# to it); each against parecord recording the same source over the same seconds.
set -euo pipefail
src=$1 seconds=${2:-20}
work=$(mktemp -d /tmp/larkspur-meter-bench.XXXXXX)
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
cp -a "$src"/larkspur "$src"/libkbtap.so "$src"/Web "$work"/
printf '[Audio]\nFormat=0\nRate=0\nSize=0\nTrack=0\n[General]\nPlay=0\nAVIName=0\n' > "$work/Config.ini"
sox -n -r 44100 -c 2 -b 16 "$work/tone.wav" synth $((seconds + 10)) sine 1000 vol 0.5
sox -n -r 44100 -c 2 -b 16 "$work/moving.wav" synth $((2 * seconds + 10)) sine 1000 vol 0.5 tremolo 1.3 90
paplay -d "$LARKSPUR_TEST_SINK" "$work/tone.wav" & player=$!

# CPU seconds a process's threads have used, to the nanosecond.
cpu() { cat /proc/"$1"/task/*/schedstat | awk '{ s += $1 } END { printf "%.6f", s / 1e9 }'; }
# Both processes' CPU over the given seconds; prints the ratio.
measure() {
  local a0 b0 a1 b1
  a0=$(cpu "$program"); b0=$(cpu "$parecord")
  sleep "$seconds"
  a1=$(cpu "$program"); b1=$(cpu "$parecord")
  awk -v what="$1" -v a="$(echo "$a1 - $a0" | bc)" -v b="$(echo "$b1 - $b0" | bc)" 'BEGIN {
    printf "  %-32s larkspur %6.3f s   parecord %6.3f s   ratio %.2f\n", what, a, b, (b > 0 ? a / b : 0) }'
}

"$work/larkspur" & program=$!
for _ in $(seq 200); do
  window=$(xdotool search --onlyvisible --pid "$program" 2>/dev/null | head -1) && [ -n "$window" ] && break
  sleep 0.05
done
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove --sync $((X + 20)) $((Y + HEIGHT - 333 + 21)) click 1   # Record
parecord -d "$LARKSPUR_TEST_SINK.monitor" --latency-msec=25 "$work/parecord.wav" & parecord=$!
sleep 2
echo "CPU while recording 44.1 kHz 16-bit stereo for ${seconds} s, a tone playing:"
measure "meter on screen, steady"
kill "$player"
paplay -d "$LARKSPUR_TEST_SINK" "$work/moving.wav" &
sleep 1
measure "meter on screen, moving"
xdotool windowunmap --sync "$window"
sleep 1
measure "window not on screen"
