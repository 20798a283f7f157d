#!/usr/bin/env bash
# Runs every fuzzer of a build for a bounded time, each on a scratch copy of its
# seed corpus (so the corpus in the tree changes only by hand). Inputs that make
# a fuzzer fail are kept under <build-dir>/fuzz/artifacts/. Fails when any
# fuzzer fails.
#
# Every fuzzer runs in a network namespace of its own with only loopback up
# (tests/support/isolated.sh): the resolve fuzzer hands arbitrary texts to the
# system resolver, and no query may leave the machine. Inputs go up to 8192
# bytes, the size of a received datagram.
#
# Usage: fuzz/run.sh <build-dir> <seconds per fuzzer>
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 <build-dir> <seconds>" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
seconds=$2
here=$(cd "$(dirname "$0")" && pwd)

shopt -s nullglob
fuzzers=()
for candidate in "$build"/fuzz/*_fuzzer; do
  [ -f "$candidate" ] && [ -x "$candidate" ] && fuzzers+=("$candidate")
done
if ((${#fuzzers[@]} == 0)); then
  echo "no fuzzers in $build/fuzz: build the target fuzz_targets first" >&2
  exit 1
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$build/fuzz/artifacts"

failed=()
for fuzzer in "${fuzzers[@]}"; do
  name=$(basename "$fuzzer")
  corpus="$scratch/$name"
  mkdir -p "$corpus"
  if [ -d "$here/corpus/$name" ]; then
    cp -R "$here/corpus/$name/." "$corpus/"
  fi
  echo "==== $name: ${seconds}s"
  if ! "$here/../tests/support/isolated.sh" "$fuzzer" -max_total_time="$seconds" \
      -max_len=8192 -print_final_stats=1 \
      -artifact_prefix="$build/fuzz/artifacts/$name-" "$corpus"; then
    failed+=("$name")
  fi
done

if ((${#failed[@]})); then
  echo "fuzzers failed: ${failed[*]} (inputs in $build/fuzz/artifacts)" >&2
  exit 1
fi
echo "all ${#fuzzers[@]} fuzzers ran ${seconds}s without a failure"
