#!/usr/bin/env bash
# Checks that the last commit builds the same bytes twice: the Debian package
# (and its -dbgsym package), kvelmar.exe with kvelmar.debug, and the Windows
# installer. Each build starts from the commit's files alone (git archive, no
# .git, as from a source tarball), with SOURCE_DATE_EPOCH from the commit, in
# a directory of its own; the second build runs later, in a directory of
# another name and depth (under /var/tmp, where any user may build), in another
# time zone, locale and umask, and, where this script runs as root, as another
# user (nobody). A difference fails the check and is shown with diffoscope;
# the second build then stays for a look.
#
# Usage: bash tools/reproducible.sh [deb] [windows]   (default: both)
# Environment:
#   KV_REPRO_DIR        where the first builds go, default build-repro
#   KV_REPRO_DEB_FIRST  a directory that holds the Debian packages of this
#                       commit built already (tools/test.sh's package suite,
#                       on a tree without changes): they stand for the first
#                       build, and only the second is made
#   KV_REPRO_WINDOWS_FIRST  the same for the Windows build: a build directory
#                       of this commit (tools/test-windows.sh's build-win)
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/require-programs.sh
require_programs git dpkg-buildpackage cmake ninja diffoscope setpriv

kinds=${*:-deb windows}
work=$PWD/${KV_REPRO_DIR:-build-repro}
jobs=$(nproc)
commit=$(git rev-parse HEAD)
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct "$commit")
export SOURCE_DATE_EPOCH
if [ -n "${KV_REPRO_DEB_FIRST:-}${KV_REPRO_WINDOWS_FIRST:-}" ] && [ -n "$(git status --porcelain)" ]; then
  echo "reproducible: the tree has changes, so its builds are not the last commit's:" \
    "leave out KV_REPRO_DEB_FIRST and KV_REPRO_WINDOWS_FIRST" >&2
  exit 2
fi
rm -rf "$work"
mkdir -p "$work"
other=$(mktemp -d "${TMPDIR:-/var/tmp}/kvelmar-repro.XXXXXX")
chmod 755 "$other"
finish() {
  local status=$?
  if ((status == 0)); then
    rm -rf "$other"
  else
    echo "reproducible: the second builds stay in $other"
  fi
}
trap finish EXIT

# The second build runs as nobody where root can switch to it.
as_other_user=()
if [ "$(id -u)" -eq 0 ]; then
  as_other_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi

# unpack <dir>: the commit's files in <dir>, owned by whoever builds there.
unpack() {
  mkdir -p "$1"
  git archive --format=tar "$commit" | tar -x -C "$1"
}

# build <first|second> <source dir> <command...>: runs the command in the
# source directory with the variations of the build it is.
build() {
  local which=$1 src=$2
  shift 2
  if [ "$which" = first ]; then
    (cd "$src" && umask 022 && env TZ=UTC LC_ALL=C.UTF-8 "$@")
  else
    ((${#as_other_user[@]} == 0)) || chown -R nobody:nogroup "$other"
    (cd "$src" && umask 002 &&
      env HOME="$other" TZ=Asia/Vladivostok LC_ALL=ru_RU.UTF-8 "${as_other_user[@]}" "$@")
  fi
}

deb_build() {  # <first|second> <dir>
  local dir=$1 src=$2/kvelmar
  unpack "$src"
  build "$dir" "$src" env DEB_BUILD_OPTIONS="nocheck parallel=$jobs" \
    dpkg-buildpackage -b -us -uc >"$2/build.log" 2>&1 ||
    { tail -n 30 "$2/build.log"; echo "reproducible: the Debian build failed: $2/build.log"; exit 1; }
}

windows_build() {  # <first|second> <dir>
  local dir=$1 src=$2/kvelmar
  unpack "$src"
  build "$dir" "$src" sh -c "cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DBUILD_TESTING=OFF -DKV_BENCH=OFF &&
    cmake --build build -j $jobs --target installer" >"$2/build.log" 2>&1 ||
    { tail -n 30 "$2/build.log"; echo "reproducible: the Windows build failed: $2/build.log"; exit 1; }
}

# compare <what> <first file> <second file>
failed=0
compare() {
  if cmp -s "$2" "$3"; then
    echo "reproducible: $1: the same bytes ($(stat -c %s "$2") bytes, sha256 $(sha256sum <"$2" | cut -c1-16))"
  else
    echo "reproducible: $1 differs between the two builds:"
    diffoscope --no-progress "$2" "$3" | head -n 200 || true
    failed=1
  fi
}

echo "==== reproducible: $(git log -1 --format='%h %s' "$commit"), SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH"
for kind in $kinds; do
  start=$SECONDS
  case $kind in
    deb)
      first=$work/1
      if [ -n "${KV_REPRO_DEB_FIRST:-}" ]; then
        first=$KV_REPRO_DEB_FIRST
        echo "reproducible: the first Debian build is the one in $first"
      else
        deb_build first "$first"
      fi
      deb_build second "$other/an-other/place"
      for package in "$first"/kvelmar_*_amd64.deb "$first"/kvelmar-dbgsym_*_amd64.deb; do
        compare "${package##*/}" "$package" "$other/an-other/place/${package##*/}"
      done
      ;;
    windows)
      first_build=$work/1w/kvelmar/build
      if [ -n "${KV_REPRO_WINDOWS_FIRST:-}" ]; then
        first_build=$(cd "$KV_REPRO_WINDOWS_FIRST" && pwd)
        echo "reproducible: the first Windows build is the one in $first_build"
      else
        windows_build first "$work/1w"
      fi
      windows_build second "$other/another-place-w"
      second=$other/another-place-w/kvelmar/build
      installer=$(cd "$first_build" && ls kvelmar-*-setup.exe)
      for file in app/kvelmar.exe app/kvelmar.debug "$installer"; do
        compare "${file##*/}" "$first_build/$file" "$second/$file"
      done
      ;;
    *) echo "unknown kind '$kind' (known: deb windows)" >&2; exit 2 ;;
  esac
  echo "reproducible: $kind checked in $((SECONDS - start)) s"
done
exit $failed
