// SPDX-License-Identifier: Apache-2.0
// One results table over several reports (see summary.h).  The reports'
// texts are shown with control characters as "?", so that no device's
// bytes reach the terminal raw.
#include "tools/zvfleet/summary.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "base/console.h"
#include "tools/common/cli.h"
#include "tools/common/fixed_text.h"
#include "tools/common/output_path.h"
#include "tools/zvfleet/fleet.h"
#include "tools/zvfleet/html_page.h"
#include "tools/zvfleet/report_read.h"
#include "tools/zvfleet/journal.h"

#define SUMMARY_MAX_REPORTS 256
#define SUMMARY_MAX_ROWS 8192  // of all the reports together

struct SummaryReport {
  const char *pszPath;
  ReportHead head;
  int nFirstRow;
  int nSite;   // the first report of its site list, by index
  bool bSkip;  // unreadable, or the same run as an earlier one
  char szWhy[320];  // why it was skipped
};

static SummaryReport s_aReports[SUMMARY_MAX_REPORTS];
static ReportRow s_aRows[SUMMARY_MAX_ROWS];

// The sites as the page draws them: each device once, from its latest report.
static PageRow s_aPageRows[SUMMARY_MAX_ROWS];
static PageSite s_aSites[SUMMARY_MAX_REPORTS];
static const ReportHead *s_apSiteHeads[SUMMARY_MAX_REPORTS];
static const char *s_apszSiteReports[SUMMARY_MAX_REPORTS];
static int s_nPageRows, s_nSites, s_nSiteReports;

struct SummaryTotals {
  int nDevices, nUpdated, nNotBack, nNotConfirmed;
};

// The text with control characters (C0, DEL, C1 in UTF-8) as "?".
static void safeText(const char *pszText, char *pszOut, int nSize) {
  int n = 0;
  for (const unsigned char *p = (const unsigned char *)pszText; *p != '\0' && n < nSize - 1; p++) {
    if (p[0] == 0xC2 && p[1] >= 0x80 && p[1] <= 0x9F) {
      pszOut[n++] = '?';
      p++;
    } else {
      pszOut[n++] = *p < 0x20 || *p == 0x7F ? '?' : (char)*p;
    }
  }
  pszOut[n] = '\0';
}

static int siteOf(int i) {
  while (s_aReports[i].nSite != i) i = s_aReports[i].nSite;
  return i;
}

// The later of the two sites joins the earlier one.
static void joinSites(int i, int j) {
  int a = siteOf(i), b = siteOf(j);
  s_aReports[std::max(a, b)].nSite = std::min(a, b);
}

// When report i ran, for ordering: its start, or the latest start of the
// runs it resumed when that is later (clocks of other workstations), and
// how many of those stand before it.
static const char *runTime(int i, int nReports, int *pnDepth) {
  const char *pszTime = s_aReports[i].head.szStarted;
  *pnDepth = 0;
  for (int k = 0; k < nReports && s_aReports[i].head.szResumedFrom[0] != '\0'; k++) {
    int j = 0;
    while (j < nReports && (s_aReports[j].bSkip || strcmp(s_aReports[j].head.szRunId,
                                                         s_aReports[i].head.szResumedFrom) != 0))
      j++;
    if (j == nReports) break;
    if (strcmp(s_aReports[j].head.szStarted, pszTime) > 0) pszTime = s_aReports[j].head.szStarted;
    ++*pnDepth;
    i = j;
  }
  return pszTime;
}

// Whether report a ran after report b: a run after the runs it resumed,
// else by their starts, else in the order given.
static bool later(int a, int b, int nReports) {
  int nDepthA, nDepthB;
  int n = strcmp(runTime(a, nReports, &nDepthA), runTime(b, nReports, &nDepthB));
  if (n != 0) return n > 0;
  return nDepthA != nDepthB ? nDepthA > nDepthB : a > b;
}

