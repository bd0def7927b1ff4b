#!/usr/bin/env bash
# package_test.sh BUILD-DIR: the Debian package as a user gets it. It is built, checked by
# Debian's own tools, unpacked into a private root and run from there with its folder read-only
# (a read-only bind mount, which holds for root too) and a home of its own, on the fixture's X
# server and sound server. F12 and F11 record two seconds of a tone. The settings must land in
# the configuration folder and the recording in the music folder; nothing is written beside the
# program, and no box ("Can   not   Open   File!" or any other) is shown.
set -euo pipefail
build=$1
fail() { echo "FAIL: $*" >&2; exit 1; }
work=$(mktemp -d /tmp/larkspur-package-XXXXXX)
trap 'rm -rf "$work"' EXIT

(cd "$build" && cpack -G DEB >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$build"/package/larkspur_*.deb)
lintian --fail-on error "$deb" 2>&1 | grep -v 'root privileges' || true
lintian --fail-on error "$deb" >/dev/null 2>&1 || fail "lintian reports errors"
root=$work/root
dpkg -x "$deb" "$root"
desktop-file-validate "$root/usr/share/applications/org.larkspur.Larkspur.desktop" || fail "desktop entry"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.larkspur.Larkspur.metainfo.xml" >/dev/null ||
  fail "metainfo"
[ "$(readlink "$root/usr/bin/larkspur")" = ../lib/larkspur/larkspur ] || fail "/usr/bin/larkspur"

home=$work/home
mkdir -p "$home/.config/larkspur"
# WAV, 44.1 kHz stereo, named automatically, not played afterwards.
printf '[Audio]\nFormat=0\nRate=0\nSize=0\nTrack=0\n[General]\nPlay=0\nAVIName=0\n' \
  >"$home/.config/larkspur/Config.ini"
sox -n -r 44100 -c 2 -b 16 "$work/tone.wav" synth 30 sine 1000 vol 0.5
setpriv --pdeathsig KILL paplay -d "$LARKSPUR_TEST_SINK" "$work/tone.wav" &

program=$root/usr/lib/larkspur
before=$(ls -lR "$program")
run() {
  mount --bind -o ro "$program" "$program"
  touch "$program/probe" 2>/dev/null && { echo "the folder is writable" >&2; return 1; }
  HOME=$home XDG_CONFIG_HOME=$home/.config setpriv --pdeathsig KILL "$program/larkspur" &
  local pid=$!
  local windows
  windows() { xdotool search --onlyvisible --pid "$pid" 2>/dev/null | wc -l; }
  for _ in $(seq 100); do [ "$(windows)" -ge 1 ] && break; sleep 0.1; done
  [ "$(windows)" -eq 1 ] || { echo "no main window, or a box at start-up" >&2; return 1; }
  xdotool key F12
  sleep 2
  xdotool key F11
  for _ in $(seq 50); do compgen -G "$home/Music/Larkspur/2*.wav" >/dev/null && break; sleep 0.1; done
  sleep 0.5
  [ "$(windows)" -eq 1 ] || { echo "a box was shown" >&2; return 1; }
  kill "$pid"
}
export -f run
export program home
if [ "$(id -u)" -eq 0 ]; then unshare --mount --propagation private bash -c run
else unshare --map-root-user --mount bash -c run; fi || fail "the installed program"

[ -f "$home/.config/larkspur/HotKey.ini" ] || fail "HotKey.ini is not in the configuration folder"
recording=$(compgen -G "$home/Music/Larkspur/2*.wav") || fail "no recording in the music folder"
length=$(soxi -D "$recording")
awk -v l="$length" 'BEGIN { exit !(l > 1.5 && l < 2.6) }' || fail "the recording lasts $length s"
[ "$(ls -lR "$program")" = "$before" ] || fail "something was written beside the program"
echo "PASS: settings in $home/.config/larkspur, $(basename "$recording") ($length s) in $home/Music/Larkspur"
