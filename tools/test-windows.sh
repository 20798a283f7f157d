#!/usr/bin/env bash
# The Windows suite: cross-builds the framework core, the transport and their
# tests with MinGW-w64 into build-win (or the directory given), and runs the
# tests under Wine, headless, with a Wine prefix of its own in that directory.
#
# Wine creates every socket in its server process, so the Wine server must
# live in the same network namespace as the tests: the whole run goes into one
# private namespace with only loopback up (when root may make one), the server
# is started there and stopped at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-win}
jobs=$(nproc)

echo "==== $dir: configure and build (MinGW-w64)"
cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" -j "$jobs"

export WINEPREFIX=$(cd "$dir" && pwd)/wine-prefix
export WINEDEBUG=-all
# No window system, no Mono or Gecko installer prompts.
unset DISPLAY WAYLAND_DISPLAY
export WINEDLLOVERRIDES="mscoree,mshtml="

run_tests() {
  # A server left from an earlier run may sit in another network namespace.
  wineserver --kill 2>/dev/null || true
  wineserver --wait 2>/dev/null || true
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "==== $dir: prepare the Wine prefix"
    wineboot --init >/dev/null 2>&1
  fi
  wineserver --persistent=60
  # The first Wine program of a session starts Wine's background services,
  # which would inherit the output pipe of whichever test came first and keep
  # ctest waiting for them; start them here, detached from any pipe.
  wine cmd.exe /c exit >/dev/null 2>&1 </dev/null
  local status=0
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" || status=$?
  wineserver --kill || true
  wineserver --wait || true
  return $status
}

echo "==== $dir: tests under Wine"
if [ "$(id -u)" = 0 ] && unshare -n true 2>/dev/null; then
  export -f run_tests
  export dir jobs
  unshare -n bash -c 'ip link set lo up && run_tests'
else
  run_tests
fi
