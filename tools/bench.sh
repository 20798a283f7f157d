#!/usr/bin/env bash
# Installs what is missing, builds the benchmarks and the program (Release) and
# runs every benchmark: the history's cost per line (bench/history), the UDP
# server against a plain receiver (bench/receive), the chat window under a
# flood (bench/flood), and the real program's start-up, close and idle
# wake-ups under Xvfb (bench/program). Each runs in a network namespace of its
# own where it can (the chat window needs UDP port 15251). Then the same
# figures of the Windows program, cross-built with MinGW-w64 and run under
# Wine (windows_benchmarks below). Prints each benchmark's own output, then one
# table of all figures next to their targets, the Windows ones marked "under
# Wine".
#
# Usage: bash tools/bench.sh [scale] [soak-minutes]
#   scale         times the flood's run lengths (default 1, about five minutes
#                 in all)
#   soak-minutes  also floods the chat window at full speed for this long and
#                 samples its memory each minute (bench/flood soak); default
#                 0, none. The full run is 10.
# The build goes to build-bench, or to the directory KV_BENCH_BUILD_DIR names;
# the Windows build to build-bench-win, or to KV_BENCH_WIN_BUILD_DIR.
#
# KV_BENCH_BASE=<commit> bash tools/bench.sh [scale]
#   instead compares this tree with <commit>: the speed benchmarks of both run
#   in turn (KV_BENCH_RUNS times, default 3), and one table gives each speed
#   figure's median before and after, and after / before. KV_BENCH_ONLY names
#   the benchmarks (default "history receive flood program"); "win-program"
#   is the Windows program's start-up and close under Wine, beside the
#   yardstick, with its Wine server requests.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh

scale=${1:-1}
soak_minutes=${2:-0}
dir=${KV_BENCH_BUILD_DIR:-build-bench}
win_dir=${KV_BENCH_WIN_BUILD_DIR:-build-bench-win}

# ---- Before and after in one run: KV_BENCH_BASE=<commit> bash tools/bench.sh [scale]
# Builds <commit> in a scratch worktree of its own (build-bench-base/tree, built
# in build-bench-base/build), runs every speed benchmark on the base and on this
# tree in turn, KV_BENCH_RUNS times (default 3; the side that goes first
# alternates), and prints each figure's median before and after and their
# ratio. KV_BENCH_ONLY names a subset: "history receive flood program
# win-program". The Windows program of each side is built in build-bench-base/
# build-win and $win_dir, and both are measured by this tree's
# bench/program/program_bench.py, the same instrument for both.
compare_with_base() {
  local scratch=build-bench-base runs=${KV_BENCH_RUNS:-3}
  local only=${KV_BENCH_ONLY:-history receive flood program}
  local base_tree=$scratch/tree
  if [ -e "$base_tree/.git" ]; then
    git -C "$base_tree" checkout -q --detach "$KV_BENCH_BASE"
  else
    git worktree add -q --detach "$base_tree" "$KV_BENCH_BASE"
  fi
  local side src build build_win
  for side in base after; do
    if [ $side = base ]; then
      src=$base_tree build=$scratch/build build_win=$scratch/build-win
    else
      src=. build=$dir build_win=$win_dir
    fi
    if [[ " $only " =~ \ (history|receive|flood|program)\  ]]; then
      echo "==== $side ($(git -C "$src" rev-parse --short HEAD)): configure and build in $build (Release)"
      cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
      cmake --build "$build" -j "$(nproc)" --target history_bench receive_bench flood_bench kvelmar
    fi
    if [[ " $only " == *" win-program "* ]]; then
      echo "==== $side: configure and build in $build_win (MinGW-w64, Release)"
      cmake -S "$src" -B "$build_win" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$(cd "$src" && pwd)/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
      cmake --build "$build_win" -j "$(nproc)" --target bare_window kvelmar
    fi
  done
  compare_out=$(mktemp -d)
  trap 'rm -rf "$compare_out"' EXIT
  local out=$compare_out i name order
  for i in $(seq 1 "$runs"); do
    order="base after"
    [ $((i % 2)) = 0 ] && order="after base"
    for name in $only; do
      for side in $order; do
        if [ $side = base ]; then
          src=$base_tree build=$scratch/build build_win=$scratch/build-win
        else
          src=. build=$dir build_win=$win_dir
        fi
        echo "==== run $i/$runs: $name, $side"
        case $name in
          history) set -- "$build/bench/history/history_bench" ;;
          receive) set -- "$build/bench/receive/receive_bench" ;;
          flood) set -- "$build/bench/flood/flood_bench" rates "$scale" ;;
          program) set -- python3 "$src/bench/program/program_bench.py" "$build/app/kvelmar" ;;
          win-program)
            set -- python3 bench/program/program_bench.py --wine "$win_dir/wine-prefix" \
              --yardstick "$build_win/bench/program/bare_window.exe" "$build_win/app/kvelmar.exe"
            ;;
          *) echo "unknown benchmark: $name" >&2 && return 2 ;;
        esac
        if [[ $name == *program ]]; then
          sh tests/support/isolated.sh "$@" >"$out/$side.$name.$i.txt" 2>&1 || true
        else
          QT_QPA_PLATFORM=offscreen sh tests/support/isolated.sh "$@" >"$out/$side.$name.$i.txt" 2>&1 || true
        fi
      done
    done
  done
  echo
  echo "==== before ($KV_BENCH_BASE) and after (this tree): medians of $runs runs" \
    "($(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg))"
  python3 tools/bench_compare.py "$out" "$runs"
}

