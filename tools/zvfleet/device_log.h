// SPDX-License-Identifier: Apache-2.0
// The logs in the output folder, which zvfleet alone writes: one per
// device, with its tool's output line by line, zvfleet's notes ("zvfleet:
// ..." lines) and the "Dbg>" lines of the device's debug messages, and
// site.log for debug messages from senders that are not on the list.  No
// control character but a tab reaches a log: they are written \xHH.
#ifndef ZV_FLEET_DEVICE_LOG_H
#define ZV_FLEET_DEVICE_LOG_H

#include "base/console.h"
#include "tools/zvfleet/fleet.h"

#define FLEET_NOTE "zvfleet: "

// Makes the device's log paths in the run's folder, and makes sure that
// the folder takes files.  False after a message.
bool prepareLogs(void);

// Writes text without its control characters (tabs kept) into pszOut
// (nSize bytes, at least 1), cut where a piece no longer fits: \n and \r
// as such, the others \xHH.  Returns the length written.
int escapedText(const char *pText, int nLength, char *pszOut, int nSize);

// Appends one line of the tool's output, escaped, with a line end.
void logToolLine(FleetDevice *pDev, const char *pszLine);

// Appends zvfleet's own text (whole lines) to the device's log.  The
// first line that cannot be written is reported on the console once; the
// device's report says its log is incomplete.
void logAppend(FleetDevice *pDev, const char *pText, int nLength);

// Appends "zvfleet: DD hh:mm:ss " and the formatted note as one line.
void logNote(FleetDevice *pDev, const char *pszFormat, ...) ZV_PRINTF(2, 3);

// The same note, kept with the device's other kept lines for one write
// (see logFlush): for notes written together before an act.
void logNoteKept(FleetDevice *pDev, const char *pszFormat, ...) ZV_PRINTF(2, 3);

void siteLogAppend(const char *pText, int nLength);

// The tool's lines are kept and written to the log together: at the
// next note, the next device's line, or logFlush, which the reader of the
// children's output calls once it has read what waits.
void logFlush(void);

// The disk is full: no log line is written from here on, and each device
// whose log would have grown reads "log incomplete".
void cutLogs(void);

#endif
