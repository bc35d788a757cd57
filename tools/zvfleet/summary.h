// SPDX-License-Identifier: Apache-2.0
// zvfleet --summary REPORT...: the state of the sites that the JSON reports
// tell.  Reports of one site list (the same list, or a run and the run
// that resumed it) are taken together: each device is shown once, as the
// latest of them tells it, not summed over runs; a report given twice (the
// same run) counts once.  A report cut short, of another format, or whose
// totals disagree with its rows is refused by name and not counted.
#ifndef ZV_FLEET_SUMMARY_H
#define ZV_FLEET_SUMMARY_H

// Prints the table.  Returns the exit status: 0 when every device was
// updated (and confirmed back online where that was checked), 1 when one
// was not updated, 4 when all were updated but one was not (confirmed)
// back online, 2 when a report cannot be read or is refused.
int printSummary(int nReports, char **apszReports);

// --summary --html FILE: the table, and the page of the reports it counted
// (html_page.h), which lists each report left out and why.  The page is
// checked first by the companions' rule (tools/common/output_path.h): one
// that is a report given, a link or no regular file is refused before
// anything is read (2).  Returns printSummary's status, or 2 when the page
// could not be written.
int printSummaryPage(const char *pszHtml, int nReports, char **apszReports);

#endif
