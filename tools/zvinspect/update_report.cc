// SPDX-License-Identifier: Apache-2.0
// The report on an update file (see update_report.h).  The checks are the
// reader's (magic, type, model, start address, CRC, size) and what only a
// build can tell (extent against payload, the idata block's own CRC); with
// the key, the image header that the device checks after deciphering.
#include "tools/zvinspect/update_report.h"

#include <stdio.h>
#include <string.h>

#include "crypto/des.h"
#include "image/crc16.h"
#include "image/file_type.h"
#include "image/image_kind.h"
#include "image/image_store.h"
#include "image/update_file_builder.h"
#include "tools/zvinspect/report.h"

const char *fileTypeName(uint8_t bType) {
  switch (bType) {
    case FILE_TYPE_MAIN: return "main firmware";
    case FILE_TYPE_LOGO: return "logo";
    case FILE_TYPE_HTML: return "HTML";
    default: return "no known update";
  }
}

// The payload and idata sizes that a header's type and extent call for.
static bool expectedSize(const UpdateFileHeader *pHeader, uint32_t *pulSize) {
  uint8_t bType = typeOfTypeModel(pHeader->bTypeModel);
  if (bType != FILE_TYPE_MAIN && bType != FILE_TYPE_LOGO && bType != FILE_TYPE_HTML)
    return false;
  if (pHeader->nMaxHexAddress <= pHeader->nMinHexAddress ||
      pHeader->nMaxHexAddress - pHeader->nMinHexAddress > MAX_BUILD_LENGTH)
    return false;
  *pulSize = UPDATE_FILE_HEADER_SIZE +
             payloadLength(pHeader->nMaxHexAddress - pHeader->nMinHexAddress) +
             (bType == FILE_TYPE_MAIN ? IDATA_SIZE : 0);
  return true;
}

bool looksLikeUpdateFile(const uint8_t *pb, uint32_t ulSize) {
  if (ulSize < UPDATE_FILE_HEADER_SIZE) return false;
  UpdateFileHeader header;
  decodeUpdateFileHeader(pb, &header);
  uint32_t ulExpected;
  return expectedSize(&header, &ulExpected) && ulExpected == ulSize;
}

static void reportMagic(const UpdateView *pView) {
  if (pView->verdict.nRefusal != UPDATE_FILE_WRONG_MAGIC)
    reportFact(FACT_OK, "magic", "0x41");
  else
    reportFact(FACT_FINDING, "magic",
               "0x%02X, not 0x41: zvloader refuses the file (wrong magic number)",
               pView->header.bMagic);
}

static void reportType(const InspectOptions *pOpt, const UpdateView *pView) {
  uint8_t bType = pView->bType, bModel = pView->bModel;
  if (pView->bKnownType)
    reportFact(FACT_INFO, "type", "%s (%u), model %u", fileTypeName(bType), bType,
               bModel);
  else if (!pView->verdict.bKnownType)
    reportFact(FACT_FINDING, "type",
               "%u, model %u: zvloader refuses the file (bad file type)", bType, bModel);
  else if (bType == FILE_TYPE_MODEL_QUERY)
    reportFact(FACT_INFO, "type", "%u (the model query's code), model %u", bType, bModel);
  else
    reportFact(FACT_FINDING, "type",
               "%u, model %u: no update of this type; zvloader reads the file "
               "but cannot upload it", bType, bModel);
  reportValue("type", bType);
  reportValue("model", bModel);
  if (!pView->verdict.bModelAccepted)
    reportFact(FACT_FINDING, "model",
               "%u: zvloader refuses the file (main firmware is for models %d to %d)",
               bModel, MAIN_MODEL_LOWEST, MAIN_MODEL_HIGHEST);
  if (pOpt->nModel >= 0 && pOpt->nModel != bModel)
    reportFact(FACT_FINDING, "model", "%u, but -M asks for model %d", bModel,
               pOpt->nModel);
  else if (pOpt->nModel >= 0)
    reportFact(FACT_OK, "model", "%u, as -M asks", bModel);
}

