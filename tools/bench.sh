#!/usr/bin/env bash
# Installs what is missing, builds the benchmarks and the program (Release) and
# runs every benchmark: the history's cost per line (bench/history), the UDP
# server against a plain receiver (bench/receive), the chat window under a
# flood (bench/flood), and the real program's start-up, close and idle
# wake-ups under Xvfb (bench/program). Each runs in a network namespace of its
# own where it can (the chat window needs UDP port 15251). Prints each
# benchmark's own output, then one table of all figures next to their targets.
#
# Usage: bash tools/bench.sh [scale] [soak-minutes]
#   scale         times the flood's run lengths (default 1, about five minutes
#                 in all)
#   soak-minutes  also floods the chat window at full speed for this long and
#                 samples its memory each minute (bench/flood soak); default
#                 0, none. The full run is 10.
# The build goes to build-bench, or to the directory KV_BENCH_BUILD_DIR names.
#
# KV_BENCH_BASE=<commit> bash tools/bench.sh [scale]
#   instead compares this tree with <commit>: the speed benchmarks of both run
#   in turn (KV_BENCH_RUNS times, default 3), and one table gives each speed
#   figure's median before and after, and after / before.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh

scale=${1:-1}
soak_minutes=${2:-0}
dir=${KV_BENCH_BUILD_DIR:-build-bench}

# ---- Before and after in one run: KV_BENCH_BASE=<commit> bash tools/bench.sh [scale]
# Builds <commit> in a scratch worktree of its own (build-bench-base/tree, built
# in build-bench-base/build), runs every speed benchmark on the base and on this
# tree in turn, KV_BENCH_RUNS times (default 3; the side that goes first
# alternates), and prints each figure's median before and after and their
# ratio. KV_BENCH_ONLY names a subset: "history receive flood program".
compare_with_base() {
  local scratch=build-bench-base runs=${KV_BENCH_RUNS:-3}
  local only=${KV_BENCH_ONLY:-history receive flood program}
  local base_tree=$scratch/tree
  if [ -e "$base_tree/.git" ]; then
    git -C "$base_tree" checkout -q --detach "$KV_BENCH_BASE"
  else
    git worktree add -q --detach "$base_tree" "$KV_BENCH_BASE"
  fi
  local side src build
  for side in base after; do
    if [ $side = base ]; then src=$base_tree build=$scratch/build; else src=. build=$dir; fi
    echo "==== $side ($(git -C "$src" rev-parse --short HEAD)): configure and build in $build (Release)"
    cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$build" -j "$(nproc)" --target history_bench receive_bench flood_bench kvelmar
  done
  compare_out=$(mktemp -d)
  trap 'rm -rf "$compare_out"' EXIT
  local out=$compare_out i name order
  for i in $(seq 1 "$runs"); do
    order="base after"
    [ $((i % 2)) = 0 ] && order="after base"
    for name in $only; do
      for side in $order; do
        if [ $side = base ]; then src=$base_tree build=$scratch/build; else src=. build=$dir; fi
        echo "==== run $i/$runs: $name, $side"
        case $name in
          history) set -- "$build/bench/history/history_bench" ;;
          receive) set -- "$build/bench/receive/receive_bench" ;;
          flood) set -- "$build/bench/flood/flood_bench" rates "$scale" ;;
          program) set -- python3 "$src/bench/program/program_bench.py" "$build/app/kvelmar" ;;
          *) echo "unknown benchmark: $name" >&2 && return 2 ;;
        esac
        if [ $name = program ]; then
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

echo
echo "==== all figures ($(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg))"
python3 - "$out" <<'EOF'
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
    rows.append(("TMemo: ratio 1,000,000 / 0", m.group(1), "<= 2"))
m = re.search(r"resident memory with (\d+) lines: (\d+) MB", history)
if m:
    rows.append(("TMemo: resident memory with %s lines added directly" % format(int(m.group(1)), ","),
                 m.group(2) + " MB", ""))

# bench/receive: the server on the main thread against a plain receiver.
receive = text("receive")
for line in receive.splitlines():
    cells = line.split()
    # offered | plain: rate loss | CheckSynchronize loop: rate loss ratio | application loop: ...
    if cells and (cells[0] == "max" or cells[0].isdigit()) and len(cells) >= 11:
        offered = "full speed" if cells[0] == "max" else format(int(cells[0]), ",") + "/s"
        rows.append(("UDP server, application loop, at %s: delivered/s, loss" % offered,
                     "%s, %s" % (cells[8], cells[9]), ""))
m = re.search(r"idle deactivation: median ([\d.]+) ms", receive)
if m:
    rows.append(("UDP server: idle deactivation, median", m.group(1) + " ms", "< 50 ms"))
m = re.search(r"idle listener: ([\d.]+) wake-ups per second", receive)
if m:
    rows.append(("UDP server: idle listener wake-ups per second", m.group(1), "about 1"))

# bench/flood (with its optional soak) and bench/program print their rows
# ready: figure, value, target.
import os
for name in ("flood", "soak", "program"):
    if not os.path.exists("%s/%s.txt" % (out, name)):
        continue
    for line in text(name).splitlines():
        if not line.startswith("  "):
            continue
        body = line[2:].rstrip()
        indent = " " * (len(body) - len(body.lstrip()))
        cells = re.split(r"\s{2,}", body.strip())
        if len(cells) >= 2:
            rows.append((indent + cells[0], cells[1], cells[2] if len(cells) > 2 else ""))

width = max(len(r[0]) for r in rows)
print("%-*s  %16s   %s" % (width, "figure", "value", "target"))
for figure, value, target in rows:
    print("%-*s  %16s   %s" % (width, figure, value, target))
EOF
