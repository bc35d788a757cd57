// SPDX-License-Identifier: Apache-2.0
// The report page's results table (see html_parts.h): worst first, then by
// list line; each device's outcome in a word beside its colour, its next
// step, when it was updated and by which run, and its log one click away.
// The table scrolls sideways in its own box, so that the page never does.
// A log is embedded only when the report's reader finds it a regular file
// inside the report's run folder; it keeps its end when it is cut.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "tools/zvfleet/html_parts.h"

#define TABLE_ROWS_MAX 8192

// The device's log, its end kept within lBudget bytes, when the report's
// reader finds it a regular file of the run; else why it is not shown.
static void putLog(const PageRow *pPage, long lBudget) {
  const ReportRow *pRow = pPage->pRow;
  char szPath[FLEET_PATH_SIZE * 2], szWhy[80];
  FILE *pFile = NULL;
  if (pRow->szLogFile[0] == '\0')
    snprintf(szWhy, sizeof(szWhy), "the report names none");
  else if (reportNamedFile(pPage->pszReport, pPage->pHead, pRow->szLogFile, szPath, sizeof(szPath),
                           szWhy, sizeof(szWhy)) &&
           (pFile = fopen(szPath, "rb")) == NULL)
    snprintf(szWhy, sizeof(szWhy), "it cannot be opened");
  long lSize = pFile != NULL && fseek(pFile, 0, SEEK_END) == 0 ? ftell(pFile) : -1;
  long lFrom = lSize > lBudget ? lSize - lBudget : 0;
  // A log that cannot be read from where its end begins is not shown
  // from elsewhere.
  bool bReadable = pFile != NULL && lSize >= 0 && fseek(pFile, lFrom, SEEK_SET) == 0;
  if (pFile != NULL && !bReadable) snprintf(szWhy, sizeof(szWhy), "it cannot be read");
  if (!bReadable) {
    if (pFile != NULL) fclose(pFile);
    pagePut("(log not shown: ");
    pageText(szWhy);
    if (pRow->szLogFile[0] != '\0') {
      pagePut(": ");
      pageText(pRow->szLogFile);
    }
    pagePut(")");
    return;
  }
  if (lFrom > 0) {
    pagePrintf("(its last %ld of %ld bytes; the whole log: ", lBudget, lSize);
    pageText(szPath);
    pagePut(")\n");
  }
  char ab[4096];
  size_t n;
  for (long lLeft = lBudget; lLeft > 0 && (n = fread(ab, 1, sizeof(ab), pFile)) > 0;
       lLeft -= (long)n)
    pageEscaped(ab, std::min(n, (size_t)lLeft), true);
  fclose(pFile);
}

static const PageRow *s_aSorting;

static int compareRows(const void *a, const void *b) {
  const ReportRow *pA = s_aSorting[*(const int *)a].pRow, *pB = s_aSorting[*(const int *)b].pRow;
  int nA = rowOutcome(pA), nB = rowOutcome(pB);
  if (nA != nB) return nA - nB;
  if (pA->lLine != pB->lLine) return pA->lLine < pB->lLine ? -1 : 1;
  return *(const int *)a - *(const int *)b;
}

// When it was updated, and by which run when that is not the row's own.
static void putUpdated(const PageRow *pPage, bool bSummary) {
  const ReportRow *pRow = pPage->pRow;
  if (!pRow->bUpdated) return;
  pageText(pRow->szUpdatedAt);
  bool bEarlier = pRow->szUpdatedIn[0] != '\0' && strcmp(pRow->szUpdatedIn, pPage->pHead->szRunId) != 0;
  // A run by the start of its id, the whole of it in the tooltip.
  const char *pszRun = bEarlier ? pRow->szUpdatedIn : pPage->pHead->szRunId;
  if (!bEarlier && !bSummary) return;
  pagePut(bEarlier ? " by an earlier run, <span title=\"" : " by run <span title=\"");
  pageText(pszRun);
  pagePrintf("\">%.8s</span>", pszRun);
}

void putTable(const PageSite *pSite, int nId, long lLogBudget) {
  static int s_anOrder[TABLE_ROWS_MAX];
  int nRows = pSite->nRows < TABLE_ROWS_MAX ? pSite->nRows : TABLE_ROWS_MAX;
  bool bOnline = false;
  for (int i = 0; i < nRows; i++) {
    s_anOrder[i] = i;
    bOnline = bOnline || pSite->aRows[i].pRow->nOnline != ONLINE_NONE;
  }
  s_aSorting = pSite->aRows;
  qsort(s_anOrder, (size_t)nRows, sizeof(int), compareRows);
  pagePrintf("<h3>Results</h3>\n<p class=\"tools\"><label>Filter: <input type=\"search\" "
             "class=\"filter\" data-table=\"results-%d\"></label> <label><input type=\"checkbox\" "
             "class=\"attention\" data-table=\"results-%d\"> only the devices that need "
             "attention</label></p>\n<div class=\"scroller\"><table class=\"results\" "
             "id=\"results-%d\"><thead><tr>",
             nId, nId, nId);
  const char *apszColumns[] = {"address", "line", "outcome", "result", "next step", "left",
                               "updated", "file", "attempts",
                               "duration (s)", "online", "report"};
  int nColumns = pSite->bSummary ? 12 : bOnline ? 11 : 10;
  for (int i = 0; i < nColumns; i++) {
    if (i == 10 && !bOnline) continue;
    pagePrintf("<th><button type=\"button\" data-col=\"%d\"%s>%s</button></th>",
               i - (i > 10 && !bOnline), i == 1 || i == 8 || i == 9 ? " data-num=\"1\"" : "",
               apszColumns[i]);
  }
  pagePut("<th>log</th></tr></thead>\n<tbody>\n");
  for (int k = 0; k < nRows; k++) {
    const PageRow *pPage = &pSite->aRows[s_anOrder[k]];
    const ReportRow *pRow = pPage->pRow;
    char szStep[400];
    int nOutcome = rowOutcome(pRow);
    rowNextStep(pRow, pPage->pHead->bPreflight, false, szStep, sizeof(szStep));
    pagePrintf("<tr class=\"device\" data-outcome=\"%d\"><td>", nOutcome);
    pageText(pRow->szAddress);
    pagePrintf("</td><td>%ld</td><td>", pRow->lLine);
    putOutcomeMark(nOutcome, pPage->pHead->bPreflight);
    pagePut("</td><td>");
    pageText(pRow->szResult);
    pagePut("</td><td>");
    pageText(szStep);
    pagePut("</td><td>");
    pageText(pRow->szLeft);
    pagePut("</td><td>");
    putUpdated(pPage, pSite->bSummary);
    pagePut("</td><td>");
    pageText(pRow->szFile);
    pagePrintf("</td><td>%ld</td><td>%.1f</td>", pRow->lAttempts, pRow->ulRunMs / 1000.0);
    if (bOnline) {
      pagePut("<td>");
      pageText(onlineWord(pRow->nOnline));
      pagePut("</td>");
    }
    if (pSite->bSummary) {
      pagePut("<td>");
      pageText(pPage->pszReport);
      pagePut(" (run <span title=\"");
      pageText(pPage->pHead->szRunId);
      pagePrintf("\">%.8s</span>, ", pPage->pHead->szRunId);
      pageText(pPage->pHead->szStarted);
      pagePut(")</td>");
    }
    pagePut("<td><details><summary>log</summary><pre>");
    putLog(pPage, lLogBudget);
    pagePut("</pre></details></td></tr>\n");
  }
  pagePut("</tbody></table></div>\n");
}
