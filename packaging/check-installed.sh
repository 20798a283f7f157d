#!/usr/bin/env bash
# Starts the installed program as a person would: on a fresh X server (Xvfb)
# with a window manager (openbox), both from the one harness
# (tests/support/desktop.py), waits for its window, checks what the desktop
# needs to tie the window to its menu entry (the window class named in the
# desktop file, the program's icon on the window, and under Wayland, on a
# headless Weston, the app id), closes the window with Alt+F4 and expects exit
# code 0.
#
# Usage: check-installed.sh [prefix]   (default /usr)
#        check-installed.sh --window prefix   (the window's checks, for the
#                          harness, with KV_WINDOW naming the window)
# Environment: QT_SCALE_FACTOR is passed on; KV_SCREENSHOT=<file.png> saves
# the screen once the window is up; KV_TIMEOUT (seconds, default 30) bounds
# every wait; KV_SKIP_WAYLAND=1 leaves out the run under Weston.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../tools/require-programs.sh"

window_checks=""
if [ "${1:-}" = --window ]; then
  window_checks=1
  shift
fi
prefix=${1:-/usr}
app_id=org.kvelmar.Kvelmar
exe=$prefix/bin/kvelmar
desktop=$prefix/share/applications/$app_id.desktop
timeout_s=${KV_TIMEOUT:-30}

# fail() reports on the original standard error (3), also from inside a
# command whose output wait_for discards.
exec 3>&2
fail() {
  echo "check-installed: $*" >&3
  exit 1
}

require_programs Xvfb openbox xprop xdotool xwininfo import python3
[ -n "${KV_SKIP_WAYLAND:-}" ] || require_programs weston
[ -x "$exe" ] || fail "no executable at $exe"
[ -f "$desktop" ] || fail "no desktop entry at $desktop"
icon_sizes="16x16 32x32 48x48 64x64 128x128 256x256"
for size in $icon_sizes; do
  [ -f "$prefix/share/icons/hicolor/$size/apps/$app_id.png" ] || fail "no $size icon"
done
[ -f "$prefix/share/icons/hicolor/scalable/apps/$app_id.svg" ] || fail "no scalable icon"
[ -f "$prefix/share/metainfo/$app_id.metainfo.xml" ] || fail "no AppStream metadata"
wm_class=$(sed -n 's/^StartupWMClass=//p' "$desktop")
[ -n "$wm_class" ] || fail "the desktop entry names no StartupWMClass"

if [ -n "$window_checks" ]; then
  window=$KV_WINDOW
  # The client area is 595 by 486 at 96 dpi; Qt's scale factor enlarges the
  # whole window rather than cramping its controls.
  read -r width height < <(xwininfo -id "$window" | awk '/^ *Width:/ {w=$2} /^ *Height:/ {h=$2} END {print w, h}')
  awk -v w="$width" -v h="$height" -v f="${QT_SCALE_FACTOR:-1}" 'BEGIN {
    dw = w - 595 * f; dh = h - 486 * f
    exit !(dw * dw <= 1 && dh * dh <= 1)
  }' || fail "the window is ${width}x${height}, not 595x486 at scale ${QT_SCALE_FACTOR:-1}"

  xprop -id "$window" WM_CLASS | grep -q "\"$wm_class\"\$" ||
    fail "window class $(xprop -id "$window" WM_CLASS) does not match StartupWMClass=$wm_class"
  # The window offers the program's icon in every size that is installed for
  # the desktop, so the title bar, the taskbar and the switcher each take a
  # sharp one. Under a scale factor Qt hands over device pixels: the sizes
  # grow with it.
  icons=$(xprop -len 100000000 -id "$window" _NET_WM_ICON)
  if [ "${QT_SCALE_FACTOR:-1}" = 1 ]; then
    for size in $icon_sizes; do
      grep -q "Icon (${size/x/ x })" <<<"$icons" || fail "the window carries no $size icon"
    done
  else
    largest=$(sed -n 's/.*Icon (\([0-9]*\) x [0-9]*).*/\1/p' <<<"$icons" | sort -n | tail -n 1)
    awk -v n="${largest:-0}" -v f="$QT_SCALE_FACTOR" 'BEGIN { exit !(n >= 32 * f) }' ||
      fail "at scale $QT_SCALE_FACTOR the window's largest icon is ${largest:-none}, under 32 x 32 scaled"
  fi
  exit 0
