#!/usr/bin/env bash
# The README's two commands on a fresh Debian 12 machine, whatever this machine
# has installed: makes a minimal bookworm root with debootstrap, puts a fresh
# clone of this tree's HEAD into it, and runs in it, exactly as the README
# writes them, the run command, first as a new user without a desktop session
# tries it (it installs and builds everything, says that there is no graphical
# session and how to start the program later, and ends with 1), then on a
# desktop (the harness's Xvfb with openbox; once the chat window is shown, the
# harness closes it with Alt+F4 and expects exit code 0), and then the test
# command. A package missing from tools/deps.sh shows up here as a program that
# is not found, or a build that fails.
#
# The root uses this machine's apt sources and settings, and installs the
# packages of tools/deps.sh afresh on every run. Only the bare debootstrap
# result is kept between runs (saving a minute and a half), under
# KV_FRESH_CACHE, for a week.
#
# Everything runs in a mount and PID namespace of its own: the root's mounts
# (/proc, /sys, a /dev of its own with a few device nodes, /dev/pts, /dev/shm)
# and whatever the tests mount in it never show on this machine, and when the
# check ends, however it ends, every process started in the root ends and
# every mount goes.
#
# Usage: bash tools/fresh-check.sh   (as root; prints the time of each stage)
# Environment:
#   KV_FRESH_SUITES      the suites the test command runs (its KV_SUITES),
#                        default "plain package"
#   KV_FRESH_DIR         where the root is made, default /var/tmp/kvelmar-fresh
#   KV_FRESH_CACHE       where the bare root is kept, default
#                        /var/cache/kvelmar-fresh; empty: no cache
#   KV_FRESH_KEEP=1      keeps the root afterwards (to look into a failure)
#   KV_FRESH_SCREENSHOT  a .png file for the screen with the chat window on it
set -euo pipefail

run_command="bash tools/run.sh"
test_command="bash tools/test.sh"
suites=${KV_FRESH_SUITES:-plain package}
command_timeout=2400

log() { echo "==== fresh-check: $*"; }
fail() {
  echo "fresh-check: $*" >&2
  exit 1
}

# stage <name> <command...>: runs a stage and notes its time in $work/times.
# A stage that fails is noted by the exit trap (note_failed_stage).
current_stage=""
stage() {
  current_stage=$1
  stage_start=$SECONDS
  shift
  log "$current_stage"
  "$@"
  echo "$current_stage: $((SECONDS - stage_start)) s" >>"$work/times"
  log "$current_stage: done in $((SECONDS - stage_start)) s"
  current_stage=""
}
note_failed_stage() {
  [ -z "$current_stage" ] || echo "$current_stage: failed after $((SECONDS - stage_start)) s" >>"$work/times"
}

# Inside the root, commands run as root logs in there: in a clean environment.
root_env=(HOME=/root USER=root LOGNAME=root TERM=dumb
  PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin)
[ -z "${CI:-}" ] || root_env+=("CI=$CI")
in_root() {  # [VAR=value...] <command...>
  chroot "$root" /usr/bin/env -i "${root_env[@]}" "$@"
}

# The mount points under a directory, deepest last, from this namespace's view.
mounts_under() {  # <dir>
  awk -v dir="$1/" 'index($5, dir) == 1 { print $5 }' /proc/self/mountinfo
}

# ---- Inside the namespaces: mounts, the run command, the test command --------

mount_root() {
  # The root a mount point of its own, as / is on a machine: 'ip netns exec'
  # makes / a slave mount, which fails on a plain directory.
  mount --bind "$root" "$root"
  mount -t proc proc "$root/proc"
  mount -t sysfs sysfs "$root/sys"
  # A /dev of the root's own: the host's device nodes are neither bound nor
  # touched.
  mount -t tmpfs -o mode=755,nosuid dev "$root/dev"
  local node
  for node in "null 1 3" "zero 1 5" "full 1 7" "random 1 8" "urandom 1 9" "tty 5 0"; do
    read -r name major minor <<<"$node"
    mknod -m 666 "$root/dev/$name" c "$major" "$minor"
  done
  mkdir "$root/dev/pts" "$root/dev/shm"
  mount -t devpts -o newinstance,ptmxmode=0666,mode=620 devpts "$root/dev/pts"
  ln -s pts/ptmx "$root/dev/ptmx"
  mount -t tmpfs -o mode=1777,nosuid,nodev shm "$root/dev/shm"
  ln -s /proc/self/fd "$root/dev/fd"
  ln -s /proc/self/fd/0 "$root/dev/stdin"
  ln -s /proc/self/fd/1 "$root/dev/stdout"
  ln -s /proc/self/fd/2 "$root/dev/stderr"
}

