// SPDX-License-Identifier: Apache-2.0
// The upload's report (see plan_report.h).  The plan is the tool's, made
// from the file as zvloader would load it: a main image fills pages from 0
// up to what its payload holds, after the model query and the idata
// block; a logo or HTML image its fixed range whatever its length.
#include "tools/zvinspect/plan_report.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "image/file_type.h"
#include "image/image_store.h"
#include "net/upload_plan.h"
#include "tools/zvinspect/report.h"

static void reportWire(const UploadPlan *pPlan, const char *pszWhat) {
  reportFact(FACT_INFO, "requests",
             "%u (%s): %u bytes sent and %u replies of %u bytes, when none is lost",
             pPlan->ulRequests, pszWhat, pPlan->ulWireBytes, pPlan->ulRequests, REPLY_SIZE);
  reportValue("requests", pPlan->ulRequests);
  reportValue("bytes", pPlan->ulWireBytes);
}

static void reportMain(const UploadPlan *pPlan) {
  const TransferPlan *pIdata = &pPlan->aTransfers[0], *pImage = &pPlan->aTransfers[1];
  uint32_t ulPages = pImage->ulPages;
  reportFact(FACT_INFO, "pages", "image 0-%u (%u), idata %u-%u (%u), old idata cleared at %u",
             ulPages - 1, ulPages, pIdata->wFirstPage, pIdata->wEndPage - 1, pIdata->ulPages,
             IDATA_CLEAR_PAGE);
  reportValue("image", ulPages);
  reportValue("idata", pIdata->ulPages);
  char szWhat[160];
  snprintf(szWhat, sizeof(szWhat), "model query, %u idata, commit, %u image, clearing, commit",
           pIdata->ulDataRequests, pImage->ulDataRequests);
  reportWire(pPlan, szWhat);
}

// Logo and HTML: a fixed range, sent whole.
static void reportFixed(const UpdateView *pView, const UploadPlan *pPlan) {
  const TransferPlan *pImage = &pPlan->aTransfers[0];
  uint32_t ulPages = pImage->ulPages, ulRoom = ulPages * PAGE_SIZE;
  uint32_t ulImage = std::min(pView->ulImageLength, pView->ulPayload - IMAGE_HEADER_SIZE);
  reportFact(FACT_INFO, "pages", "%u-%u (%u), the fixed range of every %s", pImage->wFirstPage,
             pImage->wEndPage - 1, ulPages,
             pView->bType == FILE_TYPE_LOGO ? "logo" : "HTML file");
  reportValue("first", pImage->wFirstPage);
  reportValue("pages", ulPages);
  uint32_t ulLeftOut = ulImage > ulRoom ? ulImage - ulRoom : 0;
  if (ulLeftOut > 0)
    reportFact(FACT_FINDING, "range",
               "the image is %u bytes, the %u pages hold %u: its last %u byte%s %s never sent",
               ulImage, ulPages, ulRoom, ulLeftOut, pluralS(ulLeftOut),
               ulLeftOut == 1 ? "is" : "are");
  else if (pView->ulBeyondSpan > 0 && pView->ulBeyondSpan <= ulRoom - ulImage)
    reportFact(FACT_OK, "range", "the image's %u byte%s fit; %u byte%s beyond its length "
               "follow, then %u bytes of zeros", ulImage, pluralS(ulImage), pView->ulBeyondSpan,
               pluralS(pView->ulBeyondSpan), ulRoom - ulImage - pView->ulBeyondSpan);
  else
    reportFact(FACT_OK, "range", "the image's %u byte%s fit, %u byte%s of zeros follow",
               ulImage, pluralS(ulImage), ulRoom - ulImage, pluralS(ulRoom - ulImage));
  char szWhat[80];
  snprintf(szWhat, sizeof(szWhat), "%u data, commit", pImage->ulDataRequests);
  reportWire(pPlan, szWhat);
}

// The upload of the file as the tool takes it: its payload from offset 0,
// the extent the reader gives it, its idata block (pbIdata).
static void planFile(const UpdateView *pView, const uint8_t *pbIdata, UploadPlan *pPlan) {
  UploadSource source;
  memset(&source, 0, sizeof(source));
  source.pbImage = pView->pbPayload;
  source.ulImageSize = pView->ulPayload;
  source.ulMax = pView->ulPayload;
  source.pbIdata = pbIdata;
  source.bEncrypted = true;
  source.bFirstBlockOnly = true;
  source.bType = pView->bType;
  source.bModel = pView->bModel;
  source.pszPassword = "";
  planUpload(&source, pPlan);
}

// A file of the model query's type is no update, but the tool uploads it:
// the model query, then the idata block, which the reader left zero since
// such a file has none, committed over the device's own.
static void reportModelQueryFile(const UpdateView *pView) {
  static const uint8_t abZeros[IDATA_SIZE] = {0};
  UploadPlan plan;
  planFile(pView, abZeros, &plan);
  if (!plan.bKnown || plan.nTransfers != 1) return;
  const TransferPlan *pIdata = &plan.aTransfers[0];
  reportFact(FACT_FINDING, "upload",
             "not an update, but zvloader uploads it: the model query, and on a "
             "device of model %u then %u requests of zeros to pages %u-%u (the idata "
             "block), committed: it wipes the device's idata", pView->bModel,
             pIdata->ulDataRequests, pIdata->wFirstPage, pIdata->wEndPage - 1);
  reportValue("requests", pIdata->ulDataRequests);
}

void reportUploadPlan(const UpdateView *pView) {
  if (pView->bType == FILE_TYPE_MODEL_QUERY && pView->verdict.nRefusal == UPDATE_FILE_ACCEPTED)
    return reportModelQueryFile(pView);
  if (!pView->bKnownType || !pView->bLayout) return;
  UploadPlan plan;
  planFile(pView, pView->pbIdata, &plan);
  if (pView->bType == FILE_TYPE_MAIN)
    reportMain(&plan);
  else
    reportFixed(pView, &plan);
}
