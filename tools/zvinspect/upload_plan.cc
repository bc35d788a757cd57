// SPDX-License-Identifier: Apache-2.0
// The upload plan (see upload_plan.h).  An update file is sent as stored:
// the first data request carries the image header before its four pages;
// a main image fills pages from 0 up to what its payload holds, a logo or
// HTML image its fixed range whatever its length.
#include "tools/zvinspect/upload_plan.h"

#include <stdio.h>

#include "app/settings.h"
#include "image/image_store.h"
#include "image/upload_layout.h"
#include "tools/zvinspect/report.h"

#define DATA_REQUEST_SIZE (PACKET_HEADER_SIZE + PACKET_PAGE_BYTES)

struct Plan {
  uint32_t ulRequests;
  uint32_t ulBytes;
};

// The data requests of nPages pages; bHeader: the first also carries the
// image header.
static uint32_t dataRequests(uint32_t ulPages, int bHeader, Plan *pPlan) {
  uint32_t ulRequests = (ulPages + PAGES_PER_PACKET - 1) / PAGES_PER_PACKET;
  pPlan->ulRequests += ulRequests;
  pPlan->ulBytes += ulRequests * DATA_REQUEST_SIZE;
  if (bHeader && ulRequests > 0) pPlan->ulBytes += IMAGE_HEADER_SIZE;
  return ulRequests;
}

static void addRequest(uint32_t ulBytes, Plan *pPlan) {
  pPlan->ulRequests++;
  pPlan->ulBytes += ulBytes;
}

static void reportWire(const Plan *pPlan, const char *pszWhat) {
  reportFact(FACT_INFO, "requests",
             "%u (%s): %u bytes sent and %u replies of %u bytes, when none is lost",
             pPlan->ulRequests, pszWhat, pPlan->ulBytes, pPlan->ulRequests, REPLY_SIZE);
  reportValue("requests", pPlan->ulRequests);
  reportValue("bytes", pPlan->ulBytes);
}

static void reportMain(const UpdateView *pView) {
  uint32_t ulLength = pView->ulPayload - IMAGE_HEADER_SIZE;
  uint32_t ulPages = (ulLength + PAGE_SIZE - 1) / PAGE_SIZE;
  Plan plan = {0, 0};
  addRequest(PACKET_HEADER_SIZE, &plan);  // model query
  uint32_t ulIdata = dataRequests(IDATA_END_PAGE - IDATA_FIRST_PAGE, 0, &plan);
  addRequest(COMMIT_SIZE, &plan);
  uint32_t ulImage = dataRequests(ulPages, 1, &plan);
  addRequest(IDATA_CLEAR_SIZE, &plan);
  addRequest(COMMIT_SIZE, &plan);
  reportFact(FACT_INFO, "pages",
             "image 0-%u (%u), idata %u-%u (%u), old idata cleared at %u",
             ulPages - 1, ulPages, IDATA_FIRST_PAGE, IDATA_END_PAGE - 1,
             IDATA_END_PAGE - IDATA_FIRST_PAGE, IDATA_CLEAR_PAGE);
  reportValue("image", ulPages);
  reportValue("idata", IDATA_END_PAGE - IDATA_FIRST_PAGE);
  char szWhat[160];
  snprintf(szWhat, sizeof(szWhat),
           "model query, %u idata, commit, %u image, clearing, commit", ulIdata,
           ulImage);
  reportWire(&plan, szWhat);
}

// Logo and HTML: a fixed range, sent whole.
static void reportFixed(const UpdateView *pView, uint32_t ulFirst, uint32_t ulEnd) {
  uint32_t ulPages = ulEnd - ulFirst, ulRoom = ulPages * PAGE_SIZE;
  uint32_t ulImage = pView->ulImageLength;
  if (ulImage > pView->ulPayload - IMAGE_HEADER_SIZE)
    ulImage = pView->ulPayload - IMAGE_HEADER_SIZE;
  reportFact(FACT_INFO, "pages", "%u-%u (%u), the fixed range of every %s", ulFirst,
             ulEnd - 1, ulPages,
             pView->bType == FILE_TYPE_LOGO ? "logo" : "HTML file");
  reportValue("first", ulFirst);
  reportValue("pages", ulPages);
  if (ulImage > ulRoom)
    reportFact(FACT_FINDING, "range",
               "the image is %u bytes, the %u pages hold %u: its last %u bytes "
               "are never sent", ulImage, ulPages, ulRoom, ulImage - ulRoom);
  else
    reportFact(FACT_OK, "range", "the image's %u bytes fit, %u bytes of zeros follow",
               ulImage, ulRoom - ulImage);
  Plan plan = {0, 0};
  uint32_t ulData = dataRequests(ulPages, 1, &plan);
  addRequest(COMMIT_SIZE, &plan);
  char szWhat[80];
  snprintf(szWhat, sizeof(szWhat), "%u data, commit", ulData);
  reportWire(&plan, szWhat);
}

void reportUploadPlan(const UpdateView *pView) {
  if (!pView->bKnownType || !pView->bLayout) return;
  if (pView->bType == FILE_TYPE_MAIN)
    reportMain(pView);
  else if (pView->bType == FILE_TYPE_LOGO)
    reportFixed(pView, LOGO_FIRST_PAGE, LOGO_END_PAGE);
  else
    reportFixed(pView, HTML_FIRST_PAGE, HTML_END_PAGE);
}
