// SPDX-License-Identifier: Apache-2.0
// The parts of zvfleet's report page (html_page.h), shared by the files
// that draw them: the page's writer (every text escaped), a device's
// outcome, cause and next step as words, the headline with the causes and
// the command that continues a run (html_outcome.cc), the timeline
// (html_timeline.cc) and the results table with the logs (html_table.cc).
// Every part draws from rows as zvfleet's one report reader gave them.
#ifndef ZV_FLEET_HTML_PARTS_H
#define ZV_FLEET_HTML_PARTS_H

#include <stddef.h>

#include "base/console.h"
#include "tools/zvfleet/html_rows.h"
#include "tools/zvfleet/report_read.h"

// The page being written: text as is, formatted, or escaped for HTML.
void pageBegin(FILE *pFile);
void pagePut(const char *pszText);
void pagePrintf(const char *pszFormat, ...) ZV_PRINTF(1, 2);
void pageText(const char *pszText);
// Bytes of a log: markup as entities, control characters as U+FFFD,
// with bAsciiOnly bytes beyond ASCII as \xHH.
void pageEscaped(const char *pText, size_t nLength, bool bAsciiOnly);

// How a device's run ended, worst first: the order of the causes and
// of the table, and the colour of its mark.
enum PageOutcome { OUTCOME_FAILED, OUTCOME_DOUBT, OUTCOME_NOT_REACHED, OUTCOME_DONE, OUTCOMES };
int rowOutcome(const ReportRow *pRow);
const char *outcomeWord(int nOutcome, bool bPreflight);
// The swatch of an outcome with its word beside it.
void putOutcomeMark(int nOutcome, bool bPreflight);

// The row's cause: its result without what is its own (a line number, a
// time, the tool's last line), so that devices of one cause group.
void rowCause(const PageRow *pRow, char *pszCause, int nSize);
// What a technician does next for the device; "" when nothing.  bEach:
// worded for each device of its cause ("each device's line").
void rowNextStep(const ReportRow *pRow, bool bPreflight, bool bEach, char *pszStep, int nSize);

// The outcome in one sentence, and the online counts when a check ran.
void putHeadline(const PageSite *pSite);
// The counts by cause with their devices and lines, worst first, and the
// command that continues the run (nId: unique in the page).
void putCauses(const PageSite *pSite, int nId);

// One bar per device when they are few, else one lane per cause with how
// many of its devices ran over time.
void putTimeline(const ReportHead *pHead, const ReportRow *aRows, int nId);

// The results table, worst first, with each device's log within lLogBudget.
void putTable(const PageSite *pSite, int nId, long lLogBudget);

// "N device(s)".
const char *devicesText(int nDevices, char *pszText, int nSize);

#endif
