#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# zvfleet benchmark: 32 simulated devices on 127.0.0.10 to 127.0.0.41, each
# answering every request 2 ms late (zvdevsim -w 2: a device writing its
# flash), updated with the largest main image (a full 0x20000-byte code
# window) by zvfleet -j 32, against one such device updated alone by
# zvloader; whole processes, best of 3 each.  Beside them the floor of
# this machine: 32 zvloaders started at once by the shell, without
# zvfleet.  Then one more zvfleet run in which its own peak memory (VmHWM)
# is read from /proc while it runs.  Goals: at most 1.25 times the lone
# device, under 8 MiB.  Needs root
# (port 69 on 127.0.0.x) and a free port 9029; best in a network namespace
# of its own:  unshare -n bash -c 'ip link set lo up; bench/fleet_benchmark.sh build'
# A program that is missing, a simulator that does not start and a run
# that does not end within two minutes fail the benchmark (status 2).
#   bench/fleet_benchmark.sh [BUILD_DIR]     (default build)
#   bench/fleet_benchmark.sh ZVLOADER ZVDEVSIM ZVFLEET
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=bench/programs.sh
. "$HERE/programs.sh"
bench_programs zvfleet "$@"
FLEET=$THIRD
RUNS=${ZV_BENCH_RUNS:-3}
DEVICES=32
WORK=$(mktemp -d)
sims=()
trap 'for p in "${sims[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$WORK"' EXIT
cd "$WORK"
exec {pause}<> <(:)   # read -t on it: a pause without a process

bash "$HERE/full_image_hex.sh" > image.hex
"$LOADER" -NE -T M -M 1 -K bench-k1 -f image.hex > /dev/null || true
[ -f main.enc ] || bench_fail "the build of main.enc failed"

# Starts devices 127.0.0.10 onwards, each ending after its two commits.
start_devices() {
  sims=()
  for i in $(seq 0 $(($1 - 1))); do
    "$DEVSIM" -q -w 2 -a "127.0.0.$((10 + i))" -c 2 -t 30 > "device$i.log" &
    sims+=($!)
  done
  for i in $(seq 0 $(($1 - 1))); do wait_for "device$i.log" listening "${sims[$i]}"; done
}

finish_devices() {
  for p in "${sims[@]}"; do wait "$p" || bench_fail "a device failed"; done
  sims=()
}

best() { awk -v t="$1" -v m="$2" 'BEGIN { print (m == "" || t < m) ? t : m }'; }

alone=""
for _ in $(seq "$RUNS"); do
  start_devices 1
  t0=$(date +%s.%N)
  timeout 60 "$LOADER" -IP 127.0.0.10 -f main.enc > alone.log || true
  t1=$(date +%s.%N)
  finish_devices
  grep -q "^File Transfered" alone.log || { cat alone.log >&2; bench_fail "the upload failed"; }
  alone=$(best "$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')" "$alone")
done

shell=""
for _ in $(seq "$RUNS"); do
  start_devices "$DEVICES"
  loaders=()
  t0=$(date +%s.%N)
  for i in $(seq 0 $((DEVICES - 1))); do
    timeout 60 "$LOADER" -IP "127.0.0.$((10 + i))" -f main.enc > "loader$i.log" &
    loaders+=($!)
  done
  for p in "${loaders[@]}"; do wait "$p" || true; done
  t1=$(date +%s.%N)
  finish_devices
  shell=$(best "$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')" "$shell")
done

for i in $(seq 0 $((DEVICES - 1))); do echo "127.0.0.$((10 + i)),,main.enc"; done > site.csv
fleet=""
for _ in $(seq "$RUNS"); do
  start_devices "$DEVICES"
  t0=$(date +%s.%N)
  timeout 120 "$FLEET" --loader "$LOADER" -j "$DEVICES" -o logs site.csv > fleet.log ||
    { tail -40 fleet.log >&2; bench_fail "zvfleet failed"; }
  t1=$(date +%s.%N)
  finish_devices
  fleet=$(best "$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')" "$fleet")
done

start_devices "$DEVICES"
timeout 120 "$FLEET" --loader "$LOADER" -j "$DEVICES" -o logs site.csv > fleet.log &
fleet_pid=$!
peak=0
while kill -0 "$fleet_pid" 2>/dev/null; do
  while read -r key value _; do
    [ "$key" = VmHWM: ] && [ "$value" -gt "$peak" ] && peak=$value
  done < "/proc/$fleet_pid/status" 2>/dev/null || true
  read -t 0.005 -u "$pause" || true
done
wait "$fleet_pid" || { tail -40 fleet.log >&2; bench_fail "zvfleet failed"; }
finish_devices

awk -v a="$alone" -v f="$fleet" -v s="$shell" -v n="$DEVICES" -v r="$RUNS" -v kb="$peak" 'BEGIN {
  printf "one device alone (zvloader, main image of 0x20000 bytes, replies 2 ms late): %.0f ms (best of %d)\n", a * 1000, r
  printf "%d devices at once (zvfleet -j %d): %.0f ms (best of %d)\n", n, n, f * 1000, r
  printf "ratio: %.2f (goal: at most 1.25)\n", f / a
  printf "floor: %d zvloaders started at once by the shell: %.0f ms, ratio %.2f\n", n, s * 1000, s / a
  printf "zvfleet peak memory (VmHWM) with %d children: %.1f MiB (goal: under 8 MiB)\n", n, kb / 1024
}'
