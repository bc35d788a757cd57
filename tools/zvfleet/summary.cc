// SPDX-License-Identifier: Apache-2.0
// One results table over several reports (see summary.h).  Texts are
// shown as the reports write them: JSON escapes stay escapes, so that no
// device's bytes reach the terminal raw.
#include "tools/zvfleet/summary.h"

#include <stdio.h>
#include <string.h>

#include "app/console.h"
#include "image/input_file.h"
#include "tools/common/cli.h"
#include "tools/zvfleet/fleet.h"
#include "tools/zvfleet/results.h"
#include "tools/zvfleet/resume.h"

#define SUMMARY_LINE_SIZE 4096
#define SUMMARY_TEXT_SIZE 400

struct ReportTotals {
  int nDevices, nUpdated, nNotBack;  // nNotBack: updated, not back online
};

// "" or "; N not back online", for the totals.
static void notBackText(const ReportTotals *pTotals, char *pszText, int nSize) {
  pszText[0] = '\0';
  if (pTotals->nNotBack > 0) snprintf(pszText, (size_t)nSize, "; %d not back online", pTotals->nNotBack);
}

// Prints the rows of one report.  Returns 1, or 0 after a message.
static int summariseReport(const char *pszReport, ReportTotals *pTotals) {
  FILE *pFile = openInputFile(pszReport);
  if (pFile == NULL) {
    errorPrintf("zvfleet: cannot open the report %s\n", pszReport);
    return 0;
  }
  static char s_szLine[SUMMARY_LINE_SIZE];
  char szList[SUMMARY_TEXT_SIZE] = "?";
  int nLine = 0, bOk = 1;
  while (bOk && fgets(s_szLine, sizeof(s_szLine), pFile) != NULL) {
    nLine++;
    if (strncmp(s_szLine, "  \"site_list\": ", 15) == 0) {
      if (!reportField(s_szLine, "site_list", 1, szList, sizeof(szList))) strcpy(szList, "?");
      continue;
    }
    if (strncmp(s_szLine, "    {\"address\": ", 16) != 0) continue;
    char szAddress[FLEET_ADDRESS_SIZE], szFile[SUMMARY_TEXT_SIZE], szResult[SUMMARY_TEXT_SIZE],
        szAt[24] = "", szEarlier[8] = "", szOnline[16] = "";
    if (!reportField(s_szLine, "address", 0, szAddress, sizeof(szAddress)) ||
        !reportField(s_szLine, "file", 1, szFile, sizeof(szFile)) ||
        !reportField(s_szLine, "result", 1, szResult, sizeof(szResult))) {
      errorPrintf("zvfleet: %s line %d: not a device row of zvfleet's\n", pszReport, nLine);
      bOk = 0;
      break;
    }
    if (!reportField(s_szLine, "updated_at", 0, szAt, sizeof(szAt)) || strcmp(szAt, "null") == 0)
      szAt[0] = '\0';
    reportField(s_szLine, "earlier_run", 0, szEarlier, sizeof(szEarlier));
    int bUpdated = resultSaysUpdated(szResult);
    reportField(s_szLine, "online", 1, szOnline, sizeof(szOnline));
    pTotals->nDevices++;
    pTotals->nUpdated += bUpdated;
    pTotals->nNotBack += bUpdated && onlineFieldNotBack(szOnline);
    consolePrintf("%-20s  %-15s  %-20s  %s%s%s%s\n", pszReport, szAddress, szFile, szResult,
                  szAt[0] != '\0' ? " " : "", szAt,
                  strcmp(szEarlier, "true") == 0 ? " (an earlier run)" : "");
  }
  if (bOk && ferror(pFile)) {
    errorPrintf("zvfleet: cannot read the report %s\n", pszReport);
    bOk = 0;
  }
  fclose(pFile);
  if (bOk && pTotals->nDevices == 0) {
    errorPrintf("zvfleet: %s is not a JSON report of zvfleet's (no device in it)\n", pszReport);
    bOk = 0;
  }
  if (bOk) {
    char szNotBack[48];
    notBackText(pTotals, szNotBack, sizeof(szNotBack));
    consolePrintf("%-20s  site list %s: %d device%s, %d updated, %d not updated%s\n", pszReport,
                  szList, pTotals->nDevices, pTotals->nDevices == 1 ? "" : "s",
                  pTotals->nUpdated, pTotals->nDevices - pTotals->nUpdated, szNotBack);
  }
  return bOk;
}

int printSummary(int nReports, char **apszReports) {
  if (nReports == 0) {
    errorPrintf("zvfleet: --summary takes one or more JSON reports\n");
    return 2;
  }
  consolePrintf("%-20s  %-15s  %-20s  %s\n", "report", "address", "file", "result");
  ReportTotals all = {0, 0, 0};
  int bRead = 1;
  for (int i = 0; i < nReports; i++) {
    ReportTotals one = {0, 0, 0};
    if (!summariseReport(apszReports[i], &one)) bRead = 0;
    all.nDevices += one.nDevices;
    all.nUpdated += one.nUpdated;
    all.nNotBack += one.nNotBack;
  }
  char szNotBack[48];
  notBackText(&all, szNotBack, sizeof(szNotBack));
  consolePrintf("Summary: %d report%s, %d device%s, %d updated, %d not updated%s\n", nReports,
                nReports == 1 ? "" : "s", all.nDevices, all.nDevices == 1 ? "" : "s",
                all.nUpdated, all.nDevices - all.nUpdated, szNotBack);
  if (!bRead) return 2;
  if (all.nUpdated != all.nDevices) return 1;
  return all.nNotBack == 0 ? 0 : FLEET_EXIT_NOT_BACK_ONLINE;
}
