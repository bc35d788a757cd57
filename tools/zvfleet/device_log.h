// SPDX-License-Identifier: Apache-2.0
// The logs in the output folder: one per device, which its tool's output
// is appended to by the child process itself, and site.log for debug
// messages from senders that are not on the list.  zvfleet adds its own
// lines ("zvfleet: ..." notes and the "Dbg>" lines of debug messages) with
// appends that land whole beside the child's.
#ifndef ZV_FLEET_DEVICE_LOG_H
#define ZV_FLEET_DEVICE_LOG_H

#include "app/console.h"
#include "tools/zvfleet/fleet.h"

#define FLEET_NOTE "zvfleet: "

// Makes the output folder and the device's log paths.  Returns 1, or 0
// after a message.
int prepareLogs(void);

// Appends zvfleet's own text to the device's log (a whole line or more);
// a line end goes first when the tool's last line is still unfinished.
void logAppend(FleetDevice *pDev, const char *pText, int nLength);

// Appends "zvfleet: DD hh:mm:ss " and the formatted note as one line.
void logNote(FleetDevice *pDev, const char *pszFormat, ...) ZV_PRINTF(2, 3);

void siteLogAppend(const char *pText, int nLength);

#endif