// Sizes: header extent, payload, idata block.  Fills the view's payload.
static int reportSizes(const UpdateView *pView, uint32_t ulSize, UpdateView *pOut) {
  const UpdateFileHeader *pHeader = &pView->header;
  const UpdateFileVerdict *pVerdict = &pView->verdict;
  uint32_t ulRest = ulSize - UPDATE_FILE_HEADER_SIZE;
  if (pVerdict->bTooLarge) {
    reportFact(FACT_FINDING, "size",
               "%u bytes after the header, more than the %u that zvloader "
               "loads: it refuses the file", ulRest, IMAGE_SIZE);
    return 0;
  }
  if (!pVerdict->bIdataFits) {
    reportFact(FACT_FINDING, "size",
               "%u byte%s after the header, too short for the idata block of "
               "%u: zvloader refuses the file", ulRest, pluralS(ulRest), IDATA_SIZE);
    return 0;
  }
  pOut->ulPayload = pVerdict->ulPayload;
  pOut->pbIdata = pVerdict->pbIdata;
  uint32_t ulPayload = pOut->ulPayload;
  pOut->bLayout = ulPayload >= payloadLength(0) &&
                  (ulPayload - IMAGE_HEADER_SIZE) % PAGE_SIZE == 0;
  uint32_t ulPages = (ulPayload - IMAGE_HEADER_SIZE) / PAGE_SIZE;
  if (pOut->bLayout)
    reportFact(FACT_INFO, "payload", "%u bytes: the image header and %u page%s", ulPayload,
               ulPages, pluralS(ulPages));
  else
    reportFact(FACT_FINDING, "payload",
               "%u bytes: not the image header and whole pages that a build writes",
               ulPayload);
  reportValue("bytes", ulPayload);

  if (!pVerdict->bStartsAtZero)
    reportFact(FACT_FINDING, "start",
               "nMinHexAddress 0x%X: zvloader refuses an image that does not "
               "start at address 0", pHeader->nMinHexAddress);
  uint32_t ulExtent = pHeader->nMaxHexAddress - pHeader->nMinHexAddress;
  int bExtentFits = pHeader->nMaxHexAddress > pHeader->nMinHexAddress &&
                    ulExtent <= MAX_BUILD_LENGTH && payloadLength(ulExtent) == ulPayload;
  pOut->bExtentFits = bExtentFits;
  if (bExtentFits) {
    reportFact(FACT_INFO, "image", "%u byte%s (nMaxHexAddress 0x%X)", ulExtent,
               pluralS(ulExtent), pHeader->nMaxHexAddress);
    pOut->ulImageLength = ulExtent;
  } else {
    reportFact(FACT_FINDING, "image",
               "nMinHexAddress 0x%X, nMaxHexAddress 0x%X: an extent that does "
               "not fit the payload of %u byte%s", pHeader->nMinHexAddress,
               pHeader->nMaxHexAddress, ulPayload, pluralS(ulPayload));
    pOut->ulImageLength = ulPayload > IMAGE_HEADER_SIZE ? ulPayload - IMAGE_HEADER_SIZE : 0;
  }
  reportValue("bytes", pOut->ulImageLength);
  if (pView->bType == FILE_TYPE_MAIN && pOut->ulImageLength > CODE_WINDOW_END)
    reportFact(FACT_FINDING, "image",
               "%u bytes run past the code window (0x20000 bytes)", pOut->ulImageLength);
  return 1;
}

