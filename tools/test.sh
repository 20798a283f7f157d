#!/usr/bin/env bash
# Installs what is missing, builds Kvelmar in every test configuration and runs
# the whole test suite in each: the plain build, AddressSanitizer with
# UndefinedBehaviorSanitizer, ThreadSanitizer, the fuzz targets for a bounded
# time, the Debian package installed and started, and the Windows program
# cross-built with its tests run under Wine.
#
# Environment: KV_SUITES names the suites to run, separated by spaces, in the
# order given (default: every suite, in the order of the list "all" below);
# CI runs some of them in a clean Debian root and the others on the machine
# itself.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/require-programs.sh

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

suite_plain() {
  run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
}

suite_asan() (
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  export LSAN_OPTIONS=suppressions=$PWD/tools/lsan.supp:print_suppressions=0
  run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DKV_ASAN=ON -DKV_BENCH=OFF
)

suite_tsan() (
  export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tools/tsan.supp
  run_suite build-tsan -DCMAKE_BUILD_TYPE=Debug -DKV_TSAN=ON -DKV_BENCH=OFF
)

suite_fuzz() {
  echo "==== build-fuzz: fuzz targets"
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKV_FUZZ=ON -DKV_BENCH=OFF >/dev/null
  cmake --build build-fuzz -j "$jobs" --target fuzz_targets
  bash fuzz/run.sh build-fuzz "${KV_FUZZ_SECONDS:-20}"
}

# The package is made from the plain build (cpack builds what it lacks).
suite_package() {
  echo "==== package: build the Debian package, install it, start the installed program"
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  rm -f build/package/kvelmar_*.deb
  require_programs file dpkg-shlibdeps
  cpack --config build/CPackConfig.cmake -B "$PWD/build/package" >/dev/null
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  # --reinstall: a rerun at the same version must still replace the program.
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --reinstall ./build/package/kvelmar_*.deb \
    >/dev/null
  bash packaging/check-installed.sh /usr
  QT_SCALE_FACTOR=2 bash packaging/check-installed.sh /usr
}

# The Windows program, its core and transport tests under Wine, and the
# program's smoke run (tools/test-windows.sh).
suite_windows() {
  bash tools/test-windows.sh build-win
}

all="plain asan tsan fuzz package windows"
chosen=${KV_SUITES:-$all}
for name in $chosen; do
  case " $all " in
    *" $name "*) ;;
    *) echo "unknown suite '$name' in KV_SUITES (known: $all)" >&2; exit 2 ;;
  esac
done
[ -n "${chosen// /}" ] || { echo "KV_SUITES names no suite (known: $all)" >&2; exit 2; }

bash tools/deps.sh

for name in $chosen; do
  start=$SECONDS
  "suite_$name"
  echo "==== suite $name passed in $((SECONDS - start)) s"
done
