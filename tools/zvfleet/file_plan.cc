// SPDX-License-Identifier: Apache-2.0
// The page plan of an update (see file_plan.h).  A file is judged by the
// tool's own verdict and loaded into the image store as the tool loads
// it; the pages are those of the tool's upload plan.
#include "tools/zvfleet/file_plan.h"

#include <stdio.h>
#include <string.h>

#include "base/console.h"
#include "base/settings.h"
#include "image/hex_loader.h"
#include "image/image_store.h"
#include "image/update_file.h"
#include "net/upload_plan.h"

static bool refuse(char *pszWhy, int nWhySize, const char *pszReason) {
  snprintf(pszWhy, (size_t)nWhySize, "%s", pszReason);
  return false;
}

// The plan of what the image store holds, uploaded as the settings say;
// refused when the tool would send only part of it.
static bool planStore(FilePlan *pPlan, char *pszWhy, int nWhySize) {
  UploadSource source;
  uploadSourceFromStore(&source);
  if (imageHeaderMissing(&source))
    return refuse(pszWhy, nWhySize, "zvloader refuses it: too short for its image header");
  UploadPlan plan;
  planUpload(&source, &plan);
  const TransferPlan *pImage = &plan.aTransfers[plan.nTransfers - 1];
  if (!plan.bKnown || pImage->nCode == FILE_TYPE_MODEL_QUERY)
    return refuse(pszWhy, nWhySize, "not a main, logo or HTML update file");
  if (pImage->ulBeyond > 0) {
    snprintf(pszWhy, (size_t)nWhySize,
             "%u byte%s longer than the %u pages that its upload sends: the rest would never "
             "reach the device", pImage->ulBeyond, pImage->ulBeyond == 1 ? "" : "s",
             pImage->ulPages);
    return false;
  }
  pPlan->nIdataPages = plan.nTransfers > 1 ? (int)plan.aTransfers[0].ulPages : 0;
  pPlan->nFirstPage = pImage->wFirstPage;
  pPlan->nEndPage = pImage->wEndPage;
  pPlan->ulRequests = plan.ulRequests;
  pPlan->ulWireBytes = plan.ulWireBytes;
  return true;
}

// An update file, or a plain logo or HTML file: read as the tool's reader
// reads it, judged by its verdict, with the verdict's own text when it
// refuses the file.
static bool planFileBytes(const char *pszPath, bool bEncrypted, uint8_t bType, FilePlan *pPlan,
                          char *pszWhy, int nWhySize) {
  UpdateFileVerdict verdict;
  int nRead = judgeUpdateFileAt(pszPath, bEncrypted, bType, &verdict);
  if (nRead <= 0)
    return refuse(pszWhy, nWhySize, nRead == 0 ? "cannot be opened" : "cannot be read");
  if (verdict.nRefusal == UPDATE_FILE_EMPTY) return refuse(pszWhy, nWhySize, "holds nothing to send");
  if (verdict.nRefusal != UPDATE_FILE_ACCEPTED) {
    char szText[FLEET_TEXT_SIZE + 96];
    int n = updateFileRefusalText(&verdict, pszPath, szText, sizeof(szText));
    if (n > 0 && szText[n - 1] == '\n') szText[n - 1] = '\0';
    snprintf(pszWhy, (size_t)nWhySize, "zvloader refuses it: %s%s", szText,
             bEncrypted && verdict.nRefusal == UPDATE_FILE_WRONG_MAGIC
                 ? " (a plain file needs -NE -T)" : "");
    return false;
  }
  g_bEncrypted = bEncrypted;
  g_bFileType = bType;  // an update file's header replaces it
  loadUpdateFileVerdict(&verdict);
  return planStore(pPlan, pszWhy, nWhySize);
}

bool planFile(const char *pszPath, bool bPlain, char cTypeLetter,
              FilePlan *pPlan, char *pszWhy, int nWhySize) {
  pPlan->cPlainType = bPlain ? cTypeLetter : 0;
  if (!bPlain) return planFileBytes(pszPath, true, 0, pPlan, pszWhy, nWhySize);
  uint8_t bType = fileTypeOfLetter(cTypeLetter);
  if (bType != FILE_TYPE_MAIN)
    return planFileBytes(pszPath, false, bType, pPlan, pszWhy, nWhySize);
  // A HEX firmware: its extent is what the tool's loader makes of it.
  if (!readHexFile(pszPath)) {
    consoleWrite("\n", 1);  // its message has no line end
    return refuse(pszWhy, nWhySize, "the tool's HEX loader refuses it (above)");
  }
  if (!prepareMainImage(pszPath))
    return refuse(pszWhy, nWhySize, "the tool's HEX loader refuses it (above)");
  g_bEncrypted = 0;
  g_bFileType = FILE_TYPE_MAIN;
  g_bModel = MAIN_MODEL_LOWEST;
  return planStore(pPlan, pszWhy, nWhySize);
}

int planPages(const FilePlan *pPlan) {
  return pPlan->nIdataPages + pPlan->nEndPage - pPlan->nFirstPage;
}

int earlierSameFile(int nDevice) {
  const FleetDevice *pDev = &g_aDevices[nDevice];
  for (int i = 0; i < nDevice; i++)
    if (strcmp(g_aDevices[i].szPath, pDev->szPath) == 0 &&
        g_aDevices[i].plan.cPlainType == pDev->plan.cPlainType)
      return i;
  return -1;
}
