// SPDX-License-Identifier: Apache-2.0
// The verdict on an update file's bytes (see update_file.h): the reader's
// checks, made on a copy of the file, in the order the reader reads it.
#include <string.h>

#include <algorithm>

#include "base/console.h"
#include "image/crc16.h"
#include "image/image_store.h"
#include "image/update_file.h"

// The header field from nAt up to nEnd, where the next one begins: the
// bytes present replace the low bytes of 0.  Returns false when none of
// them is present.
static bool headerField(const uint8_t *pb, uint32_t ulRead, uint32_t nAt, uint32_t nEnd,
                        uint32_t *pulValue) {
  uint8_t ab[4] = {0, 0, 0, 0};
  bool bPresent = ulRead > nAt;
  if (bPresent) memcpy(ab, pb + nAt, std::min(ulRead, nEnd) - nAt);
  *pulValue = getLe32(ab);
  return bPresent;
}

// The checks of the header, in their order; the first that fails is the
// refusal.  Returns the refusal, UPDATE_FILE_ACCEPTED when the header is whole.
static int judgeHeader(const uint8_t *pb, uint32_t ulRead, UpdateFileVerdict *pVerdict) {
  pVerdict->ulHeaderBytes = std::min(ulRead, (uint32_t)UPDATE_FILE_HEADER_SIZE);
  if (ulRead < 1) return UPDATE_FILE_NO_MAGIC;
  int nRefusal = pb[UPDATE_FILE_MAGIC_AT] == UPDATE_FILE_MAGIC ? UPDATE_FILE_ACCEPTED
                                                                : UPDATE_FILE_WRONG_MAGIC;
  if (ulRead < 2) return nRefusal != UPDATE_FILE_ACCEPTED ? nRefusal : UPDATE_FILE_NO_TYPE;
  uint8_t bTypeModel = pb[UPDATE_FILE_TYPE_MODEL_AT];
  pVerdict->bModel = modelOfTypeModel(bTypeModel);
  pVerdict->bType = typeOfTypeModel(bTypeModel);
  pVerdict->bKnownType = pVerdict->bType >= FILE_TYPE_LOWEST && pVerdict->bType <= FILE_TYPE_HIGHEST;
  pVerdict->bModelAccepted = pVerdict->bType != FILE_TYPE_MAIN || isMainModel(pVerdict->bModel);
  if (nRefusal == UPDATE_FILE_ACCEPTED && !pVerdict->bKnownType) nRefusal = UPDATE_FILE_BAD_TYPE;
  if (nRefusal == UPDATE_FILE_ACCEPTED && !pVerdict->bModelAccepted)
    nRefusal = UPDATE_FILE_WRONG_MODEL;
  bool bMin = headerField(pb, ulRead, UPDATE_FILE_MIN_ADDRESS_AT, UPDATE_FILE_MAX_ADDRESS_AT,
                          &pVerdict->nMinHexAddress);
  bool bMax = headerField(pb, ulRead, UPDATE_FILE_MAX_ADDRESS_AT, UPDATE_FILE_CRC_AT,
                          &pVerdict->nMaxHexAddress);
  uint32_t ulCrc;
  bool bCrc = headerField(pb, ulRead, UPDATE_FILE_CRC_AT, UPDATE_FILE_HEADER_SIZE, &ulCrc);
  pVerdict->wStoredCrc = (uint16_t)ulCrc;
  if (nRefusal == UPDATE_FILE_ACCEPTED && !bMin) nRefusal = UPDATE_FILE_NO_MIN;
  if (nRefusal == UPDATE_FILE_ACCEPTED && !bMax) nRefusal = UPDATE_FILE_NO_MAX;
  if (nRefusal == UPDATE_FILE_ACCEPTED && !bCrc) nRefusal = UPDATE_FILE_NO_CRC;
  return nRefusal;
}

