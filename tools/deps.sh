#!/usr/bin/env bash
# Installs the Debian packages that building, running, testing, benchmarking
# and packaging Kvelmar use, when any of them is missing. Needs root (or sudo)
# on Debian 12. Every program that a script, test, benchmark or check starts
# comes from a package here (and the scripts and tests fail naming a program
# that is absent); tools/fresh-check.sh proves the list on a clean Debian root.
set -euo pipefail

packages=(
  # Building: compilers, CMake with CTest, Ninja; Qt 6 and the test
  # and benchmark libraries; clang with its sanitizer and libFuzzer runtimes.
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libgl-dev qt6-translations-l10n
  # Xlib and XCB headers: the Qt port asks X11 for detectable auto-repeat and
  # watches the X events that bring a window's frame.
  libx11-dev libxcb1-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  # The desktop that the end-to-end tests, the installed-program check and
  # the program bench drive: Xvfb, openbox, xdotool, setxkbmap and xkbcomp
  # (x11-xkb-utils), xdpyinfo, xprop, xwininfo and xev (x11-utils), xset
  # (x11-xserver-utils), xclip, ImageMagick's import for screenshots, Tesseract
  # with its Russian data to read captions off the screen, and fonts.
  xvfb xauth openbox xdotool x11-xkb-utils x11-utils x11-xserver-utils xclip imagemagick
  tesseract-ocr tesseract-ocr-rus fonts-dejavu-core fonts-liberation
  # Networks and processes: socat as a third-party peer, ip and ss (iproute2)
  # for network namespaces, unshare (util-linux), /etc/services (netbase) for
  # the service look-ups, gdb for a hung program's stacks, Python for the
  # end-to-end tests and the benches.
  socat iproute2 procps python3 util-linux netbase gdb
  # Packaging: dpkg-buildpackage (dpkg-dev) with debhelper, lintian, and
  # hardening-check (devscripts); the desktop entry and AppStream validators;
  # Weston with Qt's Wayland plugin for the app id under Wayland; and for the
  # check that a build is reproducible, git and diffoscope (its minimal set).
  dpkg-dev debhelper lintian devscripts file desktop-file-utils appstream weston qt6-wayland
  git diffoscope-minimal
  # The Windows program and its tests: the MinGW-w64 cross compiler (posix
  # threads) with windres, GoogleTest's sources, Wine with its Tahoma, and
  # NSIS for the installer; the Russian locale that Wine runs it in (locales).
  g++-mingw-w64-x86-64-posix mingw-w64-tools googletest wine wine64 fonts-wine nsis locales
)

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Wine takes its user interface language and ANSI code page from the locale;
# the Windows program is tested as on a Russian Windows (tests/support/desktop.py).
if ! locale -a 2>/dev/null | grep -qix 'ru_RU.utf8'; then
  $sudo localedef -i ru_RU -f UTF-8 ru_RU.UTF-8
fi
