// SPDX-License-Identifier: Apache-2.0
// zvfleet's report page (--html): one self-contained HTML file drawn from
// JSON reports as they stand on disk, so that the page says exactly what
// the reports say and computes nothing of its own.  Per report: the run's
// identity and totals, a timeline as inline SVG (one bar per device,
// coloured by phase and named in words, with retries, waves, the canary,
// stops and an interruption marked and labelled), and the results table,
// sortable and filterable by its inline script, with each device's log
// embedded one click away.  No resource is loaded from outside the file;
// every text of a report or a log is escaped for HTML.
#ifndef ZV_FLEET_HTML_PAGE_H
#define ZV_FLEET_HTML_PAGE_H

// A report that the page leaves out, and why (--summary refused it).
struct PageLeftOut {
  const char *pszReport;
  const char *pszWhy;
};

// Writes the page at pszHtml from the JSON reports, read by zvfleet's one
// reader (report_read.h); a report that it refuses is not drawn but listed
// with the reports of aLeftOut as left out, with the reason.  Returns
// true, or false after a message (a report left out by the reader too).
bool writeReportsPage(const char *pszHtml, const char *const *apszReports, int nReports,
                      const PageLeftOut *aLeftOut, int nLeftOut);

// The run's own page: writeReportsPage with no report left out.
bool writeHtmlPage(const char *pszHtml, const char *const *apszReports, int nReports);

#endif
