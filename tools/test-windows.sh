#!/usr/bin/env bash
# The Windows suite: cross-builds the framework, the transport and their
# tests, kvelmar.exe and its installer with MinGW-w64 into build-win (or the
# directory given), and runs the tests under Wine with a Wine prefix of its own
# in that directory: the unit tests, the GUI tests on an Xvfb display of their
# own (Wine shows windows through X); the end-to-end tests (tests/e2e,
# the same as on Linux) against kvelmar.exe on Xvfb, each in copies of that
# prefix, and the installer installed silently, its program started and closed,
# and uninstalled; then a smoke run of kvelmar.exe.
#
# Wine creates every socket in its server process, so the Wine server must
# live in the same network namespace as the tests: the whole run goes into one
# private namespace with only loopback up (when root may make one), the server
# is started there and stopped at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/require-programs.sh
source tools/wine-env.sh
require_programs x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-windres makensis wine wineserver \
  wineboot Xvfb openbox xdotool xprop python3
dir=${1:-build-win}
jobs=$(nproc)

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

export WINEPREFIX=$(cd "$dir" && pwd)/wine-prefix
export WINEDEBUG=-all
# No window system, no Mono or Gecko installer prompts.
unset DISPLAY WAYLAND_DISPLAY
export WINEDLLOVERRIDES="mscoree,mshtml="

# start_xvfb <log dir>: an X server of its own on a free display, as DISPLAY;
# its process in xvfb.
start_xvfb() {
  local display_fd number=""
  exec {display_fd}<> <(:)
  Xvfb -displayfd "$display_fd" -screen 0 1280x1024x24 -nolisten tcp >"$1/xvfb.log" 2>&1 &
  xvfb=$!
  for _ in $(seq 1 100); do
    read -r -t 0.1 number <&"$display_fd" && break
  done
  exec {display_fd}<&-
  if [ -z "$number" ]; then
    echo "Xvfb did not start"
    kill "$xvfb" 2>/dev/null
    return 1
  fi
  export DISPLAY=:$number
}

run_tests() {
  # A server left from an earlier run may sit in another network namespace.
  wineserver --kill 2>/dev/null || true
  wineserver --wait 2>/dev/null || true
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "==== $dir: prepare the Wine prefix"
    wineboot --init >/dev/null 2>&1
  fi
  prepare_fonts
  # The Wine server keeps the registry in memory and writes it out when it
  # ends; the end-to-end tests copy the prefix from disk, so it must be there,
  # fonts included, before they start.
  timeout 120 wineserver --wait
  [ -f "$WINEPREFIX/system.reg" ] || { echo "the Wine prefix was not prepared"; return 1; }
  # The GUI tests create windows, which Wine shows on an X display; the
  # end-to-end tests bring X servers of their own.
  mkdir -p "$dir/gui-tests"
  local xvfb
  start_xvfb "$dir/gui-tests" || return 1
  wineserver --persistent=60
  # The first Wine program of a session starts Wine's background services,
  # which would inherit the output pipe of whichever test came first and keep
  # ctest waiting for them; start them here, detached from any pipe. (The
  # end-to-end tests copy the prefix prepared here and start servers of their
  # own in their network namespaces.)
  wine cmd.exe /c exit >/dev/null 2>&1 </dev/null
  local status=0
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" || status=$?
  wineserver --kill || true
  wineserver --wait || true
  kill "$xvfb" 2>/dev/null || true
  wait "$xvfb" 2>/dev/null || true
  unset DISPLAY
  return $status
}

# The program under Wine on its own X server with openbox: kvelmar.exe starts,
# shows the chat window (not the zero-size application window) and ends with
# exit code 0 when the window is closed as a person closes it (Alt+F4).
# Every wait polls with a deadline.
smoke_gui() {
  wineserver --kill 2>/dev/null || true
  wineserver --wait 2>/dev/null || true
  local log=$dir/smoke-gui
  mkdir -p "$log"
  local xvfb
  start_xvfb "$log" || return 1
  openbox >"$log/openbox.log" 2>&1 &
  local openbox=$!
  # Alt+F4 and the activation go through the window manager: wait until it
  # manages the screen.
  for _ in $(seq 1 120); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.25
  done
  local status=1 window="" code=""
  rm -f "$log/exit-code"
  (
    wine "$dir/app/kvelmar.exe" >"$log/kvelmar.log" 2>&1
    echo $? >"$log/exit-code"
  ) &
  for _ in $(seq 1 240); do
    for candidate in $(xdotool search --onlyvisible --name '^Kvelmar$' 2>/dev/null); do
      if ! xdotool getwindowgeometry "$candidate" | grep -q 'Geometry: 1x1$'; then
        window=$candidate
      fi
    done
    [ -n "$window" ] && break
    sleep 0.25
  done
  if [ -z "$window" ]; then
    echo "smoke: no chat window under Wine"
  else
    echo "smoke: chat window $(xdotool getwindowgeometry "$window" | tr -s '\n ' ' ')"
    # A person clicks into the window, sees it active, and presses Alt+F4.
    # (openbox does not always give a window that Wine maps the focus, and
    # then there is no active window that windowactivate could wait for.)
    xdotool mousemove --window "$window" 20 20 click 1
    for _ in $(seq 1 120); do
      [ "$(xdotool getactivewindow 2>/dev/null)" = "$window" ] && break
      sleep 0.25
    done
    xdotool key --clearmodifiers alt+F4
    for _ in $(seq 1 120); do
      [ -s "$log/exit-code" ] && break
      sleep 0.25
    done
    code=$(cat "$log/exit-code" 2>/dev/null || true)
    echo "smoke: kvelmar.exe ended with exit code ${code:-none}"
    [ "$code" = 0 ] && status=0
  fi
  wineserver --kill 2>/dev/null || true
  wineserver --wait 2>/dev/null || true
  kill "$openbox" "$xvfb" 2>/dev/null || true
  wait "$openbox" "$xvfb" 2>/dev/null || true
  unset DISPLAY
  return $status
}

echo "==== $dir: tests under Wine"
if [ "$(id -u)" = 0 ] && unshare -n true 2>/dev/null; then
  export -f prepare_fonts start_xvfb run_tests smoke_gui
  export dir jobs
  unshare -n bash -c 'ip link set lo up && run_tests && smoke_gui'
else
  run_tests && smoke_gui
fi
