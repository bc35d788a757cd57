// SPDX-License-Identifier: Apache-2.0
// The image store: the one in-memory copy of the update that a run works
// on.  A loader fills it once (the Intel HEX loader or the update file
// reader); then the builder turns g_abImage into an encrypted payload in
// place, or the transfer sends it page by page without changing it.
#ifndef ZV_IMAGE_STORE_H
#define ZV_IMAGE_STORE_H

#include <stdint.h>

#define IMAGE_SIZE 0x40000u        // g_abImage
#define CODE_WINDOW_END 0x20000u   // HEX code addresses 0 to 0x1FFFF
#define IDATA_SIZE 0x7000u         // g_abIdata
#define IDATA_BASE 0x28000u        // device address of g_abIdata[0]
#define IDATA_LOAD_START 0x28100u  // first device address a HEX file may fill
#define IDATA_END 0x2F000u         // one past the idata window
#define IDATA_CRC_START 0x100u     // the idata CRC covers bytes 0x100..0x6FFF
#define PAGE_SIZE 256u
#define IMAGE_HEADER_SIZE 8u       // wLength, wImageCrc, 4 reserved bytes

// Filled by the loader on the thread that loads (update thread, or the
// main thread for a build); changed in place only by the builder.
extern uint8_t g_abImage[IMAGE_SIZE];
// The idata block for device addresses 0x28000..0x2EFFF; bytes 0 and 1
// hold its CRC-16, low byte first.
extern uint8_t g_abIdata[IDATA_SIZE];
// Offset in g_abImage where the image to write or send begins, and one
// past its end.
extern uint32_t nMinHexAddress;
extern uint32_t nMaxHexAddress;

// Empties the store and its extent, as a fresh process finds them.
void clearImageStore(void);

// Checks the extent that the HEX loader left for a main-CPU image and lays
// the image out from device address 0, so that every byte goes to the
// device address it was loaded for.  An image without code below 0x20000
// is refused with a message naming pszPath.  Returns 1 when usable.
int prepareMainImage(const char *pszPath);

// The CRC-16 that an idata block carries in its bytes 0 and 1: the one of
// its bytes 0x100 to 0x6FFF.
uint16_t idataBlockCrc(const uint8_t *pbIdata);

// Stores that CRC in bytes 0 and 1 of the block, low byte first, as the
// HEX loader does at the end of a load.
void sealIdataBlock(uint8_t *pbIdata);

// Little-endian stores and loads, used wherever the tool lays out a file
// or a packet.
inline void putLe16(uint8_t *p, uint32_t v) {
  p[0] = (uint8_t)v;
  p[1] = (uint8_t)(v >> 8);
}
inline void putLe32(uint8_t *p, uint32_t v) {
  putLe16(p, v);
  putLe16(p + 2, v >> 16);
}
inline uint16_t getLe16(const uint8_t *p) {
  return (uint16_t)(p[0] | (p[1] << 8));
}
inline uint32_t getLe32(const uint8_t *p) {
  return getLe16(p) | ((uint32_t)getLe16(p + 2) << 16);
}

#endif
