#!/usr/bin/env bash
# Starts the installed program as a person would: on a fresh X server (Xvfb)
# with a window manager (openbox), waits for its window, checks what the
# desktop needs to tie the window to its menu entry (the window class named in
# the desktop file, the program's icon on the window, and under Wayland, on a
# headless Weston, the app id), closes the window with Alt+F4 and expects exit
# code 0.
#
# Usage: check-installed.sh [prefix]   (default /usr)
# Environment: QT_SCALE_FACTOR is passed on; KV_SCREENSHOT=<file.png> saves
# the screen once the window is up; KV_TIMEOUT (seconds, default 30) bounds
# every wait; KV_SKIP_WAYLAND=1 leaves out the run under Weston.
set -euo pipefail
source "$(dirname "$0")/../tools/require-programs.sh"

prefix=${1:-/usr}
app_id=org.kvelmar.Kvelmar
exe=$prefix/bin/kvelmar
desktop=$prefix/share/applications/$app_id.desktop
timeout_s=${KV_TIMEOUT:-30}

# fail() reports on the original standard error (3), also from inside a
# command whose output wait_for discards.
exec 3>&2
work=""
fail() {
  echo "check-installed: $*" >&3
  if [ -n "$work" ] && [ -s "$work/kvelmar.log" ]; then
    echo "---- the program's output:" >&3
    cat "$work/kvelmar.log" >&3
  fi
  exit 1
}

require_programs Xvfb openbox xprop xdotool xwininfo import timeout unshare
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

# Xvfb picks a free display itself and writes its number once it accepts
# connections.
Xvfb -displayfd 3 -screen 0 1600x1200x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
wait_for "Xvfb" grep -q '[0-9]' "$work/display"
export DISPLAY=:$(tr -dc '0-9' <"$work/display")
unset WAYLAND_DISPLAY
export QT_QPA_PLATFORM=xcb

openbox --sm-disable >"$work/openbox.log" 2>&1 &
pids+=($!)
wait_for "openbox" sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"'

# The program holds UDP port 15251. Where a private network namespace can be
# had (root), it runs in one, so that another copy or a test on this machine
# cannot make it fail at start-up.
launcher=()
if [ "$(id -u)" -eq 0 ] && unshare --net true 2>/dev/null; then
  launcher=(unshare --net --)
fi
# A reaped child cannot be polled, so a watcher waits for the program and
# leaves its exit code in a file.
(
  "${launcher[@]}" "$exe" >"$work/kvelmar.log" 2>&1 &
  echo $! >"$work/pid"
  status=0
  wait $! || status=$?
  echo "$status" >"$work/status"
) &
pids+=($!)
wait_for "the program to start" test -s "$work/pid"
app=$(cat "$work/pid")
pids+=("$app")

find_window() {
  [ ! -s "$work/status" ] || fail "the program ended with code $(cat "$work/status") before its window appeared"
  xdotool search --onlyvisible --name '^Kvelmar$' | head -n 1 >"$work/window"
  [ -s "$work/window" ]
}
wait_for "the Kvelmar window" find_window
window=$(cat "$work/window")
wait_for "the window to be mapped" sh -c "xwininfo -id $window | grep -q IsViewable"

# The client area is 595 by 486 at 96 dpi; Qt's scale factor enlarges the
# whole window rather than cramping its controls.
read -r width height < <(xwininfo -id "$window" | awk '/^ *Width:/ {w=$2} /^ *Height:/ {h=$2} END {print w, h}')
awk -v w="$width" -v h="$height" -v f="${QT_SCALE_FACTOR:-1}" 'BEGIN {
  dw = w - 595 * f; dh = h - 486 * f
  exit !(dw * dw <= 1 && dh * dh <= 1)
}' || fail "the window is ${width}x${height}, not 595x486 at scale ${QT_SCALE_FACTOR:-1}"

xprop -id "$window" WM_CLASS | grep -q "\"$wm_class\"\$" ||
  fail "window class $(xprop -id "$window" WM_CLASS) does not match StartupWMClass=$wm_class"
# The window offers the program's icon in every size that is installed for the
# desktop, so the title bar, the taskbar and the switcher each take a sharp one.
# Under a scale factor Qt hands over device pixels: the sizes grow with it.
xprop -len 100000000 -id "$window" _NET_WM_ICON >"$work/icons"
if [ "${QT_SCALE_FACTOR:-1}" = 1 ]; then
  for size in $icon_sizes; do
    grep -q "Icon (${size/x/ x })" "$work/icons" || fail "the window carries no $size icon"
  done
else
  largest=$(sed -n 's/.*Icon (\([0-9]*\) x [0-9]*).*/\1/p' "$work/icons" | sort -n | tail -n 1)
  awk -v n="${largest:-0}" -v f="$QT_SCALE_FACTOR" 'BEGIN { exit !(n >= 32 * f) }' ||
    fail "at scale $QT_SCALE_FACTOR the window's largest icon is ${largest:-none}, under 32 x 32 scaled"
fi

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
  XDG_RUNTIME_DIR=$work/xdg WAYLAND_DISPLAY=wayland-kv QT_QPA_PLATFORM=wayland \
    WAYLAND_DEBUG=client "${launcher[@]}" "$exe" >"$work/wayland.log" 2>&1 &
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

wait_for "the window to take the focus" sh -c "xdotool windowactivate --sync $window"
if [ -n "${KV_SCREENSHOT:-}" ]; then
  import -window root "$KV_SCREENSHOT"
fi
xdotool key --clearmodifiers alt+F4

# The threads of the program, with what each waits in, for a report.
thread_states() {
  local task
  for task in /proc/"$app"/task/*; do
    [ -d "$task" ] || continue
    printf '  %s %s state %s, waiting in %s\n' "${task##*/}" "$(cat "$task/comm" 2>/dev/null)" \
      "$(sed 's/.*) //; s/ .*//' "$task/stat" 2>/dev/null)" "$(cat "$task/wchan" 2>/dev/null)"
  done
}
active_window() {
  xprop -root _NET_ACTIVE_WINDOW | sed -n 's/.*window id # //p'
}
# A key pressed while the window manager was still handing the focus over can
# go elsewhere. Only then is it pressed again; a program that had the focus and
# did not end fails.
deadline=$((SECONDS + 10))
while [ ! -s "$work/status" ] && ((SECONDS < deadline)); do sleep 0.1; done
if [ ! -s "$work/status" ] && xdotool search --onlyvisible --name '^Kvelmar$' | grep -qx "$window"; then
  active=$(active_window)
  if [ $((active)) -ne "$window" ]; then
    echo "check-installed: Alt+F4 went to window $active, not to Kvelmar ($window); pressing it again"
    timeout 10 xdotool windowactivate --sync "$window" || true
    xdotool key --clearmodifiers alt+F4
  fi
fi
if ! (timeout_s=20 wait_for "the program to end after Alt+F4" test -s "$work/status"); then
  {
    echo "check-installed: the active window is $(active_window); Kvelmar's window is $window"
    xdotool search --onlyvisible --name '^Kvelmar$' | grep -qx "$window" &&
      echo "check-installed: the Kvelmar window is still shown" ||
      echo "check-installed: the Kvelmar window is gone"
    echo "check-installed: the program's threads:"
    thread_states
  } >&3
  exit 1
fi
status=$(cat "$work/status")
if [ "$status" -ne 0 ]; then
  fail "exit code $status after closing the window"
fi
echo "check-installed: $exe started, showed its window (class $wm_class) and ended with code 0"
