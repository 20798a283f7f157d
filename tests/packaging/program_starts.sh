#!/usr/bin/env bash
# Runs the installed-program check on the staged tree when an X server, a
# window manager and the X tools are at hand; skips otherwise.
set -euo pipefail
for tool in Xvfb openbox xdotool xprop xwininfo; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed"; exit 77; }
done
exec bash "$@"
