#!/bin/sh
# Runs a test in a network namespace of its own with only loopback up, so that
# nothing a test sends can leave the machine (not even a DNS query for a name
# that is meant not to resolve) and tests that need the chat port do not meet a
# running Kvelmar or each other. Without the rights for that, runs it as it is.
if [ "$(id -u)" = 0 ] && unshare -n true 2>/dev/null; then
  exec unshare -n sh -c 'ip link set lo up && exec "$@"' sh "$@"
fi
exec "$@"
