#!/usr/bin/env bash
# Installs what is missing, builds Kvelmar in every test configuration and runs
# the whole test suite in each: the plain build, AddressSanitizer with
# UndefinedBehaviorSanitizer, ThreadSanitizer, and the fuzz targets for a
# bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh

jobs=$(nproc)
run_suite() {  # <build dir> <cmake options...>
  local dir=$1
  shift
  echo "==== $dir: configure and build"
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  echo "==== $dir: tests"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tools/lsan.supp:print_suppressions=0
run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DKV_ASAN=ON -DKV_BENCH=OFF

export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tools/tsan.supp
run_suite build-tsan -DCMAKE_BUILD_TYPE=Debug -DKV_TSAN=ON -DKV_BENCH=OFF

if [ -f fuzz/CMakeLists.txt ]; then
  echo "==== build-fuzz: fuzz targets"
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKV_FUZZ=ON -DKV_BENCH=OFF >/dev/null
  cmake --build build-fuzz -j "$jobs" --target fuzz_targets
  bash fuzz/run.sh build-fuzz "${KV_FUZZ_SECONDS:-20}"
fi

echo "==== package: build the Debian package, install it, start the installed program"
rm -f build/package/kvelmar_*.deb
cpack --config build/CPackConfig.cmake -B "$PWD/build/package" >/dev/null
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
# --reinstall: a rerun at the same version must still replace the program.
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --reinstall ./build/package/kvelmar_*.deb \
  >/dev/null
bash packaging/check-installed.sh /usr
QT_SCALE_FACTOR=2 bash packaging/check-installed.sh /usr

echo "==== windows: cross-built core and transport with their tests, under Wine"
bash tools/test-windows.sh build-win
