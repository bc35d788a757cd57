#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Writes the seeds under fuzz/corpus/ that are made from the samples and
# the tool itself (update files are built by zvloader), anew; every other
# seed (those kept by hand, the corpora of fuzz_device, fuzz_site_list and
# fuzz_tool_output) stays as it is.  Run it from anywhere:
#   bash fuzz/make-corpus.sh path/to/zvloader
# Each harness's input layout is described at the top of its source.
set -euo pipefail
loader=$(realpath "${1:?usage: make-corpus.sh path/to/zvloader}")
cd "$(dirname "$0")/.."
root=$PWD
corpus=$root/fuzz/corpus
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Each seed below is written anew; the seeds kept beside them by hand stay.
mkdir -p "$corpus"/{fuzz_command_line,fuzz_hex_loader,fuzz_hex_verdict,fuzz_update_reader,fuzz_builder,fuzz_transfer,fuzz_inspect}

b() { printf -- "$@"; }                       # raw bytes from escapes
le16() { printf '\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)); }
le24() { printf '\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)); }

# Command lines: arguments separated by zero bytes.
c=$corpus/fuzz_command_line
b '-IP\0 10.0.0.20\0-P\0secret\0-f\0main.enc' > "$c/upload"
b '-NE\0-T\0M\0-M\0 1\0-K\0key\0-f\0firmware.hex' > "$c/build-main"
b '-NE\0-T\0L\0-M\0258\0-EA\0-k\0abcdefghijklmnopq\0/f\0logo.bin' > "$c/build-logo"
b '-v' > "$c/version"
b '/NO\0-V\0-x' > "$c/version-bad"
b '-f\0-v' > "$c/value-like-option"
b '-NE\0-T\0m' > "$c/bad-type"
b '-ip\0/Ip\0-K\0\0-P' > "$c/missing-value"
{ b '-NE\0-T\0H\0-f\0'; head -c 255 /dev/zero | tr '\0' a; } > "$c/long-name"

# HEX files cut from the sample firmware.
h=$corpus/fuzz_hex_loader
hex=$root/samples/firmware.hex
eof=$(tail -n 1 "$hex")
segment=$(grep -n '^:02000002' "$hex" | head -n 1 | cut -d: -f1)
{ head -n 4 "$hex"; echo "$eof"; } > "$h/code"
{ head -n 2 "$hex"; sed -n "${segment},$((segment + 3))p" "$hex"; echo "$eof"; } > "$h/code-idata"
{ sed -n "${segment},$((segment + 2))p" "$hex"; echo "$eof"; } > "$h/idata-only"
{ sed -n '9,12p' "$hex"; echo "$eof"; } | sed 's/$/\r/' > "$h/crlf-offset"
echo "$eof" > "$h/eof-only"
{ head -n 24 "$hex"; echo "$eof"; } > "$work/main.hex"
cp "$work/main.hex" "$h/code-24"
# Binary records (0xFF first): type, count, address high, low, data.
b '\xff\x00\x04\x00\x00\x01\x02\x03\x04\x02\x02\x00\x00\x28\x00\x00\x04\x01\x00\xaa\xbb\xcc\xdd' > "$h/binary-code-idata"
b '\xff\x02\x02\x00\x00\x10\x00\x00\x10\xff\xf0\x01\x02\x03\x04\x01\x00\x00\x00' > "$h/binary-segment"

# Update files built by the tool, and raw inputs, behind the mode byte.
(
  cd "$work"
  "$loader" -NE -T H -K key -f "$root/samples/index.html" > /dev/null || true
  "$loader" -NE -T L -K key -f "$root/samples/logo.bin" > /dev/null || true
  mv logo.enc logo-first.enc
  "$loader" -NE -T L -EA -K key -f "$root/samples/logo.bin" > /dev/null || true
  "$loader" -NE -T M -M 2 -K key -f main.hex > /dev/null || true
)
r=$corpus/fuzz_update_reader
{ b '\x03'; cat "$work/html.enc"; } > "$r/html-enc"
{ b '\x01'; cat "$work/logo-first.enc"; } > "$r/logo-enc"
{ b '\x01'; cat "$work/logo.enc"; } > "$r/logo-enc-all"
main_size=$(stat -c %s "$work/main.enc")
{ b '\x0d'; head -c $((main_size - 0x7000)) "$work/main.enc"; } > "$r/main-enc-idata-appended"
{ b '\x02'; cat "$root/samples/index.html"; } > "$r/html-raw"
{ b '\x00'; head -c 600 "$root/samples/logo.bin"; } > "$r/logo-raw"
{ b '\x0c'; head -c 300 "$root/samples/logo.bin"; } > "$r/main-raw-idata-appended"

# Builder inputs: mode byte, model byte, input file.
u=$corpus/fuzz_builder
{ b '\x00\x01'; cat "$work/main.hex"; } > "$u/main-model1"
{ b '\x04\x03'; cat "$h/code-idata"; } > "$u/main-all-model3"
{ b '\x01\x00'; head -c 1500 "$root/samples/logo.bin"; } > "$u/logo"
{ b '\x02\x00'; cat "$root/samples/index.html"; } > "$u/html"
{ b '\x06\x11'; cat "$root/samples/index.html"; } > "$u/html-all"

# zvinspect: flag byte (key, against itself, extract, JSON), then the file.
i=$corpus/fuzz_inspect
{ b '\x0f'; cat "$work/html.enc"; } > "$i/html-enc-all-flags"
{ b '\x05'; cat "$work/logo.enc"; } > "$i/logo-enc-all-extract"
{ b '\x01'; cat "$work/main.enc"; } > "$i/main-enc-key"
{ b '\x08'; cat "$work/main.hex"; } > "$i/hex-json"
{ b '\x00'; cat "$h/code-idata"; } > "$i/hex-idata"

# Transfer scripts: code, settings, password length, send limit, image
# length (3 bytes), then replies.  ack PAGE gives a 23-byte TFTP_ACK.
ack() { b '\x01\x00'; b "$(le16 "$1")"; }
acks() { local p; for ((p = $1; p < $2; p += 4)); do ack $p; done; }
t=$corpus/fuzz_transfer
{ b '\x03\x12\x06\x00'; b "$(le24 0)"; b '\x07\x01\x00\x00'; acks 1690 1802; ack 0; } > "$t/idata"
{ b '\x01\x03\x08\x00'; b "$(le24 0)"; acks 1385 1401; ack 0; } > "$t/logo-enc"
{ b '\x02\x02\x10\x00'; b "$(le24 0)"; acks 0 845; ack 0; } > "$t/html"
{ b '\x00\x12\x14\x00'; b "$(le24 0x500)"; acks 0 6; ack 1829; ack 0; } > "$t/main-raw"
{ b '\x00\x21\x20\x00'; b "$(le24 0xa00)"; acks 0 10; ack 1829; ack 0; } > "$t/main-enc-all"
{ b '\x00\x12\x03\x00'; b "$(le24 0x300)"; ack 1; b '\x02\x01\x00\x00'
  for i in $(seq 13); do b '\xf0'; done; ack 0; b '\x02\x04\x00\x00'; } > "$t/resend-bad-password"
{ b '\x05\x02\x00\x00'; b "$(le24 0)"; b '\x02\x01\x00\x00'; ack 1690; b '\xe0'
  b "$(le16 2100)"; } > "$t/unknown-model-long-reply"
{ b '\x01\x07\x05\x03'; b "$(le24 0)"; ack 1385; ack 1389; ack 1393; } > "$t/send-fails"
{ b '\x00\x06\x00\x01'; b "$(le24 0)"; ack 0; } > "$t/clear-send-fails"
{ b '\x00\x12\x00\x00'; b "$(le24 0x100)"; ack 0; b '\x06\x00\x00\x00'; b '\xf1'; ack 1829
  b '\x02\x06\x00\x00'; } > "$t/clear-nack-commit-bad-crc"

# The HEX verdict: the loader's seeds, damaged records of every type and a
# first record without its start code.
v=$corpus/fuzz_hex_verdict
cp "$h"/* "$v"/
b ':0100000007F8\n:10000001FF\n:0800000512345678F7\n:04000003ZZZZZZZZ00\n:0100000210ED\n' > "$v/damaged-records"
b ':020000021000EC\n:010000005AA5\n:00000004FC\n:00000001FF\n' >> "$v/damaged-records"
b '0100000007F8\n:01000100AA54\n:020000022800D4\n:01010000AA54\n:00000001FF\n' > "$v/no-start-code"
# Blank lines before the first record, more than 256 KiB of them (LF, CR
# LF, blanks and Ctrl-Z), and no line feed behind the last record.
{ head -c 200000 /dev/zero | tr '\0' '\n'; for _ in $(seq 40000); do printf '\r\n \t\x1a\n'; done
  b ':0100000007F8\r\n:00000001FF'; } > "$v/long-blank-run"
echo "corpora written to $corpus"
