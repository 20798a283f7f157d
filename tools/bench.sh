#!/usr/bin/env bash
# Installs what is missing, builds the benchmarks and the program (Release) and
# runs every benchmark: the micro-benchmarks of the hand-over between threads
# and the CP1251 conversion (bench/micro), the history's cost per line
# (bench/history), the UDP server against a plain receiver (bench/receive),
# the chat window under a flood (bench/flood), and the real program's
# start-up, close and idle wake-ups under Xvfb (bench/program). Each runs in a
# network namespace of its own where it can (the chat window needs UDP port
# 15251). Then the same figures of the Windows program, cross-built with
# MinGW-w64 and run under Wine (the win-* benchmarks below).
#
# Every benchmark writes its figures as JSON lines on standard output
# (bench/support/Figures.h, figures.py) and what a person reads on standard
# error, shown as it comes. At the end one table gives every figure beside its
# target (tools/bench_report.py), the Windows ones marked "under Wine".
#
# Usage: bash tools/bench.sh [scale] [soak-minutes]
#   scale         times the flood's run lengths (default 1, about five minutes
#                 in all)
#   soak-minutes  also floods the chat window at full speed for this long and
#                 samples its memory each minute (bench/flood soak); default
#                 0, none. The full run is 10.
# The build goes to build-bench, or to the directory KV_BENCH_BUILD_DIR names;
# the Windows build to build-bench-win, or to KV_BENCH_WIN_BUILD_DIR.
# KV_BENCH_ONLY names the benchmarks to run, e.g. "flood win-program" (all:
# micro history receive flood program win-history win-edit win-receive
# win-chat win-program).
#
# KV_BENCH_BASE=<commit> bash tools/bench.sh [scale]
#   instead compares this tree with <commit>: the benchmarks of both run in
#   turn, KV_BENCH_RUNS times (default 3), and one table gives each figure
#   with a direction: its median before and after, and after / before, WORSE
#   where it is more than 5 % worse. Without KV_BENCH_ONLY the Linux ones run.
#   A commit whose benchmarks predate the JSON lines cannot be compared: the
#   script says so and stops before building anything.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
source tools/require-programs.sh

scale=${1:-1}
soak_minutes=${2:-0}
dir=${KV_BENCH_BUILD_DIR:-build-bench}
win_dir=${KV_BENCH_WIN_BUILD_DIR:-build-bench-win}
linux_names="micro history receive flood program"
windows_names="win-history win-edit win-receive win-chat win-program"
soak_name=""
[ "$soak_minutes" != 0 ] && soak_name=soak
only=${KV_BENCH_ONLY:-$linux_names $soak_name $windows_names}
if [ -n "${KV_BENCH_BASE:-}" ]; then only=${KV_BENCH_ONLY:-$linux_names}; fi

# The build targets a benchmark needs: Linux ones, then Windows ones.
targets() {
  case $1 in
    micro) echo micro_bench ;;
    history) echo history_bench ;;
    receive) echo receive_bench ;;
    flood | soak) echo flood_bench ;;
    program) echo kvelmar ;;
    win-history) echo - history_bench ;;
    win-edit) echo - edit_bench ;;
    win-receive) echo - receive_bench ;;
    win-chat) echo - chat_bench ;;
    win-program) echo - bare_window kvelmar ;;
    *) echo "bench.sh: unknown benchmark $1" >&2 && return 2 ;;
  esac
}

