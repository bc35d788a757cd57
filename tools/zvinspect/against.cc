// SPDX-License-Identifier: Apache-2.0
// The comparison with the source (see against.h).  The source is loaded
// as the builder loads it (the HEX loader's rules, or the raw file with a
// logo's length in front); the update file's payload is deciphered in the
// mode that made its image CRC hold; then the two images, the extents and
// the idata blocks are compared.
#include "tools/zvinspect/against.h"

#include <stdio.h>
#include <string.h>

#include "image/file_type.h"
#include "image/hex_verdict.h"
#include "image/image_store.h"
#include "image/input_file.h"
#include "image/update_file_builder.h"
#include "image/update_file.h"
#include "net/upload_plan.h"
#include "platform/platform_companions.h"
#include "tools/zvinspect/hex_report.h"
#include "tools/zvinspect/report.h"

long readWholeInput(const char *pszPath, uint8_t *pbBuffer, uint32_t ulSize) {
  int bStandardInput = strcmp(pszPath, "-") == 0;
  FILE *pFile = bStandardInput ? platStandardInput() : openInputFile(pszPath);
  if (pFile == NULL) return -1;
  long nRead = readInputFile(pFile, pbBuffer, ulSize, pszPath);
  if (!bStandardInput) fclose(pFile);
  return nRead;
}

// A raw source, read once: as much of it as the reader judges.
static uint8_t s_abSource[UPDATE_FILE_READ_LIMIT];

static void cannotBuild(SourceLoad *pLoad, const char *pszFormat, const char *pszPath,
                        uint32_t ulValue, const char *pszText) {
  pLoad->nLength = 0;
  snprintf(pLoad->szProblem, sizeof(pLoad->szProblem), pszFormat, pszPath, ulValue,
           pszText);
}

// A raw logo or HTML source as the reader's raw mode judges and lays it
// out.
static void loadRawSource(const char *pszPath, uint32_t ulSize, uint8_t bType,
                          SourceLoad *pLoad) {
  UpdateFileVerdict verdict;
  judgeUpdateFile(s_abSource, ulSize, 0, bType, &verdict);
  if (verdict.bTooLarge || verdict.ulLength > MAX_BUILD_LENGTH)
    cannotBuild(pLoad, "%s is larger than zvloader builds (%u bytes)%s", pszPath,
                MAX_BUILD_LENGTH, "");
  else if (verdict.ulLength == 0)
    cannotBuild(pLoad, "%s is empty: zvloader builds nothing from it%.0u%s", pszPath, 0, "");
  else
    pLoad->nLength = (long)loadUpdateFileVerdict(&verdict);
}

// A HEX source is judged line by line as it is read, as the loader reads
// it: no copy of it is kept.
static void loadHexSource(FILE *pFile, const char *pszPath, SourceLoad *pLoad) {
  static HexLineReader s_reader;
  HexSummary summary;
  startHexLines(&s_reader, pFile, pszPath);
  inspectHexLines(&s_reader, 0, &summary);
  if (ferror(pFile)) pLoad->nLength = -1;  // a read failed (reported)
  else if (summary.ulRefusedLine != 0)
    cannotBuild(pLoad, "zvloader cannot build %s: it refuses line %u, %s", pszPath,
                summary.ulRefusedLine, summary.szRefusal);
  else if (!summary.bBuildable)
    cannotBuild(pLoad, "zvloader cannot build %s: no code below 0x20000%.0u%s", pszPath, 0,
                "");
  else
    pLoad->nLength = (long)nMaxHexAddress;  // laid out from address 0
}

void loadSource(const char *pszPath, uint8_t bType, SourceLoad *pLoad) {
  pLoad->nLength = -1;
  pLoad->szProblem[0] = '\0';
  pLoad->pHexFile = NULL;
  pLoad->bStandardInput = strcmp(pszPath, "-") == 0;
  if (bType == FILE_TYPE_MAIN) {
    FILE *pFile = pLoad->bStandardInput ? platStandardInput() : openInputFile(pszPath);
    if (pFile == NULL) return;
    loadHexSource(pFile, pszPath, pLoad);
    pLoad->pHexFile = pFile;
    return;
  }
  long nRead = readWholeInput(pszPath, s_abSource, sizeof(s_abSource));
  if (nRead < 0) return;
  if (bType == FILE_TYPE_LOGO || bType == FILE_TYPE_HTML)
    loadRawSource(pszPath, (uint32_t)nRead, bType, pLoad);
  else
    cannotBuild(pLoad, "the file holds no known update%.0s%.0u%s", pszPath, 0, "");
}

void closeSource(SourceLoad *pLoad) {
  if (pLoad->pHexFile != NULL && !pLoad->bStandardInput) fclose(pLoad->pHexFile);
  pLoad->pHexFile = NULL;
}

// Where an image byte lies on the device, and in the source.
static void describeOffset(const UpdateView *pView, const char *pszPath,
                           uint32_t ulOffset, char *pszOut, size_t nSize) {
  if (pView->bType == FILE_TYPE_MAIN) {
    uint32_t ulLine = hexLineOf(ulOffset);
    if (ulLine != 0)
      snprintf(pszOut, nSize, "device address 0x%05X (line %u of %s)", ulOffset, ulLine,
               pszPath);
    else
      snprintf(pszOut, nSize, "device address 0x%05X (not set by %s)", ulOffset, pszPath);
    return;
  }
  uint32_t ulBase = (pView->bType == FILE_TYPE_LOGO ? LOGO_FIRST_PAGE : HTML_FIRST_PAGE) *
                    PAGE_SIZE;
  if (pView->bType == FILE_TYPE_LOGO && ulOffset < 2)
    snprintf(pszOut, nSize, "device address 0x%05X (the logo's length)", ulBase + ulOffset);
  else
    snprintf(pszOut, nSize, "device address 0x%05X (byte %u of %s)", ulBase + ulOffset,
             ulOffset - (pView->bType == FILE_TYPE_LOGO ? 2 : 0), pszPath);
}

