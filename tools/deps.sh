#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Kvelmar need,
# when any of them is missing. Needs root (or sudo) on Debian 12.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libgl-dev qt6-translations-l10n
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  xvfb xauth openbox xdotool x11-xkb-utils x11-utils xclip imagemagick
  socat iproute2 procps python3 util-linux
  fonts-dejavu-core fonts-liberation
  dpkg-dev desktop-file-utils appstream weston qt6-wayland
  g++-mingw-w64-x86-64-posix mingw-w64-tools googletest wine wine64
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
