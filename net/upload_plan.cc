// SPDX-License-Identifier: Apache-2.0
// The upload plan (see upload_plan.h).  A transfer code decides the pages,
// where their data comes from, whether the image header leads them, the
// model query before and the old idata clearing after them, and the
// commit code; the settings decide the flags and the password.
#include "net/upload_plan.h"

#include <string.h>

#include <algorithm>

#include "base/console.h"
#include "base/settings.h"
#include "image/crc16.h"
#include "image/image_store.h"

namespace {

struct CodeRule {
  int nCode;
  uint16_t wFirstPage, wEndPage;  // an end of 0: as many as the main image fills
  int bFromIdata;
  int bImageHeader;  // led by the image header when the file is enciphered
  int bModelQuery;
  int bClearsOldIdata;
  uint8_t bCommitCode;
};

const CodeRule s_aRules[] = {
    {FILE_TYPE_MAIN, 0, 0, 0, 1, 0, 1, COMMIT_MAIN},
    {FILE_TYPE_LOGO, LOGO_FIRST_PAGE, LOGO_END_PAGE, 0, 1, 0, 0, COMMIT_LOGO_IDATA},
    {FILE_TYPE_HTML, HTML_FIRST_PAGE, HTML_END_PAGE, 0, 1, 0, 0, COMMIT_HTML},
    {FILE_TYPE_MODEL_QUERY, IDATA_FIRST_PAGE, IDATA_END_PAGE, 1, 0, 1, 0, COMMIT_LOGO_IDATA},
};

}  // namespace

void uploadSourceFromStore(UploadSource *pSource) {
  pSource->pbImage = g_abImage;
  pSource->ulImageSize = IMAGE_SIZE;
  pSource->ulMax = nMaxHexAddress;
  pSource->pbIdata = g_abIdata;
  pSource->bEncrypted = g_bEncrypted;
  pSource->bFirstBlockOnly = g_bFirstBlockOnly;
  pSource->bType = g_bFileType;
  pSource->bModel = g_bModel;
  pSource->pszPassword = g_szPassword;
}

bool planTransfer(const UploadSource *pSource, int nCode, TransferPlan *pPlan) {
  const CodeRule *pRule = NULL;
  for (const CodeRule &rule : s_aRules)
    if (rule.nCode == nCode) pRule = &rule;
  memset(pPlan, 0, sizeof(*pPlan));
  pPlan->nCode = nCode;
  if (pRule == NULL) return false;
  pPlan->bKnown = true;

  pPlan->bModelQuery = pRule->bModelQuery;
  pPlan->bModel = pSource->bModel;
  formatText(pPlan->szPassword, sizeof(pPlan->szPassword), "%s", pSource->pszPassword);
  pPlan->bClearsOldIdata = pRule->bClearsOldIdata;
  pPlan->bCommitCode = pRule->bCommitCode;
  pPlan->bAnnounces = !pRule->bModelQuery;

  // An update file's payload leads with the image header; a plain input
  // and the idata block have none.
  pPlan->ulHeaderBytes = pSource->bEncrypted && pRule->bImageHeader ? IMAGE_HEADER_SIZE : 0;
  pPlan->pbSource = pRule->bFromIdata ? pSource->pbIdata : pSource->pbImage;
  pPlan->ulSourceSize = pRule->bFromIdata ? IDATA_SIZE : pSource->ulImageSize;
  // The image's bytes behind its header (none when it is shorter).
  uint32_t ulImage = std::max(pSource->ulMax, pPlan->ulHeaderBytes) - pPlan->ulHeaderBytes;
  pPlan->wFirstPage = pRule->wFirstPage;
  pPlan->wEndPage = pRule->wEndPage;
  if (pPlan->wEndPage == 0)  // the main image: its length in whole pages
    pPlan->wEndPage = (uint16_t)(ulImage / PAGE_SIZE + (ulImage % PAGE_SIZE != 0));
  uint32_t ulPages = (uint32_t)(std::max(pPlan->wEndPage, pPlan->wFirstPage) - pPlan->wFirstPage);
  pPlan->ulPages = ulPages;
  if (!pRule->bFromIdata)  // what fixed pages leave out; a main image's pages hold it all
    pPlan->ulBeyond = std::max(ulImage, ulPages * PAGE_SIZE) - ulPages * PAGE_SIZE;

  // An enciphered transfer marks its first packet, and every packet when
  // the whole payload is enciphered (-EA); the clearing repeats the flags
  // of the last page packet (of the first while none is sent), and the
  // commit of an enciphered transfer is marked so.
  pPlan->bFirstFlags = pPlan->ulHeaderBytes != 0 ? FLAG_FIRST_PACKET | FLAG_ENCRYPTED : 0;
  pPlan->bLaterFlags =
      pSource->bFirstBlockOnly ? 0 : (uint8_t)(pPlan->bFirstFlags & FLAG_ENCRYPTED);
  pPlan->bClearFlags = ulPages > 0 ? pPlan->bLaterFlags : pPlan->bFirstFlags;
  pPlan->bCommitFlags = pPlan->ulHeaderBytes != 0 ? FLAG_ENCRYPTED : pPlan->bClearFlags;

  pPlan->ulDataRequests = (ulPages + PAGES_PER_PACKET - 1) / PAGES_PER_PACKET;
  pPlan->ulRequests = pPlan->ulDataRequests + 1;
  pPlan->ulWireBytes = pPlan->ulDataRequests * DATA_REQUEST_SIZE +
                       (pPlan->ulDataRequests > 0 ? pPlan->ulHeaderBytes : 0) + COMMIT_SIZE;
  if (pPlan->bModelQuery) {
    pPlan->ulRequests++;
    pPlan->ulWireBytes += PACKET_HEADER_SIZE;
  }
  if (pPlan->bClearsOldIdata) {
    pPlan->ulRequests++;
    pPlan->ulWireBytes += IDATA_CLEAR_SIZE;
  }
  return true;
}

uint16_t transferCommitCrc(const TransferPlan *pPlan) {
  uint32_t ulCrcLength = std::min(pPlan->ulPages * PAGE_SIZE, pPlan->ulSourceSize);
  return calcCrc16(pPlan->pbSource, ulCrcLength);
}

void planUpload(const UploadSource *pSource, UploadPlan *pPlan) {
  memset(pPlan, 0, sizeof(*pPlan));
  pPlan->bKnown = true;
  int anCodes[MAX_TRANSFERS] = {pSource->bType};
  int nCodes = 1;
  if (pSource->bType == FILE_TYPE_MAIN) {
    anCodes[0] = FILE_TYPE_MODEL_QUERY;
    anCodes[1] = FILE_TYPE_MAIN;
    nCodes = 2;
  }
  for (int i = 0; i < nCodes; i++) {
    TransferPlan *pTransfer = &pPlan->aTransfers[pPlan->nTransfers++];
    if (!planTransfer(pSource, anCodes[i], pTransfer)) {
      pPlan->bKnown = false;
      break;
    }
    pPlan->ulPages += pTransfer->ulPages;
    pPlan->ulRequests += pTransfer->ulRequests;
    pPlan->ulWireBytes += pTransfer->ulWireBytes;
  }
}

int imageHeaderMissing(const UploadSource *pSource) {
  return pSource->bEncrypted && pSource->bType == FILE_TYPE_MAIN &&
         pSource->ulMax < IMAGE_HEADER_SIZE;
}