// The first differing byte of two runs, or -1.
static long firstDifference(const uint8_t *pbA, const uint8_t *pbB, uint32_t ulLength) {
  for (uint32_t i = 0; i < ulLength; i++)
    if (pbA[i] != pbB[i]) return (long)i;
  return -1;
}

int compareWithSource(const InspectOptions *pOpt, const UpdateView *pView,
                      const SourceLoad *pLoad) {
  const char *pszSource = pOpt->pszAgainst;
  if (pLoad->nLength < 0) {
    reportFact(FACT_FINDING, "source", "cannot read %s", pszSource);
    return 0;
  }
  if (pLoad->nLength == 0) {
    reportFact(FACT_FINDING, "source", "%s", pLoad->szProblem);
    return 1;
  }
  if (!pView->bLayout || !pView->bDeciphered) {
    reportFact(FACT_FINDING, "against", "no comparison with %s: %s", pszSource,
               !pView->bLayout ? "the payload is not laid out as a build lays it"
                               : "the key does not decipher the file");
    return 1;
  }
  uint32_t ulLength = (uint32_t)pLoad->nLength;
  reportFact(FACT_INFO, "source", "%s gives an image of %u byte%s", pszSource, ulLength,
             pluralS(ulLength));
  reportValue("bytes", ulLength);

  // A build lays the image out behind the image header, whose length and
  // CRC follow from the image, and whose reserved bytes keep image bytes 4
  // to 7; the file's image CRC holds, so equal images mean equal headers.
  uint32_t ulPayload = payloadLength(ulLength);
  int nDifferences = 0;
  if (ulLength != pView->ulImageLength || pView->header.nMaxHexAddress != ulLength ||
      pView->header.nMinHexAddress != 0) {
    reportFact(FACT_FINDING, "against", "the file's image is %u bytes (nMinHexAddress 0x%X, "
               "nMaxHexAddress 0x%X), a build of %s gives %u from address 0",
               pView->ulImageLength, pView->header.nMinHexAddress,
               pView->header.nMaxHexAddress, pszSource, ulLength);
    nDifferences++;
  }
  uint32_t ulCommon = ulPayload < pView->ulPayload ? ulPayload : pView->ulPayload;
  const uint8_t *pbImage = pView->pbPlain + IMAGE_HEADER_SIZE;
  long nAt = firstDifference(pbImage, g_abImage, ulCommon - IMAGE_HEADER_SIZE);
  if (nAt >= 0) {
    char szWhere[REPORT_TEXT_MAX];
    describeOffset(pView, pszSource, (uint32_t)nAt, szWhere, sizeof(szWhere));
    reportFact(FACT_FINDING, "against", "differs first at %s: 0x%02X in the file, 0x%02X "
               "from the source", szWhere, pbImage[nAt], g_abImage[nAt]);
    reportValue("offset", (uint32_t)nAt);
    nDifferences++;
  } else if (memcmp(pView->pbPlain + IMAGE_HEADER_RESERVED_AT, g_abImage + 4, 4) != 0) {
    reportFact(FACT_FINDING, "against", "the image header's reserved bytes differ from a "
               "build of %s", pszSource);
    nDifferences++;
  }
  if (pView->pbIdata != NULL) {
    // The idata bytes first: a difference there changes the block's CRC too.
    nAt = firstDifference(pView->pbIdata + IDATA_CRC_START, g_abIdata + IDATA_CRC_START,
                          IDATA_SIZE - IDATA_CRC_START);
    if (nAt >= 0) nAt += IDATA_CRC_START;
    else nAt = firstDifference(pView->pbIdata, g_abIdata, IDATA_CRC_START);
    if (nAt >= 0) {
      uint32_t ulLine = hexLineOf(IDATA_BASE + (uint32_t)nAt);
      char szWhere[REPORT_TEXT_MAX];
      if (nAt < 2)
        snprintf(szWhere, sizeof(szWhere), "the block's own CRC");
      else if (ulLine != 0)
        snprintf(szWhere, sizeof(szWhere), "line %u of %s", ulLine, pszSource);
      else
        snprintf(szWhere, sizeof(szWhere), "not set by %s", pszSource);
      reportFact(FACT_FINDING, "against", "the idata block differs first at device "
                 "address 0x%05X (%s): 0x%02X in the file, 0x%02X from the source",
                 IDATA_BASE + (uint32_t)nAt, szWhere, pView->pbIdata[nAt], g_abIdata[nAt]);
      nDifferences++;
    }
  }
  if (nDifferences > 0) return 1;
  if (pView->header.bMagic != UPDATE_FILE_MAGIC || !pView->bCrcHolds) {
    reportFact(FACT_FINDING, "against", "the image is the build of %s, but the file's "
               "header is damaged", pszSource);
    return 1;
  }
  reportFact(FACT_OK, "against", "exactly the build of %s for model %u, %s", pszSource,
             pView->bModel,
             pView->ulPayload <= ENCRYPT_FIRST_BLOCK ? "with or without -EA"
             : pView->bAllEnciphered                ? "with -EA"
                                                    : "without -EA");
  return 1;
}
