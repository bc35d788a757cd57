#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Inspection benchmark: times zvinspect checking a main file with the key
# and against its HEX source, against zvloader building that file, whole
# processes, best of 15 wall-clock runs each, taking turns.  Three sources:
# the sample firmware, the largest image (128 KiB, the whole code window;
# once built with -EA, deciphered whole, and once without) and a HEX file
# of nearly 16 MiB, the most the loader reads (the 128 KiB image's records
# over and over).  Prints the times and their ratio; the inspection should
# take no longer than the build.  Given a second pair of programs (an
# earlier build, say), it times those in the same turns, side by side.
#
# Usage: bench/inspect_benchmark.sh zvloader zvinspect [zvloader2 zvinspect2]
# Needs bash, awk, od and GNU date (for %N).
set -euo pipefail

RUNS=15
KEY=zV8kQ2pM
IMAGE_SIZE=131072
HEX_LIMIT=16777216
BENCH_DIR=$(cd "$(dirname "$0")" && pwd)

. "$BENCH_DIR/programs.sh"
die() { bench_fail "$@"; }

[ $# -eq 2 ] || [ $# -eq 4 ] || die "usage: $0 zvloader zvinspect [zvloader2 zvinspect2]"
LOADERS=("$(program_at "$1")")
INSPECTS=("$(program_at "$2")")
if [ $# -eq 4 ]; then
  LOADERS+=("$(program_at "$3")")
  INSPECTS+=("$(program_at "$4")")
fi
need_nanoseconds

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"
cp "$BENCH_DIR/../samples/firmware.hex" sample.hex
head -c "$IMAGE_SIZE" /dev/urandom > image.bin
od -An -v -tx1 image.bin | awk -f "$BENCH_DIR/image_hex.awk" > image.hex
# The image's records again and again, then its end record.
grep -v '^:00000001FF' image.hex > records.hex
: > big.hex
while [ $(( $(stat -c %s big.hex) + $(stat -c %s records.hex) + 16 )) -le "$HEX_LIMIT" ]; do
  cat records.hex >> big.hex
done
grep '^:00000001FF' image.hex >> big.hex

# The builds and the inspections take turns, so that a busy moment of the
# machine falls on all alike; the best time of each counts.
bench() {
  local source=$1 mode=$2 p build inspect
  local -a builds=() inspects=()
  for _ in $(seq "$RUNS"); do
    for p in "${!LOADERS[@]}"; do
      timed 1 "${LOADERS[$p]}" -NE -T M -M 1 $mode -K "$KEY" -f "$source"
      builds[$p]=$(min "$ELAPSED" "${builds[$p]:-}")
      timed 0 "${INSPECTS[$p]}" main.enc -K "$KEY" --against "$source"
      grep -q "exactly the build of $source" run.out || { cat run.out >&2; die "no match"; }
      inspects[$p]=$(min "$ELAPSED" "${inspects[$p]:-}")
    done
  done
  printf '%s (%s bytes), %s, best of %d:\n' "$source" "$(stat -c %s "$source")" "${mode:-no -EA}" "$RUNS"
  for p in "${!LOADERS[@]}"; do
    awk -v b="${builds[$p]}" -v i="${inspects[$p]}" -v w="$([ "$p" -eq 0 ] && echo these || echo others)" 'BEGIN {
      printf "  %-6s build %8.2f ms, zvinspect -K --against %8.2f ms, ratio %.2f%s\n", w,
             b * 1000, i * 1000, i / b, (i > b ? "  (slower than the build)" : "")
    }'
  done
}

bench sample.hex ""
bench image.hex -EA
bench image.hex ""
bench big.hex ""
