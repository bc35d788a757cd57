#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Inspection benchmark: times zvinspect checking the largest main file (a
# 128 KiB image, the whole code window) with the key and against its HEX
# source, against zvloader building that file, whole processes, best of 15
# wall-clock runs each, taking turns; once for a file built with -EA (deciphered whole)
# and once for one built without.  Prints the times and their ratio; the
# inspection should take no longer than the build.
#
# Usage: bench/inspect_benchmark.sh path/to/zvloader path/to/zvinspect
# Needs bash, awk, od and GNU date (for %N).
set -euo pipefail

RUNS=15
KEY=zV8kQ2pM
IMAGE_SIZE=131072
BENCH_DIR=$(cd "$(dirname "$0")" && pwd)

. "$BENCH_DIR/programs.sh"
die() { bench_fail "$@"; }

[ $# -eq 2 ] || die "usage: $0 path/to/zvloader path/to/zvinspect"
LOADER=$(program_at "$1")
INSPECT=$(program_at "$2")
need_nanoseconds

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"
head -c "$IMAGE_SIZE" /dev/urandom > image.bin
od -An -v -tx1 image.bin | awk -f "$BENCH_DIR/image_hex.awk" > image.hex


# The build and the inspection take turns, so that a busy moment of the
# machine falls on both alike; the best time of each counts.
for mode in -EA ""; do
  build="" inspect=""
  for _ in $(seq "$RUNS"); do
    timed 1 "$LOADER" -NE -T M -M 1 $mode -K "$KEY" -f image.hex
    build=$(min "$ELAPSED" "$build")
    timed 0 "$INSPECT" main.enc -K "$KEY" --against image.hex
    grep -q 'exactly the build of image.hex' run.out || { cat run.out >&2; die "no match"; }
    inspect=$(min "$ELAPSED" "$inspect")
  done
  awk -v b="$build" -v i="$inspect" -v r="$RUNS" -v m="${mode:-no -EA}" 'BEGIN {
    printf "main.enc of 128 KiB, %s (best of %d):\n", m, r
    printf "  zvloader build:                       %.2f ms\n", b * 1000
    printf "  zvinspect -K key --against image.hex: %.2f ms\n", i * 1000
    printf "  ratio zvinspect / zvloader: %.2f%s\n", i / b, (i > b ? "  (slower than the build)" : "")
  }'
done
