#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Upload benchmark: times the upload of the largest main image (128 KiB,
# encrypted) from zvloader to the device simulator on loopback, whole
# process, best of 10, beside the floor of the same exchanges as a plain
# UDP request/reply loop (udp_floor: same exchanges, same datagram sizes),
# timed the same way, once against a plain server process and once against
# the simulator, and prints the ratios; the goal is at most 1.5.  Needs
# port 69 on 127.0.0.8 (root) and a free port 9029.  A program that is
# missing, a simulator that does not start and an upload that does not end
# within a minute fail the benchmark (status 2) instead of hanging it.
#   bench/upload_benchmark.sh [BUILD_DIR]     (default build)
#   bench/upload_benchmark.sh ZVLOADER ZVDEVSIM UDP_FLOOR
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=bench/programs.sh
. "$HERE/programs.sh"
bench_programs bench/udp_floor "$@"
FLOOR=$THIRD
RUNS=${ZV_BENCH_RUNS:-10}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"

bash "$HERE/full_image_hex.sh" > image.hex
"$LOADER" -NE -T M -M 1 -K bench-k1 -f image.hex > /dev/null || true
[ -f main.enc ] || bench_fail "the build of main.enc failed"

best=""
for _ in $(seq "$RUNS"); do
  "$DEVSIM" -q -a 127.0.0.8 -c 2 -t 20 > device.log &
  sim=$!
  wait_for device.log listening "$sim"
  t0=$(date +%s.%N)
  timeout 60 "$LOADER" -IP 127.0.0.8 -f main.enc > upload.log || true
  t1=$(date +%s.%N)
  wait "$sim" || true
  grep -q "^File Transfered" upload.log || { cat upload.log >&2; bench_fail "the upload failed"; }
  best=$(awk -v a="$t0" -v b="$t1" -v m="$best" 'BEGIN { t = b - a; print (m == "" || t < m) ? t : m }')
done
"$FLOOR" serve 47069 > floor.log &
server=$!
wait_for floor.log serving "$server"
floor=""
for _ in $(seq "$RUNS"); do
  t0=$(date +%s.%N)
  timeout 60 "$FLOOR" client 47069 > client.log || bench_fail "the floor's client failed"
  t1=$(date +%s.%N)
  floor=$(awk -v a="$t0" -v b="$t1" -v m="$floor" 'BEGIN { t = b - a; print (m == "" || t < m) ? t : m }')
done
kill "$server"

# The same loop against the simulator, which then does its own share of
# the work as it does for the tool.
device_floor=""
for _ in $(seq "$RUNS"); do
  "$DEVSIM" -q -a 127.0.0.8 -t 20 > device.log &
  sim=$!
  wait_for device.log listening "$sim"
  t0=$(date +%s.%N)
  timeout 60 "$FLOOR" client 69 1 127.0.0.8 > device-client.log || bench_fail "the floor's client failed"
  t1=$(date +%s.%N)
  kill "$sim"; wait "$sim" 2>/dev/null || true
  device_floor=$(awk -v a="$t0" -v b="$t1" -v m="$device_floor" 'BEGIN { t = b - a; print (m == "" || t < m) ? t : m }')
done

awk -v t="$best" -v f="$floor" -v d="$device_floor" -v r="$RUNS" \
    -v loop="$(cat client.log)" -v dloop="$(cat device-client.log)" 'BEGIN {
  printf "zvloader upload of main.enc (128 KiB image), whole process: %.2f ms (best of %d)\n", t * 1000, r
  printf "plain UDP request/reply loop, whole process:\n"
  printf "  against a plain server:    %.2f ms (best of %d; %s)\n", f * 1000, r, loop
  printf "  against the simulator:     %.2f ms (best of %d; %s)\n", d * 1000, r, dloop
  printf "ratio upload / floor: %.2f against the plain server, %.2f against the simulator (goal: at most 1.5)\n", t / f, t / d
}'