static void reportCrcs(UpdateView *pView, const uint8_t *pbSourceIdata) {
  uint16_t wCrc = pView->verdict.wPayloadCrc;
  pView->bCrcHolds = pView->ulPayload > 0 && pView->verdict.bCrcHolds;
  if (pView->ulPayload == 0)
    reportFact(FACT_FINDING, "wCrc", "no payload: zvloader loads nothing and stops");
  else if (wCrc == pView->header.wCrc)
    reportFact(FACT_OK, "wCrc", "0x%04X holds", wCrc);
  else
    reportFact(FACT_FINDING, "wCrc",
               "0x%04X stored, the payload gives 0x%04X: the file is damaged; "
               "zvloader refuses it", pView->header.wCrc, wCrc);
  reportValue("stored", pView->header.wCrc);
  reportValue("computed", wCrc);
  if (pView->pbIdata == NULL) return;

  // A block that is the source's, which its load sealed, holds the CRC of
  // its bytes: it is not taken twice.
  uint16_t wStored = getLe16(pView->pbIdata);
  uint16_t wIdataCrc = pbSourceIdata != NULL && memcmp(pView->pbIdata, pbSourceIdata,
                                                      IDATA_SIZE) == 0
                           ? wStored
                           : idataBlockCrc(pView->pbIdata);
  if (wStored == wIdataCrc)
    reportFact(FACT_OK, "idata", "%u bytes, its own CRC 0x%04X holds", IDATA_SIZE,
               wStored);
  else
    reportFact(FACT_FINDING, "idata",
               "its own CRC 0x%04X stored, bytes 0x100-0x6FFF give 0x%04X: the "
               "device would get a damaged idata block (wCrc does not cover it)",
               wStored, wIdataCrc);
  reportValue("stored", wStored);
  reportValue("computed", wIdataCrc);
  for (uint32_t i = 2; i < IDATA_CRC_START; i++)
    if (pView->pbIdata[i] != 0) {
      reportFact(FACT_FINDING, "idata",
                 "byte 0x%X is 0x%02X: bytes 2-0xFF are zero in every build",
                 i, pView->pbIdata[i]);
      break;
    }
}

// The payload is deciphered where it stands, in the mode asked (bAll: all
// of it, else its first 1032 bytes); enciphering the same span again gives
// back the bytes as stored.  Returns 1 when the image CRC holds.
static int decipher(UpdateView *pView, const uint8_t *pbKey, int bAll,
                    ImageHeaderReading *pReading) {
  desCbcDecrypt(pView->pbPayload, encipheredLength(pView->ulPayload, !bAll), pbKey);
  return readImageHeader(pView->pbPayload, pView->ulPayload, 1, pReading);
}

static void encipherAgain(UpdateView *pView, const uint8_t *pbKey, int bAll) {
  desCbcEncrypt(pView->pbPayload, encipheredLength(pView->ulPayload, !bAll), pbKey);
}

// What a build writes behind the image, up to the end of its pages, is
// zeros: other bytes there are data that the image header leaves out.
// They are counted, and the last is told by how far it lies past the end
// (0: the byte right behind the image).
static void reportBeyond(UpdateView *pView) {
  uint32_t ulFrom = IMAGE_HEADER_SIZE + pView->ulImageLength, ulLast = 0;
  for (uint32_t i = ulFrom; i < pView->ulPayload; i++)
    if (pView->pbPlain[i] != 0) {
      pView->ulBeyond++;
      ulLast = i - ulFrom;
    }
  if (pView->ulBeyond == 0) return;
  pView->ulBeyondSpan = ulLast + 1;
  char szLast[48];
  if (ulLast == 0)
    snprintf(szLast, sizeof(szLast), "right behind it");
  else
    snprintf(szLast, sizeof(szLast), "the last %u byte%s past its end", ulLast,
             pluralS(ulLast));
  reportFact(FACT_FINDING, "beyond", "%u byte%s beyond the image's length that %s not zero, "
             "%s: the header cuts the image short", pView->ulBeyond, pluralS(pView->ulBeyond),
             pView->ulBeyond == 1 ? "is" : "are", szLast);
  reportValue("bytes", pView->ulBeyond);
  reportValue("last", ulLast);
}

