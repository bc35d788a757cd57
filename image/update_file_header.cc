// SPDX-License-Identifier: Apache-2.0
// The update file header: its 12 bytes as fields and back (see
// update_file.h for the layout); the payload's length and its image header;
// and what a logo payload looks like.
#include <string.h>

#include "image/crc16.h"
#include "image/image_store.h"
#include "image/update_file.h"

void decodeUpdateFileHeader(const uint8_t *pb, UpdateFileHeader *pHeader) {
  pHeader->bMagic = pb[UPDATE_FILE_MAGIC_AT];
  pHeader->bTypeModel = pb[UPDATE_FILE_TYPE_MODEL_AT];
  pHeader->nMinHexAddress = getLe32(pb + UPDATE_FILE_MIN_ADDRESS_AT);
  pHeader->nMaxHexAddress = getLe32(pb + UPDATE_FILE_MAX_ADDRESS_AT);
  pHeader->wCrc = getLe16(pb + UPDATE_FILE_CRC_AT);
}

void encodeUpdateFileHeader(const UpdateFileHeader *pHeader, uint8_t *pb) {
  pb[UPDATE_FILE_MAGIC_AT] = pHeader->bMagic;
  pb[UPDATE_FILE_TYPE_MODEL_AT] = pHeader->bTypeModel;
  putLe32(pb + UPDATE_FILE_MIN_ADDRESS_AT, pHeader->nMinHexAddress);
  putLe32(pb + UPDATE_FILE_MAX_ADDRESS_AT, pHeader->nMaxHexAddress);
  putLe16(pb + UPDATE_FILE_CRC_AT, pHeader->wCrc);
}

uint16_t imageHeaderLength(const uint8_t *pbPayload) {
  return getLe16(pbPayload + IMAGE_HEADER_LENGTH_AT);
}

int payloadLooksLikeLogo(const uint8_t *pbPlain, uint32_t ulPayload) {
  if (ulPayload < IMAGE_HEADER_SIZE + 2) return 0;
  return getLe16(pbPlain + IMAGE_HEADER_SIZE) == (uint16_t)(imageHeaderLength(pbPlain) - 2);
}

uint32_t payloadLength(uint32_t ulLength) {
  uint32_t ulPages = (ulLength + PAGE_SIZE - 1) / PAGE_SIZE;
  if (ulPages == 0) ulPages = 1;
  return IMAGE_HEADER_SIZE + ulPages * PAGE_SIZE;
}

static uint16_t imageCrc(const uint8_t *pbPayload, uint32_t ulPayload) {
  return calcCrc16(pbPayload + IMAGE_HEADER_SIZE, ulPayload - IMAGE_HEADER_SIZE);
}

static int imageCrcHolds(const uint8_t *pbPlain, uint32_t ulPayload, uint16_t wImageCrc) {
  return imageCrc(pbPlain, ulPayload) == wImageCrc;
}

uint32_t putImageHeader(uint8_t *pbPayload, uint32_t ulLength) {
  uint32_t ulPayload = payloadLength(ulLength);
  putLe16(pbPayload + IMAGE_HEADER_LENGTH_AT, ulLength);
  putLe16(pbPayload + IMAGE_HEADER_CRC_AT, imageCrc(pbPayload, ulPayload));
  return ulPayload;
}

int readImageHeader(const uint8_t *pbPlain, uint32_t ulBytes, int bWhole,
                    ImageHeaderReading *pReading) {
  memset(pReading, 0, sizeof(*pReading));
  if (ulBytes < IMAGE_HEADER_SIZE) return 0;
  pReading->wLength = imageHeaderLength(pbPlain);
  pReading->wImageCrc = getLe16(pbPlain + IMAGE_HEADER_CRC_AT);
  // The header keeps the length modulo 64 KiB; an image is never empty.
  uint32_t ulLength = pReading->wLength != 0 ? pReading->wLength : 0x10000u;
  for (; ulLength <= ulBytes - IMAGE_HEADER_SIZE; ulLength += 0x10000u) {
    uint32_t ulPayload = payloadLength(ulLength);
    if (bWhole ? ulPayload != ulBytes
               : ulPayload > ulBytes || !imageCrcHolds(pbPlain, ulPayload, pReading->wImageCrc))
      continue;
    pReading->ulLength = ulLength;
    pReading->ulPayload = ulPayload;
    break;
  }
  if (bWhole) pReading->ulPayload = ulBytes;
  pReading->bCrcHolds = pReading->ulPayload != 0 &&
                        (!bWhole || imageCrcHolds(pbPlain, ulBytes, pReading->wImageCrc));
  return pReading->bCrcHolds;
}
