// SPDX-License-Identifier: Apache-2.0
// The update file header: its 12 bytes as fields and back (see
// update_file.h for the layout), and what a logo payload looks like.
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

int payloadLooksLikeLogo(const uint8_t *pbPlain, uint32_t ulPayload) {
  if (ulPayload < IMAGE_HEADER_SIZE + 2) return 0;
  uint16_t wLength = getLe16(pbPlain + IMAGE_HEADER_LENGTH_AT);
  return getLe16(pbPlain + IMAGE_HEADER_SIZE) == (uint16_t)(wLength - 2);
}