static void reportKey(const InspectOptions *pOpt, UpdateView *pView,
                      const uint8_t *pbSourceImage) {
  uint32_t ulPayload = pView->ulPayload;
  // A file built without -EA holds its image in the clear behind the first
  // 1032 bytes: when the source's image is not there, try -EA first.
  const uint32_t ulClear = ENCRYPT_FIRST_BLOCK - IMAGE_HEADER_SIZE;
  int bAllFirst = pbSourceImage != NULL && ulPayload >= ENCRYPT_FIRST_BLOCK + DES_BLOCK_SIZE &&
                  memcmp(pView->pbPayload + ENCRYPT_FIRST_BLOCK, pbSourceImage + ulClear,
                         DES_BLOCK_SIZE) != 0;
  int bFirst = 0, bAll = 0;
  ImageHeaderReading reading;  // of the last try
  if (bAllFirst) bAll = decipher(pView, pOpt->abKey, 1, &reading);
  if (bAllFirst && !bAll) encipherAgain(pView, pOpt->abKey, 1);
  if (!bAll) bFirst = decipher(pView, pOpt->abKey, 0, &reading);
  if (!bAll && !bFirst && !bAllFirst && ulPayload > ENCRYPT_FIRST_BLOCK) {
    encipherAgain(pView, pOpt->abKey, 0);
    bAll = decipher(pView, pOpt->abKey, 1, &reading);
  }
  const uint8_t *pbPlain = pView->pbPayload;  // deciphered by the last try
  uint16_t wLength = reading.wLength, wImageCrc = reading.wImageCrc;
  if (!bFirst && !bAll) {
    if (!pView->bCrcHolds)
      reportFact(FACT_FINDING, "key", "no verdict: the image CRC holds in neither mode, "
                 "but the payload is damaged (wCrc), so the key may be right");
    else if (wLength == (uint16_t)pView->ulImageLength)
      reportFact(FACT_FINDING, "key",
                 "the image header deciphers to the right length, 0x%04X, but "
                 "the image CRC holds in neither mode: the image is not the one "
                 "its header was made for", wLength);
    else
      reportFact(FACT_FINDING, "key",
                 "wrong: the image header deciphers to length 0x%04X (the file "
                 "header gives 0x%04X) and the image CRC holds in neither mode",
                 wLength, (uint16_t)pView->ulImageLength);
    return;
  }
  pView->bDeciphered = true;
  pView->bAllEnciphered = bAll;
  pView->pbPlain = pbPlain;
  reportFact(FACT_OK, "key", "right: image length 0x%04X, image CRC 0x%04X holds",
             wLength, wImageCrc);
  reportValue("length", wLength);
  reportValue("crc", wImageCrc);
  if (ulPayload <= ENCRYPT_FIRST_BLOCK)
    reportFact(FACT_INFO, "cipher",
               "the whole payload, %u bytes, lies in the first 1032 that are "
               "enciphered either way: upload it without -EA", ulPayload);
  else if (bAll)
    reportFact(FACT_NOTE, "cipher",
               "the whole payload is enciphered (built with -EA): upload it "
               "with -EA too");
  else
    reportFact(FACT_INFO, "cipher",
               "the first 1032 bytes are enciphered (built without -EA): upload "
               "it without -EA");
  uint32_t ulLength = reading.ulLength;
  if (ulLength == 0) {
    reportFact(FACT_FINDING, "length",
               "the image header's length 0x%04X does not fit the payload of %u byte%s",
               wLength, ulPayload, pluralS(ulPayload));
  } else {
    if (ulLength != pView->ulImageLength && pView->bExtentFits)
      reportFact(FACT_FINDING, "length",
                 "the image header gives %u bytes, the file header %u", ulLength,
                 pView->ulImageLength);
    else if (ulLength != pView->ulImageLength)
      reportFact(FACT_FINDING, "length",
                 "the image header gives %u bytes; the file header's extent, 0x%X "
                 "to 0x%X, does not fit the payload", ulLength, pView->header.nMinHexAddress,
                 pView->header.nMaxHexAddress);
    pView->ulImageLength = ulLength;
  }
  reportBeyond(pView);
}

