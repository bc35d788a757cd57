// SPDX-License-Identifier: Apache-2.0
// The page plan of an update (see file_plan.h).  An update file is judged
// by its 12-byte header and its size, as the tool's reader takes them; its
// CRC is left to the tool, whose refusal then shows in the results.
#include "tools/zvfleet/file_plan.h"

#include <stdio.h>

#include "app/console.h"
#include "app/settings.h"
#include "image/hex_loader.h"
#include "image/image_store.h"
#include "image/input_file.h"
#include "image/update_file.h"
#include "image/upload_layout.h"

#define IDATA_PAGES (IDATA_END_PAGE - IDATA_FIRST_PAGE)

static int refuse(char *pszWhy, int nWhySize, const char *pszReason) {
  snprintf(pszWhy, (size_t)nWhySize, "%s", pszReason);
  return 0;
}

// Pages of a main image of ulLength bytes.
static int mainPlan(uint32_t ulLength, FilePlan *pPlan) {
  pPlan->nIdataPages = IDATA_PAGES;
  pPlan->nFirstPage = 0;
  pPlan->nEndPage = (int)((ulLength + PAGE_SIZE - 1) / PAGE_SIZE);
  return 1;
}

static int fixedPlan(int nType, FilePlan *pPlan) {
  pPlan->nIdataPages = 0;
  pPlan->nFirstPage = nType == FILE_TYPE_LOGO ? LOGO_FIRST_PAGE : HTML_FIRST_PAGE;
  pPlan->nEndPage = nType == FILE_TYPE_LOGO ? LOGO_END_PAGE : HTML_END_PAGE;
  return 1;
}

// The size of an open file, -1 when it cannot be told.
static long fileSize(FILE *pFile) {
  if (fseek(pFile, 0, SEEK_END) != 0) return -1;
  return ftell(pFile);
}

static int planUpdateFile(FILE *pFile, FilePlan *pPlan, char *pszWhy,
                          int nWhySize) {
  uint8_t abHeader[UPDATE_FILE_HEADER_SIZE];
  long lSize = fileSize(pFile);
  if (lSize < (long)sizeof(abHeader) || fseek(pFile, 0, SEEK_SET) != 0 ||
      fread(abHeader, 1, sizeof(abHeader), pFile) != sizeof(abHeader))
    return refuse(pszWhy, nWhySize, "too short for an update file header");
  if (abHeader[UPDATE_FILE_MAGIC_AT] != UPDATE_FILE_MAGIC)
    return refuse(pszWhy, nWhySize,
                  "not an update file (a plain file needs -NE -T)");
  int nType = abHeader[UPDATE_FILE_TYPE_MODEL_AT] & 0x0F;
  int nModel = abHeader[UPDATE_FILE_TYPE_MODEL_AT] >> 4;
  if (getLe32(abHeader + UPDATE_FILE_MIN_ADDRESS_AT) != 0)
    return refuse(pszWhy, nWhySize, "its image does not start at address 0");
  if (nType == FILE_TYPE_LOGO || nType == FILE_TYPE_HTML)
    return fixedPlan(nType, pPlan);
  if (nType != FILE_TYPE_MAIN)
    return refuse(pszWhy, nWhySize, "not a main, logo or HTML update file");
  if (nModel < 1 || nModel > 3)
    return refuse(pszWhy, nWhySize, "a main file for a model other than 1 to 3");
  // The reader takes at most the store's size after the header, the idata
  // block from its end; the image header leads the rest.
  uint32_t ulRead = (uint32_t)(lSize - UPDATE_FILE_HEADER_SIZE);
  if (ulRead > IMAGE_SIZE) ulRead = IMAGE_SIZE;
  if (ulRead < IDATA_SIZE + IMAGE_HEADER_SIZE)
    return refuse(pszWhy, nWhySize, "too short for its idata block and image");
  return mainPlan(ulRead - IDATA_SIZE - IMAGE_HEADER_SIZE, pPlan);
}

static int planPlainFile(FILE *pFile, const char *pszPath, char cTypeLetter,
                         FilePlan *pPlan, char *pszWhy, int nWhySize) {
  long lSize = fileSize(pFile);
  fclose(pFile);
  if (lSize < 0) return refuse(pszWhy, nWhySize, "cannot be read");
  if (cTypeLetter == 'L') {
    if (lSize > (long)IMAGE_SIZE - 2)
      return refuse(pszWhy, nWhySize, "too large for a logo");
    return fixedPlan(FILE_TYPE_LOGO, pPlan);
  }
  if (cTypeLetter == 'H') {
    if (lSize == 0 || lSize > (long)IMAGE_SIZE)
      return refuse(pszWhy, nWhySize, "empty, or too large for an HTML bundle");
    return fixedPlan(FILE_TYPE_HTML, pPlan);
  }
  // A HEX firmware: its extent is what the tool's loader makes of it.
  if (!readHexFile(pszPath)) {
    consoleWrite("\n", 1);  // its message has no line end
    return refuse(pszWhy, nWhySize, "the tool's HEX loader refuses it (above)");
  }
  if (!prepareMainImage(pszPath))
    return refuse(pszWhy, nWhySize, "the tool's HEX loader refuses it (above)");
  return mainPlan(nMaxHexAddress - nMinHexAddress, pPlan);
}

int planFile(const char *pszPath, int bPlain, char cTypeLetter,
             FilePlan *pPlan, char *pszWhy, int nWhySize) {
  pPlan->cPlainType = bPlain ? cTypeLetter : 0;
  FILE *pFile = openInputFile(pszPath);
  if (pFile == NULL) return refuse(pszWhy, nWhySize, "cannot be opened");
  if (bPlain) return planPlainFile(pFile, pszPath, cTypeLetter, pPlan, pszWhy, nWhySize);
  int bPlanned = planUpdateFile(pFile, pPlan, pszWhy, nWhySize);
  fclose(pFile);
  return bPlanned;
}

int planPages(const FilePlan *pPlan) {
  return pPlan->nIdataPages + pPlan->nEndPage - pPlan->nFirstPage;
}
