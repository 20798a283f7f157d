#!/usr/bin/env bash
# Installs what is missing, builds Kvelmar and starts it. Where there is no
# graphical session to show it in (neither DISPLAY nor WAYLAND_DISPLAY set, or
# a display that refuses the connection), the program says so and ends with
# 1; this script then says how to start it later, and ends with 1 too.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target kvelmar
said=$(mktemp)
trap 'rm -f "$said"' EXIT
status=0
# What the program says on standard error goes there and, through tee, to
# $said; with pipefail the pipeline's status is the program's.
{ ./build/app/kvelmar 2>&1 1>&3 3>&- | tee "$said" >&2; } 3>&1 || status=$?
if [ "$status" = 1 ] && grep -q '^kvelmar: no graphical session' "$said"; then
  echo "Kvelmar is built. Start it later from a terminal on your desktop with" \
    "'bash tools/run.sh', or directly: $PWD/build/app/kvelmar" >&2
fi
exit "$status"