// A logo or HTML file: whether its image is of the kind the type byte
// says, which no CRC covers.  Only the deciphered image can tell, by the
// tool's rule (image/image_kind.h): every logo image begins with its own
// length (2 less than the image header's) and is a bitmap, an HTML page is
// text.  A page may begin as a logo image does by chance, which is worth a
// note; the source, when given, shows what the image is.
static void reportImageKind(const InspectOptions *pOpt, const UpdateView *pView,
                            const uint8_t *pbSourceImage, uint32_t ulSourceLength) {
  int bLogo = pView->bType == FILE_TYPE_LOGO;
  if (!pView->bDeciphered) {
    if (!pOpt->bKey)
      reportFact(FACT_NOTE, "type", "%s cannot be confirmed without the key (-K): no "
                 "CRC covers the type byte", fileTypeName(pView->bType));
    return;
  }
  int nKind = payloadKind(pView->pbPlain, pView->ulPayload);
  int bSource = pbSourceImage != NULL && ulSourceLength == pView->ulImageLength &&
                memcmp(pView->pbPlain + IMAGE_HEADER_SIZE, pbSourceImage, ulSourceLength) == 0;
  if (bLogo && nKind == PAYLOAD_LOGO)
    reportFact(FACT_OK, "type", "a logo image: it begins with its own length and is not "
               "text");
  else if (bLogo && nKind == PAYLOAD_PAGE)
    reportFact(FACT_FINDING, "type", "the image does not begin with its own length, as "
               "every logo image does: the type byte or the file is wrong (zvloader would "
               "send it into the logo pages)");
  else if (bLogo && bSource)
    reportFact(FACT_OK, "type", "the image is the logo built from %s, though it is text",
               pOpt->pszAgainst);
  else if (bLogo)
    reportFact(FACT_FINDING, "type", "an HTML page typed as a logo image: it begins with "
               "its own length, but is text (no control byte in its first %d bytes), as a "
               "logo image is not: the type byte or the file is wrong (zvloader would send "
               "it into the logo pages)", IMAGE_TEXT_SPAN);
  else if (nKind == PAYLOAD_PAGE)
    reportFact(FACT_OK, "type", "the image is an HTML image: it does not begin with its "
               "own length");
  else if (bSource)
    reportFact(FACT_OK, "type", "the image is the HTML page of %s, though it begins with "
               "its own length as a logo image does", pOpt->pszAgainst);
  else if (nKind == PAYLOAD_LOGO)
    reportFact(FACT_FINDING, "type", "a logo image typed as an HTML page: it begins with "
               "its own length and is not text (a control byte in its first %d bytes): the "
               "type byte or the file is wrong (zvloader would send it into the HTML pages)",
               IMAGE_TEXT_SPAN);
  else
    reportFact(FACT_NOTE, "type", "it begins with its own length as a logo image does, "
               "which an HTML page does once in 65,536, but is text, as a page is (--against "
               "the page tells)");
}

int inspectUpdateFile(const InspectOptions *pOpt, uint8_t *pbFile, uint32_t ulSize,
                      const uint8_t *pbSourceImage, uint32_t ulSourceLength,
                      const uint8_t *pbSourceIdata, UpdateView *pView) {
  memset(pView, 0, sizeof(*pView));
  pView->pszPath = pOpt->pszInput;
  if (ulSize < UPDATE_FILE_HEADER_SIZE) {  // taken for one by its magic, which is right
    reportFact(FACT_FINDING, "size",
               "%u byte%s, the file ends inside its 12-byte header: zvloader "
               "refuses it", ulSize, pluralS(ulSize));
    return 0;
  }
  decodeUpdateFileHeader(pbFile, &pView->header);
  judgeUpdateFile(pbFile, ulSize, 1, 0, &pView->verdict);
  pView->bType = typeOfTypeModel(pView->header.bTypeModel);
  pView->bModel = modelOfTypeModel(pView->header.bTypeModel);
  pView->bKnownType = pView->bType == FILE_TYPE_MAIN ||
                      pView->bType == FILE_TYPE_LOGO || pView->bType == FILE_TYPE_HTML;
  pView->pbPayload = pbFile + UPDATE_FILE_HEADER_SIZE;
  reportFact(FACT_INFO, "size", "%u byte%s", ulSize, pluralS(ulSize));
  reportValue("bytes", ulSize);
  reportMagic(pView);
  reportType(pOpt, pView);
  if (!reportSizes(pView, ulSize, pView)) return 0;
  reportCrcs(pView, pbSourceIdata);
  if (pOpt->bKey && pView->bLayout) reportKey(pOpt, pView, pbSourceImage);
  if (pView->bType == FILE_TYPE_LOGO || pView->bType == FILE_TYPE_HTML)
    reportImageKind(pOpt, pView, pbSourceImage, ulSourceLength);
  return 1;
}
