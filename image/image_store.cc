// SPDX-License-Identifier: Apache-2.0
// Storage of the image store, the check that a main-CPU image loaded from
// an Intel HEX file can be built or sent, and the idata block's own CRC.
#include "image/image_store.h"

#include <string.h>

#include "base/console.h"
#include "image/crc16.h"

uint8_t g_abImage[IMAGE_SIZE];
uint8_t g_abIdata[IDATA_SIZE];
uint32_t nMinHexAddress;
uint32_t nMaxHexAddress;

void clearImageStore(void) {
  memset(g_abImage, 0, sizeof(g_abImage));
  memset(g_abIdata, 0, sizeof(g_abIdata));
  nMinHexAddress = nMaxHexAddress = 0;
}

int prepareMainImage(const char *pszPath) {
  if (nMinHexAddress >= nMaxHexAddress) {
    consolePrintf("Input file holds no code below address 0x20000:%s\n",
                  pszPath);
    return 0;
  }
  // The device takes a main image from page 0; the loader left each byte
  // at its own address with zeros below the first record.
  nMinHexAddress = 0;
  return 1;
}

uint16_t idataBlockCrc(const uint8_t *pbIdata) {
  return calcCrc16(pbIdata + IDATA_CRC_START, IDATA_SIZE - IDATA_CRC_START);
}

void sealIdataBlock(uint8_t *pbIdata) { putLe16(pbIdata, idataBlockCrc(pbIdata)); }
