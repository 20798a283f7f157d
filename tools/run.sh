#!/usr/bin/env bash
# Installs what is missing, builds Kvelmar and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target kvelmar
exec ./build/app/kvelmar
