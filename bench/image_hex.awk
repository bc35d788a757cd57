# SPDX-License-Identifier: Apache-2.0
# The benchmark image as Intel HEX: the bytes that `od -An -v -tx1` prints,
# as 32-byte data records from address 0, an extended segment address
# record (segment 0x1000) before address 0x10000, and an end record; lines
# end in CR LF.  Used by build_benchmark.sh and inspect_benchmark.sh.
BEGIN {
  for (i = 0; i < 256; i++) val[sprintf("%02x", i)] = i
  addr = 0
}
function record(type, addr16, data, count,    sum, i) {
  sum = count + int(addr16 / 256) + addr16 % 256 + type
  for (i = 1; i <= count; i++) sum += val[substr(data, 2 * i - 1, 2)]
  printf ":%02X%04X%02X%s%02X\r\n", count, addr16, type, toupper(data),
         (256 - sum % 256) % 256
}
{
  for (i = 1; i <= NF; i++) { buf = buf $i; n++ }
  if (n == 32) {
    if (addr == 65536) record(2, 0, "1000", 2)
    record(0, addr % 65536, buf, 32)
    addr += 32; buf = ""; n = 0
  }
}
END { print ":00000001FF\r" }
