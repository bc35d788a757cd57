#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Writes to standard output an Intel HEX main image that fills the whole
# 0x20000-byte code window with random bytes: 32-byte data records, the
# segment record before 0x10000, the end record.  The largest main image
# the benchmarks send.
set -euo pipefail
head -c 131072 /dev/urandom | od -An -v -tx1 | awk '
  function record(type, addr16, data, count,    sum, i) {
    sum = count + int(addr16 / 256) + addr16 % 256 + type
    for (i = 1; i <= count; i++) sum += val[substr(data, 2 * i - 1, 2)]
    printf ":%02X%04X%02X%s%02X\n", count, addr16, type, toupper(data), (256 - sum % 256) % 256
  }
  BEGIN { for (i = 0; i < 256; i++) val[sprintf("%02x", i)] = i }
  { for (i = 1; i <= NF; i++) { buf = buf $i; n++ }
    if (n == 32) { if (addr == 65536) record(2, 0, "1000", 2)
                   record(0, addr % 65536, buf, 32); addr += 32; buf = ""; n = 0 } }
  END { print ":00000001FF" }'