unmount_root() {
  local point
  mounts_under "$root" | tac | while read -r point; do
    umount -l "$point" || echo "fresh-check: could not unmount $point" >&2
  done
  umount -l "$root" || echo "fresh-check: could not unmount $root" >&2
}

# The run command where there is no desktop session: it installs and builds
# everything, then the program says that there is no graphical session, the
# command says how to start it later, and both end with 1.
run_without_a_desktop() {
  local status=0
  timeout "$command_timeout" chroot "$root" /usr/bin/env -i "${root_env[@]}" \
    bash -c "cd /root/kvelmar && $run_command" 2>&1 | tee "$work/run-without-a-desktop.log" ||
    status=$?
  ((status == 1)) || fail "the run command without a desktop ended with code $status, not 1"
  local said="kvelmar: no graphical session (DISPLAY and WAYLAND_DISPLAY are not set); start it from a desktop"
  grep -qxF "$said" "$work/run-without-a-desktop.log" ||
    fail "the run command without a desktop did not say: $said"
  grep -q "^Kvelmar is built. Start it later" "$work/run-without-a-desktop.log" ||
    fail "the run command without a desktop did not say how to start the program later"
  log "without a desktop the run command built the program, said so and ended with code 1"
}

# The run command on a desktop, from the harness in the clone (its packages are
# installed by now): an X server with openbox in a network namespace of its
# own, so that no Kvelmar on this machine holds the chat port; the harness
# waits for the chat window, saves the screen, closes the window with Alt+F4
# and expects exit code 0.
run_on_a_desktop() {
  timeout "$command_timeout" chroot "$root" /usr/bin/env -i "${root_env[@]}" bash -c \
    "cd /root/kvelmar && python3 tests/support/desktop.py smoke --netns \
       --timeout $command_timeout --screenshot /tmp/kvelmar-window.png -- $run_command" ||
    fail "the run command did not show the chat window, or did not end with code 0 once it was closed"
  cp "$root/tmp/kvelmar-window.png" "$work/window.png"
  log "the run command showed the chat window and ended with code 0 when it was closed"
}

run_the_test_command() {
  timeout "$command_timeout" chroot "$root" /usr/bin/env -i "${root_env[@]}" KV_SUITES="$suites" \
    bash -c "cd /root/kvelmar && $test_command" ||
    fail "the test command failed (code $?) with KV_SUITES=\"$suites\""
}

inside() {
  # The last process here ends every other one as it ends (PID namespace);
  # the mounts go with the mount namespace. Unmounting here too keeps the
  # namespace's view clean for anything that outlives a stage.
  trap 'note_failed_stage; unmount_root' EXIT
  mount_root
  stage "run command without a desktop ($run_command): install, build, say so" run_without_a_desktop
  stage "run command on a desktop: show the window, close it" run_on_a_desktop
  stage "test command (KV_SUITES=\"$suites\" $test_command)" run_the_test_command
}

if [ "${1:-}" = --inside ]; then
  work=$2
  root=$work/root
  inside
  exit 0
fi

# ---- On this machine: the bare root, the clone, the namespaces ---------------

cd "$(dirname "$0")/.."
top=$PWD
source tools/require-programs.sh
[ "$(id -u)" -eq 0 ] || fail "needs root (debootstrap, chroot and mounts)"
for command in "$run_command" "$test_command"; do
  grep -qxF "    $command" README.md || fail "the README no longer shows '$command': update this check"
done
if ! command -v debootstrap >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap >/dev/null
fi
require_programs debootstrap unshare chroot git tar timeout

