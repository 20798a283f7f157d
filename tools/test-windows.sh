#!/usr/bin/env bash
# The Windows suite: cross-builds the framework, the transport and their
# tests, kvelmar.exe and its installer with MinGW-w64 into build-win (or the
# directory given), and runs the tests under Wine with a Wine prefix of its own
# in that directory: the unit tests, the GUI tests on an X display (Wine shows
# windows through X); the end-to-end tests (tests/e2e, the same as on Linux)
# against kvelmar.exe on displays of their own, each in copies of that prefix,
# and the installer installed silently, its program started and closed, and
# uninstalled; then a smoke run of kvelmar.exe.
#
# The desktop, the Wine prefix and the Wine server come from the one harness
# (tests/support/desktop.py). Wine creates every socket in its server process,
# so the Wine server lives in the tests' network namespace: each run goes into
# a private namespace with only loopback up (when root may make one), and the
# harness ends the server, the X server and everything else it started.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/require-programs.sh
require_programs x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-windres makensis wine wineserver \
  wineboot Xvfb openbox xdotool xprop python3
dir=${1:-build-win}
jobs=$(nproc)
desktop() { python3 tests/support/desktop.py "$@"; }

echo "==== $dir: configure and build (MinGW-w64)"
cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" -j "$jobs"

# The end-to-end tests chat between kvelmar.exe and a Linux build's program
# where one is at hand (tools/test.sh builds the plain or the sanitizer ones
# before this suite).
for linux in build/app/kvelmar build-asan/app/kvelmar build-tsan/app/kvelmar; do
  if [ -x "$linux" ]; then
    export KV_E2E_LINUX_KVELMAR=$PWD/$linux
    break
  fi
done

prefix=$PWD/$dir/wine-prefix
echo "==== $dir: the Wine prefix"
desktop prepare-wine "$prefix"

# The GUI tests' windows go to a display without a window manager; the
# end-to-end tests bring displays of their own.
echo "==== $dir: tests under Wine"
desktop run --netns --no-wm --wine "$prefix" -- ctest --test-dir "$dir" --output-on-failure -j "$jobs"

# kvelmar.exe on a display with openbox: it shows the chat window (not the
# one-pixel application window) and ends with exit code 0 when the window is
# closed as a person closes it (Alt+F4).
echo "==== $dir: smoke run of kvelmar.exe"
desktop smoke --netns --wine "$prefix" --timeout 120 --screenshot "$dir/smoke.png" -- \
  wine "$dir/app/kvelmar.exe"