# build <source tree> <Linux build dir> <Windows build dir>: builds what the
# benchmarks named in $only need.
build() {
  local src=$1 build=$2 win_build=$3 linux=() windows=() name target in_windows
  for name in $only; do
    in_windows=false
    for target in $(targets "$name"); do
      if [ "$target" = - ]; then in_windows=true; elif $in_windows; then windows+=("$target"); else
        linux+=("$target")
      fi
    done
  done
  if ((${#linux[@]})); then
    echo "==== $build: configure and build (Release) from $src"
    cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$build" -j "$(nproc)" --target "${linux[@]}"
  fi
  if ((${#windows[@]})); then
    require_programs x86_64-w64-mingw32-g++-posix wine wineserver wineboot Xvfb
    echo "==== $win_build: configure and build (MinGW-w64, Release) from $src"
    cmake -S "$src" -B "$win_build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$win_build" -j "$(nproc)" --target "${windows[@]}"
  fi
}

isolated() { sh tests/support/isolated.sh "$@"; }
# wine_session <source tree> <Windows build dir> <command...>: runs the
# command on an X display with a Wine server of its own, in a network
# namespace of its own, all from the one harness (tests/support/desktop.py),
# which ends them afterwards. Wine creates every socket in its server process
# and draws every window through X.
wine_session() {
  local src=$1 win_build=$2
  shift 2
  python3 "$src/tests/support/desktop.py" run --netns --no-wm --wine "$PWD/$win_build/wine-prefix" \
    -- "$@"
}

# run_bench <name> <source tree> <Linux build> <Windows build> <file>: runs the
# benchmark, its figures into file, its words for a person on the terminal.
# A benchmark that fails is said and the run goes on.
run_bench() {
  local name=$1 src=$2 build=$3 win_build=$4 file=$5 code=0
  echo "==== $name ($(git -C "$src" rev-parse --short HEAD))"
  local cmd
  case $name in
    micro) cmd=(isolated "$build/bench/micro/micro_bench") ;;
    history) cmd=(isolated "$build/bench/history/history_bench") ;;
    receive) cmd=(isolated "$build/bench/receive/receive_bench") ;;
    flood) cmd=(isolated "$build/bench/flood/flood_bench" "$scale") ;;
    soak) cmd=(isolated "$build/bench/flood/flood_bench" soak $((soak_minutes * 60)) 60) ;;
    program) cmd=(isolated python3 "$src/bench/program/program_bench.py" "$build/app/kvelmar") ;;
    win-history) cmd=(wine_session "$src" "$win_build" wine "$win_build/bench/history/history_bench.exe") ;;
    win-edit) cmd=(wine_session "$src" "$win_build" wine "$win_build/bench/history/edit_bench.exe") ;;
    win-receive) cmd=(wine_session "$src" "$win_build" wine "$win_build/bench/receive/receive_bench.exe") ;;
    win-chat) cmd=(wine_session "$src" "$win_build" wine "$win_build/bench/chat/chat_bench.exe" "$scale") ;;
    win-program)
      cmd=(isolated python3 "$src/bench/program/program_bench.py" --wine "$win_build/wine-prefix"
        --yardstick "$win_build/bench/program/bare_window.exe" "$win_build/app/kvelmar.exe")
      ;;
  esac
  if [ "$name" = program ] || [[ $name == win-* ]]; then
    "${cmd[@]}" >"$file" 2> >(grep --line-buffered -v '^QStandardPaths: ' >&2) || code=$?
  else
    QT_QPA_PLATFORM=offscreen "${cmd[@]}" >"$file" 2> >(grep --line-buffered -v '^QStandardPaths: ' >&2) || code=$?
  fi
  if [ $code != 0 ]; then
    echo "bench.sh: $name ended with code $code" >&2
    failed+=("$name")
  fi
}

for name in $only; do targets "$name" >/dev/null; done
failed=()
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# ---- Before and after in one run: KV_BENCH_BASE=<commit> bash tools/bench.sh [scale]
# Builds <commit> in a scratch worktree of its own (build-bench-base/tree, built
# in build-bench-base/build and build-bench-base/win), runs every benchmark
# named on the base and on this tree in turn, KV_BENCH_RUNS times (the side
# that goes first alternates), and prints each figure's median before and
# after and their ratio.
compare_with_base() {
  local scratch=build-bench-base runs=${KV_BENCH_RUNS:-3}
  if ! git cat-file -e "$KV_BENCH_BASE:bench/support/figures.py" 2>/dev/null; then
    echo "bench.sh: $KV_BENCH_BASE has no benchmarks that write their figures as JSON lines" \
      "(bench/support/figures.py); its figures cannot be compared with this tree's." >&2
    echo "Run its own tools/bench.sh and this one's, one after the other, for the two tables." >&2
    return 2
  fi
  local base_tree=$scratch/tree
  if [ -e "$base_tree/.git" ]; then
    git -C "$base_tree" checkout -q --detach "$KV_BENCH_BASE"
  else
    git worktree add -q --detach "$base_tree" "$KV_BENCH_BASE"
  fi
  build "$base_tree" "$scratch/build" "$scratch/win"
  build . "$dir" "$win_dir"
  local i name side order
  for i in $(seq 1 "$runs"); do
    order="base after"
    [ $((i % 2)) = 0 ] && order="after base"
    for name in $only; do
      for side in $order; do
        echo "==== run $i/$runs: $side"
        if [ "$side" = base ]; then
          run_bench "$name" "$base_tree" "$scratch/build" "$scratch/win" "$out/base.$name.$i.jsonl"
        else
          run_bench "$name" . "$dir" "$win_dir" "$out/after.$name.$i.jsonl"
        fi
      done
    done
  done
  echo
  echo "==== before ($KV_BENCH_BASE) and after (this tree): medians of $runs runs" \
    "($(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg))"
  python3 tools/bench_report.py compare "$out" "$runs" $only
}

if [ -n "${KV_BENCH_BASE:-}" ]; then
  compare_with_base
else
  build . "$dir" "$win_dir"
  for name in $only; do
    run_bench "$name" . "$dir" "$win_dir" "$out/$name.jsonl"
  done
  echo
  echo "==== all figures ($(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg))"
  python3 tools/bench_report.py table "$out" $only
fi
if ((${#failed[@]})); then
  echo "bench.sh: failed: ${failed[*]}" >&2
  exit 1
fi
