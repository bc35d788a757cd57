// SPDX-License-Identifier: Apache-2.0
// zvfleet's report page (--html): one self-contained HTML file drawn from
// JSON reports as zvfleet's one reader (report_read.h) gives them, so that
// the page says exactly what the reports say.  What happened comes first:
// the outcome in one sentence, the counts by cause with their devices and
// the list lines to mend, the next step for every device that needs one
// and the command that continues the run, ready to copy; then the facts
// of the run (its end and duration, the files with size and SHA-256), the
// results table (worst first, filterable, each log one click away) and
// the timeline.  A summary of several reports draws each site list once,
// each device from its latest report.  No resource is loaded from outside
// the file: its Content-Security-Policy allows its own style and script
// alone, by their hashes; every text of a report or a log is escaped.
#ifndef ZV_FLEET_HTML_PAGE_H
#define ZV_FLEET_HTML_PAGE_H

#include "tools/zvfleet/html_rows.h"

// Writes the run's page at pszHtml from its JSON report; a report that
// the reader refuses is not drawn but listed as left out, with the reason.
// Returns true, or false after a message (a report left out too).
bool writeHtmlPage(const char *pszHtml, const char *pszReport);

// The page of a summary (--summary --html): the totals of all sites, then
// each site list as --summary merged it, then the reports left out.
bool writeSummaryPage(const char *pszHtml, const PageSite *aSites, int nSites,
                      const PageLeftOut *aLeftOut, int nLeftOut);

#endif