base=${KV_FRESH_DIR:-/var/tmp/kvelmar-fresh}
cache=${KV_FRESH_CACHE-/var/cache/kvelmar-fresh}
mkdir -p "$base"
work=$(mktemp -d "$base/run.XXXXXX")
root=$work/root
mkdir "$root"
: >"$work/times"
total_start=$SECONDS

finish() {
  local status=$?
  note_failed_stage
  echo "==== fresh-check: stage times"
  sed 's/^/  /' "$work/times"
  echo "  in all: $((SECONDS - total_start)) s"
  if [ -n "${KV_FRESH_SCREENSHOT:-}" ] && [ -f "$work/window.png" ]; then
    cp "$work/window.png" "$KV_FRESH_SCREENSHOT"
  fi
  local left
  left=$(mounts_under "$work")
  if [ -n "$left" ]; then
    echo "fresh-check: mounts left under $work, not removing it:" >&2
    echo "$left" >&2
    exit 1
  fi
  if [ -n "${KV_FRESH_KEEP:-}" ]; then
    echo "fresh-check: the root stays in $root"
  else
    rm -rf "$work"
  fi
  if ((status == 0)); then
    echo "==== fresh-check: passed"
  else
    echo "==== fresh-check: FAILED" >&2
  fi
}
trap finish EXIT

# The first Debian mirror of this machine's apt sources.
mirror=$(sed -n 's/^URIs: *\([^ ]*\).*/\1/p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)
mirror=${mirror:-http://deb.debian.org/debian}

make_bare_root() {
  local tarball=$cache/bookworm-minbase.tar
  if [ -n "$cache" ] && [ -n "$(find "$tarball" -mtime -7 2>/dev/null)" ]; then
    echo "fresh-check: the bare root from $tarball ($(date -r "$tarball" '+%F %R'))"
    tar -C "$root" -xf "$tarball"
    return
  fi
  # debootstrap mounts /proc and /sys in the root while it works: in a mount
  # namespace of its own, nothing of that is left if it fails.
  unshare --mount --propagation private \
    debootstrap --variant=minbase bookworm "$root" "$mirror" >"$work/debootstrap.log" 2>&1 || {
    tail -n 20 "$work/debootstrap.log" >&2
    fail "debootstrap failed"
  }
  if [ -n "$cache" ]; then
    mkdir -p "$cache"
    tar -C "$root" -cf "$tarball.tmp.$$" . && mv "$tarball.tmp.$$" "$tarball"
  fi
}

set_up_root() {
  # This machine's apt sources and settings, its name service settings, and
  # a fresh clone of the committed tree in root's home.
  rm -f "$root/etc/apt/sources.list"
  cp /etc/apt/sources.list.d/* "$root/etc/apt/sources.list.d/"
  [ ! -f /etc/apt/sources.list ] || cp /etc/apt/sources.list "$root/etc/apt/"
  cp /etc/apt/apt.conf.d/* "$root/etc/apt/apt.conf.d/"
  cp /etc/resolv.conf /etc/hosts "$root/etc/"
  local commit
  commit=$(git rev-parse HEAD)
  git clone -q "$top" "$root/root/kvelmar"
  git -C "$root/root/kvelmar" -c advice.detachedHead=false checkout -q --detach "$commit"
  echo "fresh-check: a clone of $(git log -1 --format='%h %s' "$commit")"
  [ -z "$(git status --porcelain --untracked-files=no)" ] ||
    echo "fresh-check: the tree has uncommitted changes; they are not in the clone"
}

stage "bare Debian 12 root (debootstrap --variant=minbase bookworm)" make_bare_root
stage "apt sources, settings and a fresh clone" set_up_root
# unshare blocks SIGTERM and SIGINT while it waits for its child: on either,
# it is killed, and the kernel ends every process in the namespace with it.
unshare --mount --pid --fork --propagation private --kill-child -- \
  bash "$top/tools/fresh-check.sh" --inside "$work" &
namespace=$!
trap 'kill -KILL $namespace 2>/dev/null || true' INT TERM HUP
wait $namespace
