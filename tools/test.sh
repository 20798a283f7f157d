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

# The Debian package, made as Debian makes its packages (debian/, with
# dpkg-buildpackage, in a copy of the tree in build-deb, where it leaves the
# packages), checked with lintian (the source too) and hardening-check,
# installed with apt, its program started as a person would, and removed
# again; then built once more to see that it comes out the same
# (tools/reproducible.sh). The tests ran in the plain suite; the package
# build leaves them out (nocheck).
suite_package() {
  echo "==== package: build the Debian package, install it, start the installed program"
  require_programs dpkg-buildpackage dpkg-source dh lintian hardening-check apt-get
  local dir=$PWD/build-deb
  # The packaged files carry the time of the last commit (of the changelog's
  # newest entry in a tree without git). dpkg keeps a file's own time where
  # it is older, so the copy's files carry it too, as in a fresh checkout.
  local epoch in_git=""
  if git rev-parse --git-dir >/dev/null 2>&1; then
    in_git=1
    epoch=$(git log -1 --format=%ct)
  else
    epoch=$(dpkg-parsechangelog -STimestamp)
  fi
  rm -rf "$dir"
  mkdir -p "$dir/kvelmar"
  tar -c --mtime=@"$epoch" --exclude=./.git --exclude='./build*' --exclude=./out . |
    tar -x -C "$dir/kvelmar"
  (cd "$dir" && dpkg-source -b kvelmar >/dev/null)
  (cd "$dir/kvelmar" && SOURCE_DATE_EPOCH=$epoch DEB_BUILD_OPTIONS="nocheck parallel=$jobs" \
    dpkg-buildpackage -b -us -uc) >"$dir/build.log" 2>&1 ||
    { tail -n 40 "$dir/build.log"; echo "dpkg-buildpackage failed: $dir/build.log"; return 1; }
  local deb dbgsym
  deb=$(ls "$dir"/kvelmar_*_amd64.deb)
  dbgsym=$(ls "$dir"/kvelmar-dbgsym_*_amd64.deb)
  echo "package: made ${deb##*/} and ${dbgsym##*/}"
  lintian --fail-on error,warning "$dir"/kvelmar_*.dsc "$dir"/kvelmar_*_amd64.changes
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  # --reinstall: a rerun at the same version must still replace the program.
  # Another package installation on the machine holds dpkg's lock for a while.
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq -o DPkg::Lock::Timeout=600 \
    --reinstall "$deb" >/dev/null
  hardening-check --nocfprotection /usr/bin/kvelmar
  dpkg -L kvelmar | grep -qx /usr/share/man/man1/kvelmar.1.gz || { echo "package: no manual page"; return 1; }
  bash packaging/check-installed.sh /usr
  QT_SCALE_FACTOR=2 bash packaging/check-installed.sh /usr
  DEBIAN_FRONTEND=noninteractive $sudo apt-get purge -y -qq -o DPkg::Lock::Timeout=600 kvelmar \
    >/dev/null
  if dpkg-query -W -f='${Status}' kvelmar 2>/dev/null | grep -q ' installed' || [ -e /usr/bin/kvelmar ]; then
    echo "package: kvelmar is still installed after apt-get purge"
    return 1
  fi
  # The packages of a tree without changes are the last commit's: they count
  # as its first build.
  if [ -z "$in_git" ]; then
    echo "package: not a git tree; tools/reproducible.sh builds a commit twice"
  elif [ -z "$(git status --porcelain)" ]; then
    KV_REPRO_DEB_FIRST=$dir bash tools/reproducible.sh deb
  else
    echo "package: the tree has changes; the last commit is built twice to compare"
    bash tools/reproducible.sh deb
  fi
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
