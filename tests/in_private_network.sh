#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Runs a test program in a network namespace of its own, with loopback
# only, where the test may switch the system's answers to ICMP echo
# requests without touching the machine's network.  Needs root, unshare
# and ip; exits 77 (the test is skipped) where they cannot be had.
#   sh tests/in_private_network.sh PROGRAM ARGS...
if [ "$(id -u)" != 0 ] || ! command -v unshare >/dev/null 2>&1 ||
   ! command -v ip >/dev/null 2>&1 || ! unshare -n true 2>/dev/null; then
  echo "in_private_network: no private network namespace here (needs root, unshare, ip)"
  exit 77
fi
exec unshare -n sh -c 'ip link set lo up && ZV_PRIVATE_NETWORK=1 exec "$@"' sh "$@"