if [ -n "${KV_BENCH_BASE:-}" ]; then
  compare_with_base
  exit 0
fi
echo "==== $dir: configure and build (Release)"
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$dir" -j "$(nproc)" --target history_bench receive_bench flood_bench kvelmar

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
isolated() { sh tests/support/isolated.sh "$@"; }
run() {  # <name> <command...>: shows the output as it comes and keeps it
  local name=$1
  shift
  echo "==== $name"
  "$@" 2>&1 | grep -v '^QStandardPaths: ' | tee "$out/$name.txt"
}

export QT_QPA_PLATFORM=offscreen
run history isolated "$dir/bench/history/history_bench"
run receive isolated "$dir/bench/receive/receive_bench"
run flood isolated "$dir/bench/flood/flood_bench" "$scale"
if [ "$soak_minutes" != 0 ]; then
  run soak isolated "$dir/bench/flood/flood_bench" soak $((soak_minutes * 60)) 60
fi
unset QT_QPA_PLATFORM
run program isolated python3 bench/program/program_bench.py "$dir/app/kvelmar"

# ---- The Windows program under Wine
# The history's cost per line (bench/history, and the system's edit alone),
# the UDP server's hand-over without the history (bench/receive), the chat
# window under a flood (bench/chat: lines per second, loss at
# 10,000/s) and the program's start-up and close (bench/program --wine) beside
# those of a bare Win32 window program, the yardstick of what Wine itself costs
# (bench/program/bare_window.cpp). Wine
# creates every socket in its server process, so each run goes into a network
# namespace of its own with a Wine server of its own there (the prefix in the
# build directory), and an X display of its own, as Wine draws every window
# through X.

windows_build() {
  echo "==== $win_dir: configure and build (MinGW-w64, Release)"
  cmake -S . -B "$win_dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$win_dir" -j "$(nproc)" --target history_bench edit_bench receive_bench chat_bench \
    bare_window kvelmar
}

# wine_session <command...>: runs the command on an X display with a Wine
# server of its own, in a network namespace of its own, all from the one
# harness (tests/support/desktop.py), which ends them afterwards.
wine_session() {
  python3 tests/support/desktop.py run --netns --no-wm --wine "$PWD/$win_dir/wine-prefix" -- "$@"
}

windows_benchmarks() {
  require_programs x86_64-w64-mingw32-g++-posix wine wineserver wineboot Xvfb
  windows_build
  run win-history wine_session wine "$win_dir/bench/history/history_bench.exe"
  run win-edit wine_session wine "$win_dir/bench/history/edit_bench.exe"
  run win-receive wine_session wine "$win_dir/bench/receive/receive_bench.exe"
  run win-chat wine_session wine "$win_dir/bench/chat/chat_bench.exe" "$scale"
  run win-program isolated python3 bench/program/program_bench.py --wine "$win_dir/wine-prefix" \
    --yardstick "$win_dir/bench/program/bare_window.exe" "$win_dir/app/kvelmar.exe"
}

source tools/require-programs.sh
windows_benchmarks

echo
echo "==== all figures ($(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg))"
python3 - "$out" <<'EOF'
import os
import re
import sys

out = sys.argv[1]


def text(name):
    with open("%s/%s.txt" % (out, name)) as f:
        return f.read()


rows = []

# bench/history: time per added line at each size, their ratio, the memory.
history = text("history")
for size, ns in re.findall(r"history of\s+(\d+) lines:\s+(\d+) ns per added line", history):
    rows.append(("TMemo: time per added line at %s lines" % format(int(size), ","),
                 "%.2f us" % (int(ns) / 1000), ""))
