// CRC-16: register 0xFFFF, each byte taken from bit 0, a right shift with
// 0x1021 applied as it stands (not bit-reversed), the register complemented
// at the end and its two bytes exchanged.  A 256-entry table, built once
// from that bit rule, gives the same values a byte at a time.
#include "image/crc16.h"

namespace {

struct CrcTable {
  uint16_t aw[256];
  CrcTable() {
    for (unsigned b = 0; b < 256; b++) {
      uint16_t r = (uint16_t)b;  // the register's low byte XOR the data byte
      for (int i = 0; i < 8; i++)
        r = (r & 1) ? (uint16_t)((r >> 1) ^ 0x1021) : (uint16_t)(r >> 1);
      aw[b] = r;
    }
  }
};

const CrcTable s_table;

}  // namespace

uint16_t calcCrc16(const uint8_t *pData, uint32_t ulLength) {
  if (ulLength == 0) return 0;
  uint16_t r = 0xFFFF;
  for (uint32_t i = 0; i < ulLength; i++)
    r = (uint16_t)((r >> 8) ^ s_table.aw[(r ^ pData[i]) & 0xFF]);
  r = (uint16_t)~r;
  return (uint16_t)((r << 8) | (r >> 8));
}
