// SPDX-License-Identifier: Apache-2.0
// zvfleet's JSON report read back: the one reader that --resume, --summary
// and the report page (--html) take it through, by one set of keys and
// words (report_format.h tells the format).  Any valid JSON layout of a
// whole report is read; a report cut short, of another format, whose
// totals disagree with its rows, or that holds an unknown word, is
// refused with the reason, and nothing of it is drawn or counted.
//
// A path that a report carries is never trusted: a file it names is
// opened only through reportNamedFile, which takes it relative to the
// report's own folder and only inside the run folder that the report
// names, a regular file reached through no link.
#ifndef ZV_FLEET_REPORT_READ_H
#define ZV_FLEET_REPORT_READ_H

#include <nlohmann/json.hpp>

#include "tools/zvfleet/fleet.h"

#define REPORT_FORMAT 2
// A text read back: room for one written from FLEET_LINE_SIZE bytes whose
// bytes beyond ASCII each came back as two.
#define REPORT_TEXT_SIZE 800
#define REPORT_ID_SIZE 33
#define REPORT_MARKS 64  // moments of a run read at most
#define REPORT_ARGS_SIZE 2048

// One device's row as read back.
struct ReportRow {
  char szAddress[FLEET_ADDRESS_SIZE];
  char szFile[REPORT_TEXT_SIZE];
  char szResult[REPORT_TEXT_SIZE];
  char szLeft[REPORT_TEXT_SIZE];  // what it leaves on the device
  char szLineSha256[65];
  char szSha256[65];  // of its file, as the report says it
  long lSize;         // of its file
  char szUpdatedAt[24];
  char szUpdatedIn[REPORT_ID_SIZE];
  char szLogFile[REPORT_TEXT_SIZE];  // as the report names it, or ""
  bool bUpdated;  // the result says updated
  bool bReady;    // a preflight's result says it would be updated
  int nOnline;    // ONLINE_*, never ONLINE_CHECKING (read as unfinished)
  unsigned long ulOnlineAfterMs;
  long lLine;
  long lAttempts;
  unsigned long ulRunMs;
  int nExitStatus;  // or EXIT_STATUS_NONE
  TimelineEvent aTimeline[FLEET_TIMELINE_SIZE];
  int nTimeline;
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
  char szRunFolder[REPORT_TEXT_SIZE];  // relative to the report's folder, or ""
  char szJournal[REPORT_TEXT_SIZE];    // the run's journal as the report names it, or ""
  char szArgs[REPORT_ARGS_SIZE];  // the run's arguments, each ended by a NUL
  int nArgs;                      // -1: the report names none
  long lElapsedMs;                // from its start to the report; -1: not told
  int bEnded;  // the run ended (not killed while it ran)
  bool bPreflight;
  int nRows, nReady;
  RunMark aMarks[REPORT_MARKS];
  int nMarks;
};

// Reads a JSON report whole into pHead and aRows (room for nMaxRows).  A
// preflight's report is taken only with bPreflight (its page); --resume
// and --summary refuse it.  Returns true, or false with why it is refused
// in pszWhy.
bool readReport(const char *pszPath, bool bPreflight, ReportHead *pHead, ReportRow *aRows,
                int nMaxRows, char *pszWhy, int nWhySize);

// One device's row read back (a report's or a journal's): false with why.
bool readReportRow(const nlohmann::json &device, int nRow, ReportRow *pRow, char *pszWhy,
                   int nWhySize);

// Adds the row to the totals: updated, and of those not back online and
// not confirmed back online (a row's online state is never "checking").
void countRow(const ReportRow *pRow, int *pnUpdated, int *pnNotBack, int *pnNotConfirmed);

// The report's words: "online" by ONLINE_* ("" for none: null), and a
// timeline event by its kind (TIMELINE_* or a phase).
const char *onlineWord(int nOnline);
const char *timelineWord(int nKind);

// The run folder pszRunFolder as a path from the folder of the report
// pszReport, into pszOut: "" when the run folder does not lie under the
// report's folder.
void runFolderFromReport(const char *pszReport, const char *pszRunFolder, char *pszOut, int nSize);

// The file that a report names (pszNamed, relative to the report's
// folder), as a path to open, into pszPath: true only when it lies inside
// the report's run folder, through no link, and is a regular file; else
// false with why it is not opened in pszWhy.
bool reportNamedFile(const char *pszReport, const ReportHead *pHead, const char *pszNamed,
                     char *pszPath, int nSize, char *pszWhy, int nWhySize);

#endif
