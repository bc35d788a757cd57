// SPDX-License-Identifier: Apache-2.0
// Progress on the console.  On a terminal a live table, redrawn in place:
// one line per running device (address, phase, pages sent of pages due,
// elapsed time, state) or device checked for being back online, and a
// line of totals, with each device's end printed above it for good.
// Otherwise (a file, a pipe) one timestamped line per event: a start, a
// new phase, an end, the end of a check.
#ifndef ZV_FLEET_PROGRESS_H
#define ZV_FLEET_PROGRESS_H

#include "tools/zvfleet/fleet.h"

// Chooses the form (g_fleet.nProgress, or the terminal's presence).
void progressBegin(unsigned long ulNow);

void progressStarted(const FleetDevice *pDev);
// A message of zvfleet's own during the run, a line above the table.
void progressMessage(const char *pszText);
void progressPhase(const FleetDevice *pDev);
// An attempt of ulAttemptMs ended; bRetry: the device will be run again.
void progressEnded(const FleetDevice *pDev, bool bRetry, unsigned long ulAttemptMs);
// The check whether the updated device is back online has ended.
void progressChecked(const FleetDevice *pDev);

// Redraws the table when it is due.
void progressTick(unsigned long ulNow);

// Takes the table off the screen, before the results.
void progressEnd(void);

#endif
