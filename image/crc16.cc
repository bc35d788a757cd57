// SPDX-License-Identifier: Apache-2.0
// CRC-16: register 0xFFFF, each byte taken from bit 0, a right shift with
// 0x1021 applied as it stands (not bit-reversed), the register complemented
// at the end and its two bytes exchanged.  Tables that the compiler builds
// from that bit rule give the same values eight bytes at a time: aw[0] is
// the register after one byte, aw[k] after that byte and k zero bytes more.
#include "image/crc16.h"

namespace {

// An index outside the table does not compile.
struct CrcTable {
  uint16_t aw[8][256] = {};
  constexpr CrcTable() {
    for (unsigned b = 0; b < 256; b++) {
      uint16_t r = (uint16_t)b;  // the register's low byte XOR the data byte
      for (int i = 0; i < 8; i++)
        r = (r & 1) ? (uint16_t)((r >> 1) ^ 0x1021) : (uint16_t)(r >> 1);
      aw[0][b] = r;
    }
    for (unsigned k = 1; k < 8; k++)
      for (unsigned b = 0; b < 256; b++)
        aw[k][b] = (uint16_t)((aw[k - 1][b] >> 8) ^ aw[0][aw[k - 1][b] & 0xFF]);
  }
};

constexpr CrcTable s_table;

}  // namespace

uint16_t calcCrc16(const uint8_t *pData, uint32_t ulLength) {
  if (ulLength == 0) return 0;
  uint16_t r = 0xFFFF;
  uint32_t i = 0;
  for (; ulLength - i >= 8; i += 8) {
    const uint8_t *p = pData + i;
    unsigned x = r ^ p[0] ^ ((unsigned)p[1] << 8);
    r = (uint16_t)(s_table.aw[7][x & 0xFF] ^ s_table.aw[6][x >> 8] ^ s_table.aw[5][p[2]] ^
                   s_table.aw[4][p[3]] ^ s_table.aw[3][p[4]] ^ s_table.aw[2][p[5]] ^
                   s_table.aw[1][p[6]] ^ s_table.aw[0][p[7]]);
  }
  for (; i < ulLength; i++)
    r = (uint16_t)((r >> 8) ^ s_table.aw[0][(r ^ pData[i]) & 0xFF]);
  r = (uint16_t)~r;
  return (uint16_t)((r << 8) | (r >> 8));
}
