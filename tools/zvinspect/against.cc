// The comparison with the source (see against.h).  The source is loaded
// and laid out as the builder does (the HEX loader's rules, or the raw
// file with a logo's length in front); the update file's payload is
// deciphered in the mode that made its image CRC hold; then the two plain
// payloads, the extents and the idata blocks are compared.
#include "tools/zvinspect/against.h"

#include <stdio.h>
#include <string.h>

#include "app/settings.h"
#include "image/image_store.h"
#include "image/input_file.h"
#include "image/update_file_builder.h"
#include "image/upload_layout.h"
#include "tools/zvinspect/hex_report.h"
#include "tools/zvinspect/report.h"

// Loads a raw logo or HTML source into g_abImage as the reader's raw mode
// lays it out.  Returns the image length, 0 when it cannot be built, -1
// when it cannot be read.
static long loadRawSource(const char *pszPath, uint8_t bType) {
  memset(g_abImage, 0, sizeof(g_abImage));
  uint32_t ulPrefix = bType == FILE_TYPE_LOGO ? 2 : 0;
  FILE *pFile = openInputFile(pszPath);
  if (pFile == NULL) return -1;
  long nRead = readInputFile(pFile, g_abImage + ulPrefix, IMAGE_SIZE - ulPrefix, pszPath);
  uint8_t bExtra;
  long nMore = nRead == (long)(IMAGE_SIZE - ulPrefix) ? readInputFile(pFile, &bExtra, 1, pszPath) : 0;
  fclose(pFile);
  if (nRead < 0 || nMore < 0) return -1;
  uint32_t ulLength = (uint32_t)nRead + ulPrefix;
  if (ulPrefix != 0) putLe16(g_abImage, (uint32_t)nRead);
  if (nMore > 0 || ulLength > MAX_BUILD_LENGTH) {
    reportFact(FACT_FINDING, "source", "%s is larger than zvloader builds (%u bytes)",
               pszPath, MAX_BUILD_LENGTH);
    return 0;
  }
  if (ulLength == 0) {
    reportFact(FACT_FINDING, "source", "%s is empty: zvloader builds nothing from it",
               pszPath);
    return 0;
  }
  return (long)ulLength;
}

static long loadHexSource(const char *pszPath) {
  HexSummary summary;
  if (!inspectHexFile(pszPath, 0, &summary)) return -1;
  if (summary.ulRefusedLine != 0) {
    reportFact(FACT_FINDING, "source", "zvloader cannot build %s: it refuses line %u, %s",
               pszPath, summary.ulRefusedLine, summary.szRefusal);
    return 0;
  }
  if (!summary.bBuildable) {
    reportFact(FACT_FINDING, "source", "zvloader cannot build %s: no code below 0x20000",
               pszPath);
    return 0;
  }
  return (long)nMaxHexAddress;  // laid out from address 0
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

int compareWithSource(const InspectOptions *pOpt, const UpdateView *pView) {
  const char *pszSource = pOpt->pszAgainst;
  if (!pView->bKnownType || !pView->bLayout || !pView->bDeciphered) {
    reportFact(FACT_FINDING, "against", "no comparison with %s: %s", pszSource,
               !pView->bKnownType ? "the file holds no known update"
               : !pView->bLayout  ? "the payload is not laid out as a build lays it"
                                  : "the key does not decipher the file");
    return 1;
  }
  long nLength = pView->bType == FILE_TYPE_MAIN ? loadHexSource(pszSource)
                                                : loadRawSource(pszSource, pView->bType);
  if (nLength < 0) return 0;
  if (nLength == 0) return 1;
  uint32_t ulLength = (uint32_t)nLength;
  reportFact(FACT_INFO, "source", "%s gives an image of %u bytes", pszSource, ulLength);
  reportValue("bytes", ulLength);

  uint32_t ulPayload = layOutPayload(g_abImage, ulLength);
  int nDifferences = 0;
  if (ulLength != pView->ulImageLength || pView->header.nMaxHexAddress != ulLength ||
      pView->header.nMinHexAddress != 0) {
    reportFact(FACT_FINDING, "against", "the file's image is %u bytes (nMaxHexAddress "
               "0x%X), a build of %s gives %u", pView->ulImageLength,
               pView->header.nMaxHexAddress, pszSource, ulLength);
    nDifferences++;
  }
  uint32_t ulCommon = ulPayload < pView->ulPayload ? ulPayload : pView->ulPayload;
  long nAt = firstDifference(pView->pbPlain + IMAGE_HEADER_SIZE, g_abImage + IMAGE_HEADER_SIZE,
                             ulCommon - IMAGE_HEADER_SIZE);
  if (nAt >= 0) {
    char szWhere[200];
    describeOffset(pView, pszSource, (uint32_t)nAt, szWhere, sizeof(szWhere));
    reportFact(FACT_FINDING, "against", "differs first at %s: 0x%02X in the file, 0x%02X "
               "from the source", szWhere, pView->pbPlain[IMAGE_HEADER_SIZE + nAt],
               g_abImage[IMAGE_HEADER_SIZE + nAt]);
    reportValue("offset", (uint32_t)nAt);
    nDifferences++;
  } else if (firstDifference(pView->pbPlain, g_abImage, IMAGE_HEADER_SIZE) >= 0) {
    reportFact(FACT_FINDING, "against", "the image header differs from a build of %s",
               pszSource);
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
      char szWhere[200];
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