m = re.search(r"ratio 1,000,000 / 0: ([\d.]+)", history)
if m:
    rows.append(("TMemo: ratio 1,000,000 / 0", m.group(1), "<= 1.2"))
m = re.search(r"resident memory with (\d+) lines: (\d+) MB", history)
if m:
    rows.append(("TMemo: resident memory with %s lines added directly" % format(int(m.group(1)), ","),
                 m.group(2) + " MB", ""))

# bench/receive: the server on the main thread against a plain receiver (of
# the Linux program, and with the mark of the Windows one under Wine).
def receive_rows(name, mark=""):
    if not os.path.exists("%s/%s.txt" % (out, name)):
        return
    receive = text(name)
    for line in receive.splitlines():
        cells = line.split()
        # offered | plain: rate loss | CheckSynchronize loop: rate loss ratio | application loop: ...
        if cells and (cells[0] == "max" or cells[0].isdigit()) and len(cells) >= 11:
            offered = "full speed" if cells[0] == "max" else format(int(cells[0]), ",") + "/s"
            rows.append(("UDP server, application loop, at %s: delivered/s, loss%s"
                         % (offered, mark), "%s, %s" % (cells[8], cells[9]), ""))
    m = re.search(r"idle deactivation: median ([\d.]+) ms", receive)
    if m:
        rows.append(("UDP server: idle deactivation, median" + mark, m.group(1) + " ms",
                     "< 50 ms"))
    m = re.search(r"idle listener: ([\d.]+) wake-ups per second", receive)
    if m:
        rows.append(("UDP server: idle listener wake-ups per second" + mark, m.group(1),
                     "about 1"))


receive_rows("receive")

# bench/history's user actions on a full history, bench/flood (with its
# optional soak) and bench/program print their rows ready: figure, value,
# target. So do the Windows program's bench/history, bench/chat and
# bench/program --wine.


def ready_rows(name, mark=""):
    if not os.path.exists("%s/%s.txt" % (out, name)):
        return
    for line in text(name).splitlines():
        if not line.startswith("  "):
            continue
        body = line[2:].rstrip()
        indent = " " * (len(body) - len(body.lstrip()))
        cells = re.split(r"\s{2,}", body.strip())
        if len(cells) >= 2:
            figure = cells[0] if mark in cells[0] else cells[0] + mark
            rows.append((indent + figure, cells[1], cells[2] if len(cells) > 2 else ""))


for name in ("history", "flood", "soak", "program"):
    ready_rows(name)

# The Windows program, measured under Wine.
UNDER_WINE = ", under Wine"
if os.path.exists("%s/win-history.txt" % out):
    history = text("win-history")
    for size, ns in re.findall(r"history of\s+(\d+) lines:\s+(\d+) ns per added line", history):
        rows.append(("Win32 TMemo: time per added line at %s lines%s"
                     % (format(int(size), ","), UNDER_WINE), "%.2f us" % (int(ns) / 1000), ""))
    m = re.search(r"ratio 1,000,000 / 0: ([\d.]+)", history)
    if m:
        rows.append(("Win32 TMemo: ratio 1,000,000 / 0" + UNDER_WINE, m.group(1), "<= 1.2"))
    m = re.search(r"resident memory with (\d+) lines: (\d+) MB", history)
    if m:
        rows.append(("Win32 TMemo: resident memory with %s lines%s"
                     % (format(int(m.group(1)), ","), UNDER_WINE), m.group(2) + " MB", ""))
    m = re.search(r"ending with the newest line: (\w+)", history)
    if m:
        rows.append(("Win32 TMemo: holds the newest 1,000,000 lines" + UNDER_WINE, m.group(1),
                     "yes"))
if os.path.exists("%s/win-edit.txt" % out):
    for size, append, repaint in re.findall(
            r"^\s*(\d+)\s+[\d.]+\s+([\d.]+)\s+[\d.]+\s+[\d.]+\s+([\d.]+)\s*$",
            text("win-edit"), re.M):
        rows.append(("system EDIT alone at %s lines: add 100 lines, repaint%s"
                     % (format(int(size), ","), UNDER_WINE), "%s, %s ms" % (append, repaint), ""))
receive_rows("win-receive", UNDER_WINE)
ready_rows("win-history", UNDER_WINE)
ready_rows("win-chat", UNDER_WINE)
ready_rows("win-program", UNDER_WINE)

width = max(len(r[0]) for r in rows)
print("%-*s  %16s   %s" % (width, "figure", "value", "target"))
for figure, value, target in rows:
    print("%-*s  %16s   %s" % (width, figure, value, target))
EOF
