#!/usr/bin/env bash
# level_meter_bench.sh PROGRAM_DIR [seconds]  (inside with-fixtures.sh --x --pulseaudio)
# CPU of the whole program recording the default output while a tone plays, with the bottom
# strip's meter on screen and then with the window unmapped (what a minimised window is to it),
# each against parecord recording the same source over the same seconds.
set -euo pipefail
src=$1 seconds=${2:-20}
work=$(mktemp -d /tmp/larkspur-meter-bench.XXXXXX)
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
cp -a "$src"/larkspur "$src"/libkbtap.so "$src"/Web "$work"/
printf '[Audio]\nFormat=0\nRate=0\nSize=0\nTrack=0\n[General]\nPlay=0\nAVIName=0\n' > "$work/Config.ini"
sox -n -r 44100 -c 2 -b 16 "$work/tone.wav" synth $((3 * seconds + 10)) sine 1000 vol 0.5
paplay -d "$LARKSPUR_TEST_SINK" "$work/tone.wav" &

# CPU seconds a process has used (user and system).
cpu() { awk -v hz="$(getconf CLK_TCK)" '{ print ($14 + $15) / hz }' "/proc/$1/stat"; }
# Both processes' CPU over the given seconds; prints the ratio.
measure() {
  local a0 b0 a1 b1
  a0=$(cpu "$program"); b0=$(cpu "$parecord")
  sleep "$seconds"
  a1=$(cpu "$program"); b1=$(cpu "$parecord")
  awk -v what="$1" -v a="$(echo "$a1 - $a0" | bc)" -v b="$(echo "$b1 - $b0" | bc)" 'BEGIN {
    printf "  %-28s larkspur %6.2f s   parecord %6.2f s   ratio %.2f\n", what, a, b, (b > 0 ? a / b : 0) }'
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
measure "meter on screen"
xdotool windowunmap --sync "$window"
sleep 1
measure "window not on screen"