static void printRow(const SummaryReport *pReport, const ReportRow *pRow) {
  char szReport[REPORT_TEXT_SIZE], szFile[REPORT_TEXT_SIZE], szResult[2 * REPORT_TEXT_SIZE];
  safeText(pReport->pszPath, szReport, sizeof(szReport));
  safeText(pRow->szFile, szFile, sizeof(szFile));
  safeText(pRow->szResult, szResult, sizeof(szResult));
  if (pRow->szLeft[0] != '\0') {  // what the device needs next
    char szLeft[REPORT_TEXT_SIZE];
    safeText(pRow->szLeft, szLeft, sizeof(szLeft));
    textAppend(szResult, sizeof(szResult), "; %s", szLeft);
  }
  char szAt[64] = "";
  if (pRow->bUpdated && pRow->szUpdatedAt[0] != '\0') {
    safeText(pRow->szUpdatedAt, szAt + 1, sizeof(szAt) - 1);
    szAt[0] = ' ';
  }
  bool bEarlier = pRow->bUpdated && pRow->szUpdatedIn[0] != '\0' &&
                  strcmp(pRow->szUpdatedIn, pReport->head.szRunId) != 0;
  consolePrintf("%-20s  %-15s  %-20s  %s%s%s\n", szReport, pRow->szAddress, szFile, szResult, szAt,
                bEarlier ? " (an earlier run)" : "");
}

static void totalsText(const SummaryTotals *pTotals, char *pszText, int nSize) {
  snprintf(pszText, (size_t)nSize, "%d device%s, %d updated, %d not updated", pTotals->nDevices,
           pTotals->nDevices == 1 ? "" : "s", pTotals->nUpdated,
           pTotals->nDevices - pTotals->nUpdated);
  if (pTotals->nNotBack > 0) textAppend(pszText, nSize, "; %d not back online", pTotals->nNotBack);
  if (pTotals->nNotConfirmed > 0)
    textAppend(pszText, nSize, "; %d not confirmed back online", pTotals->nNotConfirmed);
}

// Prints the latest row of each device of the site whose first report is
// nSite, and adds its totals.
static void summariseSite(int nSite, int nReports, SummaryTotals *pAll) {
  SummaryTotals site = {0, 0, 0, 0};
  int anOrder[SUMMARY_MAX_REPORTS], nOrder = 0;
  for (int i = 0; i < nReports; i++) {
    if (s_aReports[i].bSkip || siteOf(i) != nSite) continue;
    int j = nOrder++;
    for (; j > 0 && later(anOrder[j - 1], i, nReports); j--) anOrder[j] = anOrder[j - 1];
    anOrder[j] = i;
  }
  PageSite *pSite = &s_aSites[s_nSites++];
  const SummaryReport *pLast = &s_aReports[anOrder[nOrder - 1]];
  *pSite = {s_aPageRows + s_nPageRows, 0, s_apSiteHeads + s_nSiteReports,
            s_apszSiteReports + s_nSiteReports, nOrder, &pLast->head, pLast->pszPath, true};
  for (int k = 0; k < nOrder; k++, s_nSiteReports++) {
    s_apSiteHeads[s_nSiteReports] = &s_aReports[anOrder[k]].head;
    s_apszSiteReports[s_nSiteReports] = s_aReports[anOrder[k]].pszPath;
  }
  // The latest report first; a device shown once, from the latest report
  // that holds it.
  for (int k = nOrder - 1; k >= 0; k--) {
    const SummaryReport *pReport = &s_aReports[anOrder[k]];
    for (int r = 0; r < pReport->head.nRows; r++) {
      const ReportRow *pRow = &s_aRows[pReport->nFirstRow + r];
      bool bShown = false;
      for (int l = nOrder - 1; l > k && !bShown; l--) {
        const SummaryReport *pLater = &s_aReports[anOrder[l]];
        for (int q = 0; q < pLater->head.nRows && !bShown; q++)
          bShown = strcmp(s_aRows[pLater->nFirstRow + q].szAddress, pRow->szAddress) == 0;
      }
      if (bShown) continue;
      printRow(pReport, pRow);
      s_aPageRows[s_nPageRows++] = {pRow, &pReport->head, pReport->pszPath};
      pSite->nRows++;
      site.nDevices++;
      countRow(pRow, &site.nUpdated, &site.nNotBack, &site.nNotConfirmed);
    }
  }
  const SummaryReport *pLatest = &s_aReports[anOrder[nOrder - 1]];
  char szList[REPORT_TEXT_SIZE], szTotals[160];
  safeText(pLatest->head.szList, szList, sizeof(szList));
  totalsText(&site, szTotals, sizeof(szTotals));
  consolePrintf("site list %s (%d report%s, the latest %s of %s%s): %s\n", szList, nOrder,
                nOrder == 1 ? "" : "s", pLatest->pszPath, pLatest->head.szStarted,
                pLatest->head.bEnded ? "" : ", a run that did not end", szTotals);
  pAll->nDevices += site.nDevices;
  pAll->nUpdated += site.nUpdated;
  pAll->nNotBack += site.nNotBack;
  pAll->nNotConfirmed += site.nNotConfirmed;
}

