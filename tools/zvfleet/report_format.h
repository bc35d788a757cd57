// SPDX-License-Identifier: Apache-2.0
// zvfleet's reports, CSV and JSON: written here from the devices' records,
// and the JSON report read back here for --resume and --summary.
//
// The JSON report is one object: "zvfleet_report" (its format, 2), "run"
// (id, started, workstation, zvfleet_version, ended), "resumed_from" (the
// id of the run it resumed, or null), "site_list" and "site_list_sha256",
// "line_salt", "devices" (one object per device of the list: address,
// line, file, size, sha256, result, left, state, exit_status, attempts,
// duration_s, log, line_sha256, updated_at, updated_in, online,
// online_after_s, earlier_run, log_file, timeline: [[ms from the run's
// start, what began then: "attempt", a phase, "stopping", "retry",
// "ended", "online check", "checked"], ...]), "marks" (moments of the run
// in words: [[ms, text], ...]: waves, stops, an interruption), and the totals "updated", "not_updated",
// "not_back_online" and "not_confirmed_online".  A row whose device's tool
// runs says "interrupted" with what the device holds at that moment
// ("state": "running"), so that the report left by a run that was killed
// tells the truth.  A preflight's report has "preflight": true after
// "resumed_from", each device's "model" (the one it named, or null) and
// the total "would_be_updated" last; it is never read back.  Any valid JSON layout of a whole report is read; a
// report cut short, of another format, or whose totals disagree with its
// rows is refused with the reason.
#ifndef ZV_FLEET_REPORT_FORMAT_H
#define ZV_FLEET_REPORT_FORMAT_H

#include <nlohmann/json.hpp>

#include "tools/zvfleet/fleet.h"

#define REPORT_FORMAT 2
// A text read back: room for one written from FLEET_LINE_SIZE bytes whose
// bytes beyond ASCII each came back as two.
#define REPORT_TEXT_SIZE 800
#define REPORT_ID_SIZE 33

// One device's row as read back.
struct ReportRow {
  char szAddress[FLEET_ADDRESS_SIZE];
  char szFile[REPORT_TEXT_SIZE];
  char szResult[REPORT_TEXT_SIZE];
  char szLeft[REPORT_TEXT_SIZE];  // what it leaves on the device
  char szLineSha256[65];
  char szUpdatedAt[24];
  char szUpdatedIn[REPORT_ID_SIZE];
  bool bUpdated;  // the result says updated
  int nOnline;    // ONLINE_*, never ONLINE_CHECKING (read as unfinished)
  unsigned long ulOnlineAfterMs;
  long lAttempts;
  unsigned long ulRunMs;
  int nExitStatus;  // -1: none
};

// What a report says of its run and site list.
struct ReportHead {
  char szRunId[REPORT_ID_SIZE];
  char szStarted[24];
  char szWorkstation[64];
  char szVersion[32];
  char szResumedFrom[REPORT_ID_SIZE];
  char szList[REPORT_TEXT_SIZE];
  char szListSha256[65];
  char szSalt[REPORT_ID_SIZE];
  char szJournal[REPORT_TEXT_SIZE];  // the run's journal as the report names it, or ""
  int bEnded;  // the run ended (not killed while it ran)
  int nRows, nUpdated, nNotBack, nNotConfirmed;
};

// Reads a JSON report whole into pHead and aRows (room for nMaxRows).
// Returns true, or false with why it is refused in pszWhy.
bool readReport(const char *pszPath, ReportHead *pHead, ReportRow *aRows, int nMaxRows,
                char *pszWhy, int nWhySize);

// Adds the row to the totals: updated, and of those not back online and
// not confirmed back online (a row's online state is never "checking").
void countRow(const ReportRow *pRow, int *pnUpdated, int *pnNotBack, int *pnNotConfirmed);

// A device's row of the JSON report, one line: a device whose tool runs
// reads "interrupted" and what it holds unknown.  Returns its length, or 0
// when it does not fit (REPORT_ROW_SIZE always does).
#define REPORT_ROW_SIZE 16384
int deviceRowJson(const FleetDevice *pDev, char *pszOut, int nSize);

// The report's head, its members from "zvfleet_report" to "journal", each
// after the first preceded by pszBetween.  Returns its length, or 0.
int reportHeadJson(bool bEnded, const char *pszBetween, char *pszOut, int nSize);

// Writes the report, .csv or .json by its extension, into a new file
// beside it that then replaces it (a target that is no regular file is
// refused).  bEnded: the run has ended.  Returns true, or false (after a
// message unless bQuiet).
bool writeReport(const char *pszPath, bool bEnded, bool bQuiet = false);

// The bytes of the report last written.
long lastReportSize(void);

// Room held beside the report (REPORT.space), once, for its final
// version, so that logs that fill the disk cannot keep it from being
// written: reserveReportSpace makes it, releaseReportSpace removes it just
// before the final write.  Returns true, or false after a message.
bool reserveReportSpace(const char *pszPath);
void releaseReportSpace(const char *pszPath);

// Removes the room left beside the report of a run that was killed.
void removeStaleSpace(const char *pszPath);

// One device's row read back (a report's or a journal's): false with why.
bool readReportRow(const nlohmann::json &device, int nRow, ReportRow *pRow, char *pszWhy,
                   int nWhySize);

#endif
