#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Build benchmark: times building main.enc from a 128 KiB main-CPU image
# (zvloader -NE -T M -M 1 -EA -K ...) against `openssl enc -des-cbc` over a
# payload of the same size (0x20008 bytes), best of 5 wall-clock runs each,
# and prints both times and their ratio.  It also checks once that the
# tool's ciphertext of the image equals OpenSSL's DES-CBC under the same key.
#
# Usage: bench/build_benchmark.sh [path/to/zvloader]   (default build/zvloader)
# Needs bash, awk, od, GNU date (for %N) and openssl with the legacy provider.
set -euo pipefail

TOOL=${1:-build/zvloader}
BENCH_DIR=$(cd "$(dirname "$0")" && pwd)
RUNS=5
KEY=zV8kQ2pM                  # the -K key text, 8 characters
IV=3C5A96E10F72B84D           # the update file format's CBC IV
IMAGE_SIZE=131072             # addresses 0..0x1FFFF
PAYLOAD_SIZE=131080           # 8-byte image header + image
FILE_SIZE=$((12 + PAYLOAD_SIZE + 0x7000))

. "$BENCH_DIR/programs.sh"
die() { bench_fail "$@"; }

TOOL=$(program_at "$TOOL")
command -v openssl >/dev/null || die "openssl not found"
need_nanoseconds

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"

# The tool reads key text bytes k0..k7 as the DES key k3 k2 k1 k0 k7 k6 k5 k4.
DES_KEY=$(printf %s "$KEY" | od -An -v -tx1 | awk '
  { for (i = 1; i <= NF; i++) b[n++] = $i }
  END { print toupper(b[3] b[2] b[1] b[0] b[7] b[6] b[5] b[4]) }')

# The image: 128 KiB of random bytes, as 32-byte data records; an extended
# segment address record (segment 0x1000) before address 0x10000.
head -c "$IMAGE_SIZE" /dev/urandom > image.bin
od -An -v -tx1 image.bin | awk -f "$BENCH_DIR/image_hex.awk" > image.hex
head -c "$PAYLOAD_SIZE" /dev/urandom > payload.bin


best_tool=""
for _ in $(seq "$RUNS"); do
  rm -f main.enc
  timed 1 "$TOOL" -NE -T M -M 1 -EA -K "$KEY" -f image.hex  # a build ends with 1, success included
  if [ ! -f main.enc ] || [ "$(wc -c < main.enc)" -ne "$FILE_SIZE" ]; then
    cat run.out >&2
    die "main.enc missing or not $FILE_SIZE bytes"
  fi
  best_tool=$(min "$ELAPSED" "$best_tool")
done

best_openssl=""
for _ in $(seq "$RUNS"); do
  timed 0 openssl enc -des-cbc -provider legacy -provider default \
    -K "$DES_KEY" -iv "$IV" -nopad -in payload.bin -out payload.enc
  best_openssl=$(min "$ELAPSED" "$best_openssl")
done

# Payload bytes 8.. are the image, CBC-chained on from the first cipher
# block (payload bytes 0..7, file offset 12): OpenSSL with that block as IV
# must give the same bytes.
C0=$(od -An -v -tx1 -j 12 -N 8 main.enc | tr -d ' \n')
openssl enc -des-cbc -provider legacy -provider default -K "$DES_KEY" \
  -iv "$C0" -nopad -in image.bin -out image.enc
dd if=main.enc of=stored.bin bs=4 skip=5 count=$((IMAGE_SIZE / 4)) 2>/dev/null
cmp -s stored.bin image.enc ||
  die "main.enc payload differs from openssl's DES-CBC of the image"

awk -v t="$best_tool" -v o="$best_openssl" -v r="$RUNS" 'BEGIN {
  printf "zvloader build of main.enc (128 KiB image): %.2f ms (best of %d)\n", t * 1000, r
  printf "openssl enc -des-cbc over 0x20008 bytes:    %.2f ms (best of %d)\n", o * 1000, r
  printf "ratio zvloader / openssl: %.2f\n", t / o
}'
echo "payload check: main.enc matches openssl DES-CBC (key $DES_KEY)"