void judgeUpdateFile(const uint8_t *pb, uint32_t ulRead, int bEncrypted, uint8_t bRawType,
                     UpdateFileVerdict *pVerdict) {
  ulRead = std::min(ulRead, (uint32_t)UPDATE_FILE_READ_LIMIT);
  memset(pVerdict, 0, sizeof(*pVerdict));
  pVerdict->bEncrypted = bEncrypted;
  int nRefusal = UPDATE_FILE_ACCEPTED;
  uint8_t bType = bRawType;
  uint32_t ulSkip = 0;
  if (bEncrypted) {
    nRefusal = judgeHeader(pb, ulRead, pVerdict);
    // Whatever the header holds, a header cut short leaves no data.
    ulSkip = pVerdict->ulHeaderBytes;
    bType = pVerdict->bType;
  } else {
    pVerdict->bType = bRawType;
    pVerdict->bKnownType = pVerdict->bModelAccepted = true;
  }
  // The data must fit the store; a raw logo's 2-byte length goes in front
  // of it as well.
  uint32_t ulRoom = IMAGE_SIZE;
  if (!bEncrypted && bType != FILE_TYPE_HTML) ulRoom -= 2;
  uint32_t ulData = ulRead - ulSkip;
  pVerdict->bTooLarge = ulData > ulRoom;
  if (pVerdict->bTooLarge) ulData = ulRoom;
  pVerdict->pbData = pb + ulSkip;
  pVerdict->ulData = ulData;
  pVerdict->ulPayload = ulData;
  pVerdict->bIdataFits = true;
  if (bType == FILE_TYPE_MAIN) {
    pVerdict->bIdataFits = ulData >= IDATA_SIZE;
    if (pVerdict->bIdataFits) {
      pVerdict->ulPayload = ulData - IDATA_SIZE;
      pVerdict->pbIdata = pVerdict->pbData + pVerdict->ulPayload;
    }
  }
  pVerdict->wPayloadCrc = calcCrc16(pVerdict->pbData, pVerdict->ulPayload);
  pVerdict->bCrcHolds = !bEncrypted || pVerdict->wPayloadCrc == pVerdict->wStoredCrc;
  pVerdict->ulLength = pVerdict->ulPayload + (!bEncrypted && bType != FILE_TYPE_HTML ? 2 : 0);

  if (nRefusal == UPDATE_FILE_ACCEPTED && pVerdict->bTooLarge) nRefusal = UPDATE_FILE_TOO_LARGE;
  if (nRefusal == UPDATE_FILE_ACCEPTED && !pVerdict->bIdataFits) nRefusal = UPDATE_FILE_NO_IDATA;
  if (nRefusal == UPDATE_FILE_ACCEPTED && !pVerdict->bCrcHolds) nRefusal = UPDATE_FILE_BAD_CRC;
  // The payload stands at offset 0; builders only ever write images that
  // start at device address 0.
  pVerdict->bStartsAtZero = pVerdict->nMinHexAddress == 0;
  if (nRefusal == UPDATE_FILE_ACCEPTED && !pVerdict->bStartsAtZero)
    nRefusal = UPDATE_FILE_NOT_AT_ZERO;
  if (nRefusal == UPDATE_FILE_ACCEPTED && pVerdict->ulLength == 0) nRefusal = UPDATE_FILE_EMPTY;
  pVerdict->nRefusal = nRefusal;
}

int updateFileRefusalText(const UpdateFileVerdict *pVerdict, const char *pszPath, char *pszText,
                          int nSize) {
  static const char *const apszFormats[] = {
      "",
      "Could not read Magic Number from: %s",
      "Wrong Magic Number, This is not an QRVX microcode update file: %s",
      "Could not read File Type from: %s",
      "Bad File Type, This is not an QRVX microcode update file: %s",
      NULL,  // the model's message
      "Could not read nMinHexAddress from: %s",
      "Could not read nMaxHexAddress from: %s",
      "Could not read crc from: %s",
      "File too large to load: %s\n",
      "File too short to hold the idata block: %s\n",
      "Bad crc from: %s, this file appears corrupted",
      "Update file image does not start at address 0: %s\n",
      "",
  };
  unsigned uRefusal = (unsigned)pVerdict->nRefusal;
  if (uRefusal == UPDATE_FILE_WRONG_MODEL) return mainModelText(pVerdict->bModel, pszText, nSize);
  // A code that no verdict gives has no text either.
  bool bKnown = uRefusal < sizeof(apszFormats) / sizeof(apszFormats[0]);
  return formatText(pszText, nSize, bKnown ? apszFormats[uRefusal] : "", pszPath);
}
