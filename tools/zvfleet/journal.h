// SPDX-License-Identifier: Apache-2.0
// The run's journal: an append-only file in the run's folder,
// journal.jsonl, one JSON object a line, each line written whole and
// handed to the system before zvfleet goes on, at a cost that does not
// grow with the site.  Its first line is the report's head (the run's
// identity, the list, its salt) with the number of devices; then one line
// per device as the run begins ({"device": N, "row": ROW}, N from 0, ROW
// as the JSON report writes it), one such line each time a device's
// record changes (its tool is about to start, it reached a phase, it was
// stopped, it ended, its check began or ended), the run's moments
// ({"mark": [MS, TEXT]}) and at the end {"ended": true}.  The last row of
// each device is its record; a last line cut by a kill is ignored.  Room
// for the rest of the run is held beside it (journal.space): when the disk
// fills, that room is given back, the logs are cut, and no device starts
// any more, so that the journal and the final report are still written.
#ifndef ZV_FLEET_JOURNAL_H
#define ZV_FLEET_JOURNAL_H

#include "tools/zvfleet/fleet.h"
#include "tools/zvfleet/report_read.h"

#define JOURNAL_NAME "journal.jsonl"

// Begins the journal in the run's folder: its head and every device's
// row, and the room held beside it.  Returns true, or false after a
// message.
bool journalBegin(void);

// The device's row, now.  False once the journal cannot be written.
bool journalDevice(const FleetDevice *pDev);

// A moment of the run.
bool journalMark(const RunMark *pMark);

// The run ended; the room beside the journal is given back.
bool journalEnd(void);

// Removes the room that a killed run of this site folder left beside its
// journal (named by the report that --resume reads).
void removeKilledJournalRoom(const char *pszJournal);

// Bytes written to the journal so far.
long journalBytes(void);

// True once the disk filled: the journal's room was given back to it.
bool journalDiskFull(void);

// Reads the journal at pszPath into the rows of the report read before
// (pHead, aRows: those of its run), which it replaces where it tells more.
// Returns true, or false with why in pszWhy.
bool readJournal(const char *pszPath, ReportHead *pHead, ReportRow *aRows, char *pszWhy,
                 int nWhySize);

// The run's record as a report names it: the report, and for a run that
// did not end, its journal, which is as true as the last line written.
// Returns true, or false with why in pszWhy (as readReport).
bool readRunRecord(const char *pszReport, ReportHead *pHead, ReportRow *aRows, int nMaxRows,
                   char *pszWhy, int nWhySize);

#endif
