// SPDX-License-Identifier: Apache-2.0
// What zvfleet's report page draws, as its writer (html_page.h) and its
// parts (html_parts.h) both take it: the devices of a site list with the
// report that holds each, and the reports left out with the reason.
#ifndef ZV_FLEET_HTML_ROWS_H
#define ZV_FLEET_HTML_ROWS_H

#include "tools/zvfleet/report_read.h"

// A report that the page leaves out, and why (--summary refused it).
struct PageLeftOut {
  const char *pszReport;
  const char *pszWhy;
};

// A device as the page draws it: its row, and the report that holds it.
struct PageRow {
  const ReportRow *pRow;
  const ReportHead *pHead;
  const char *pszReport;
};

// A site list as the page draws it: each device once (from the latest
// report that holds it); its reports, earliest first, the last being the
// one that a resume continues.
struct PageSite {
  const PageRow *aRows;
  int nRows;
  const ReportHead *const *apHeads;
  const char *const *apszReports;
  int nReports;
  const ReportHead *pLatest;
  const char *pszLatest;
  bool bSummary;  // of several reports: the table names each row's run
};

#endif