fi

work=$(mktemp -d)
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# Polls a command until it succeeds or the time-out passes.
wait_for() {  # <what> <command...>
  local what=$1
  shift
  local deadline=$((SECONDS + timeout_s))
  until "$@" >/dev/null 2>&1; do
    ((SECONDS < deadline)) || fail "timed out waiting for $what"
    sleep 0.1
  done
}

# The program holds UDP port 15251. Where a private network namespace can be
# had (root), it runs in one, so that another copy or a test on this machine
# cannot make it fail at start-up.
isolated=$here/../tests/support/isolated.sh

# Under Wayland a compositor finds the desktop entry, and with it the icon, by
# the window's app id. Checked on a headless Weston.
if [ -n "${KV_SKIP_WAYLAND:-}" ]; then
  echo "check-installed: KV_SKIP_WAYLAND is set; the Wayland app id is not checked"
else
  ls /usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so >/dev/null 2>&1 ||
    fail "Qt's Wayland platform plugin is not installed (add qt6-wayland to tools/deps.sh)"
  mkdir -m 700 "$work/xdg"
  # The kiosk shell and no input method: Weston starts no helper clients of
  # its own that could outlive it.
  printf '[core]\nshell=kiosk-shell.so\n[input-method]\npath=\n' >"$work/weston.ini"
  XDG_RUNTIME_DIR=$work/xdg weston --config="$work/weston.ini" --backend=headless-backend.so \
    --socket=wayland-kv --idle-time=0 >"$work/weston.log" 2>&1 &
  pids+=($!)
  wait_for "Weston" test -S "$work/xdg/wayland-kv"
  env -u DISPLAY XDG_RUNTIME_DIR="$work/xdg" WAYLAND_DISPLAY=wayland-kv QT_QPA_PLATFORM=wayland \
    WAYLAND_DEBUG=client "$isolated" "$exe" >"$work/wayland.log" 2>&1 &
  wayland_app=$!
  pids+=("$wayland_app")
  wait_for "the window's app id under Wayland" grep -q 'xdg_toplevel@[0-9]*\.set_app_id(' "$work/wayland.log"
  wait_for "the window's title under Wayland" grep -q 'xdg_toplevel@[0-9]*\.set_title(' "$work/wayland.log"
  grep -q "set_app_id(\"$app_id\")" "$work/wayland.log" ||
    fail "under Wayland the window's app id is not $app_id: $(grep -o 'set_app_id(.*)' "$work/wayland.log")"
  grep -q 'set_title("Kvelmar")' "$work/wayland.log" ||
    fail "under Wayland the window's title is not Kvelmar: $(grep -o 'set_title(.*)' "$work/wayland.log")"
  kill "$wayland_app"
fi

# Under X11: the harness's desktop (Xvfb with openbox) starts the program,
# waits for its window, runs the window's checks (this script with --window),
# closes the window with Alt+F4 and expects exit code 0.
smoke=(python3 "$here/../tests/support/desktop.py" smoke --netns --timeout "$timeout_s"
  --check "bash $(printf %q "$here/check-installed.sh") --window $(printf %q "$prefix")")
[ -z "${KV_SCREENSHOT:-}" ] || smoke+=(--screenshot "$KV_SCREENSHOT")
"${smoke[@]}" -- "$exe" || fail "the program did not show its window and end with code 0 after Alt+F4"
echo "check-installed: $exe started, showed its window (class $wm_class) and ended with code 0"
