// SPDX-License-Identifier: Apache-2.0
// The tool's one checksum, a CRC-16 over bytes; it protects the idata
// block, the update file, the image inside it and every transfer.  The
// result is stored and sent least significant byte first.
#ifndef ZV_CRC16_H
#define ZV_CRC16_H

#include <stdint.h>

uint16_t calcCrc16(const uint8_t *pData, uint32_t ulLength);

#endif