int printSummary(int nReports, char **apszReports) {
  if (nReports == 0) {
    errorPrintf("zvfleet: --summary takes one or more JSON reports\n");
    return 2;
  }
  if (nReports > SUMMARY_MAX_REPORTS) {
    errorPrintf("zvfleet: --summary takes at most %d reports\n", SUMMARY_MAX_REPORTS);
    return 2;
  }
  s_nPageRows = s_nSites = s_nSiteReports = 0;
  bool bRead = true;
  int nRows = 0;
  for (int i = 0; i < nReports; i++) {
    SummaryReport *pReport = &s_aReports[i];
    memset(pReport, 0, sizeof(*pReport));
    pReport->pszPath = apszReports[i];
    pReport->nSite = i;
    pReport->nFirstRow = nRows;
    char *pszWhy = pReport->szWhy, szPath[REPORT_TEXT_SIZE];
    safeText(apszReports[i], szPath, sizeof(szPath));
    if (!readRunRecord(apszReports[i], &pReport->head, s_aRows + nRows, SUMMARY_MAX_ROWS - nRows,
                       pszWhy, sizeof(pReport->szWhy))) {
      errorPrintf("zvfleet: %s %s: not counted\n", szPath, pszWhy);
      pReport->bSkip = true;
      bRead = false;
      continue;
    }
    for (int j = 0; j < i && !pReport->bSkip; j++)
      if (!s_aReports[j].bSkip && strcmp(s_aReports[j].head.szRunId, pReport->head.szRunId) == 0) {
        char szOther[REPORT_TEXT_SIZE];
        safeText(apszReports[j], szOther, sizeof(szOther));
        consolePrintf("zvfleet: %s is the run of %s again: counted once\n", szPath, szOther);
        snprintf(pszWhy, sizeof(pReport->szWhy), "the run of %.280s again", szOther);
        pReport->bSkip = true;
      }
    if (pReport->bSkip) continue;
    nRows += pReport->head.nRows;
    // Reports of one site list: the same list, or a run and its resume.
    for (int j = 0; j < i; j++) {
      const SummaryReport *pOther = &s_aReports[j];
      if (pOther->bSkip) continue;
      if (strcmp(pOther->head.szListSha256, pReport->head.szListSha256) == 0 ||
          strcmp(pOther->head.szRunId, pReport->head.szResumedFrom) == 0 ||
          strcmp(pOther->head.szResumedFrom, pReport->head.szRunId) == 0)
        joinSites(i, j);
    }
  }
  consolePrintf("%-20s  %-15s  %-20s  %s\n", "report", "address", "file", "result");
  SummaryTotals all = {0, 0, 0, 0};
  int nSites = 0, nCounted = 0;
  for (int i = 0; i < nReports; i++) {
    if (s_aReports[i].bSkip) continue;
    nCounted++;
    if (siteOf(i) != i) continue;
    nSites++;
    summariseSite(i, nReports, &all);
  }
  char szTotals[160];
  totalsText(&all, szTotals, sizeof(szTotals));
  consolePrintf("Summary: %d report%s, %d site list%s: %s\n", nCounted, nCounted == 1 ? "" : "s",
                nSites, nSites == 1 ? "" : "s", szTotals);
  if (!bRead) return 2;
  if (all.nUpdated != all.nDevices) return 1;
  return all.nNotBack + all.nNotConfirmed == 0 ? 0 : FLEET_EXIT_NOT_BACK_ONLINE;
}

int printSummaryPage(const char *pszHtml, int nReports, char **apszReports) {
  // The page is checked against the reports before anything is read.
  outputRuleReset();
  for (int i = 0; i < nReports; i++) outputRuleReads(apszReports[i], "a report summarised");
  const char *pszWhy = outputRuleCheck(pszHtml, "--html");
  if (pszWhy != NULL) {
    errorPrintf("zvfleet: --html %s: %s; nothing was written\n", pszHtml, pszWhy);
    return 2;
  }
  int nStatus = printSummary(nReports, apszReports);
  if (nReports == 0 || nReports > SUMMARY_MAX_REPORTS) return nStatus;
  // The page draws what the summary counted, and names what it left out.
  static PageLeftOut s_aLeftOut[SUMMARY_MAX_REPORTS];
  int nLeftOut = 0;
  for (int i = 0; i < nReports; i++)
    if (s_aReports[i].bSkip) s_aLeftOut[nLeftOut++] = {apszReports[i], s_aReports[i].szWhy};
  if (!writeSummaryPage(pszHtml, s_aSites, s_nSites, s_aLeftOut, nLeftOut)) return 2;
  return nStatus;
}
