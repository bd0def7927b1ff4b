#!/usr/bin/env bash
# Installs the Debian/Ubuntu packages the build and the tests need, only those missing.
set -euo pipefail
packages=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev
  libpulse-dev libsamplerate0-dev libmp3lame-dev libx11-dev libxtst-dev libdbus-1-dev
  googletest libgtest-dev libgmock-dev
)
# The Debian package (--package): its dependencies are read from the binaries.
if [ "${1:-}" = "--package" ]; then
  packages+=(dpkg-dev file)
fi
if [ "${1:-}" = "--test" ]; then
  packages+=(
    xvfb xauth xdotool x11-utils pulseaudio pulseaudio-utils sox mpg123 libmpg123-dev lame mediainfo
    pipewire pipewire-bin pipewire-pulse wireplumber dbus-daemon dbus-bin
    xdg-desktop-portal python3-dbusmock python3-dbus python3-gi python3-pyatspi at-spi2-core
    clang libclang-rt-14-dev imagemagick
    dpkg-dev file lintian desktop-file-utils appstream
  )
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
"${sudo[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
