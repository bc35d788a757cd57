// SPDX-License-Identifier: Apache-2.0
// Intel HEX output of a main-CPU image: the code and the idata block laid
// out as records that the HEX loader reads back into the same store, so
// that a build from the written file equals a build from the original.
#ifndef ZV_HEX_WRITER_H
#define ZV_HEX_WRITER_H

#include <stdint.h>
#include <stdio.h>

// Writes code bytes 0 to ulLength - 1 (device addresses from 0, ulLength
// at least 1) and the idata bytes 0x100 to 0x6FFF of the block pbIdata
// (device addresses 0x28100 to 0x2EFFF) as 32-byte data records, with an
// extended segment address record before each 64 KiB of code and before
// the idata, and an end record; lines end in CR LF.  Records of zero bytes
// only are left out, all but the one that ends the code, which fixes the
// extent.  False when a write failed.
bool writeHexImage(FILE *pFile, const uint8_t *pbCode, uint32_t ulLength,
                   const uint8_t *pbIdata);

#endif
