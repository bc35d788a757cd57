// SPDX-License-Identifier: Apache-2.0
// zvfleet's reports, CSV and JSON: written here from the devices' records;
// the JSON report is read back by report_read.h alone.
//
// The JSON report is one object: "zvfleet_report" (its format, 2), "run"
// (id, started, workstation, zvfleet_version, ended, folder, elapsed_s: the
// time from its start to this report, command: its arguments as given),
// "resumed_from" (the
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
// the total "would_be_updated" last; only its page reads it back.  "run"
// also names the run's "folder" (its logs and copies) relative to the
// report's own folder, or null when it lies elsewhere; each "log_file" is
// then relative to the report's folder too.
#ifndef ZV_FLEET_REPORT_FORMAT_H
#define ZV_FLEET_REPORT_FORMAT_H

#include "tools/zvfleet/fleet.h"
#include "tools/zvfleet/report_read.h"

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

#endif
