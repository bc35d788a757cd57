// SPDX-License-Identifier: Apache-2.0
// The results: one row per device (address, file, result, exit status,
// attempts, duration) as a table on the console and as a CSV or JSON
// report.
#ifndef ZV_FLEET_RESULTS_H
#define ZV_FLEET_RESULTS_H

#include "tools/zvfleet/fleet.h"

// The device's result as text: "updated", "wrong password", ..., "failed:"
// with the tool's last line.
void resultText(const FleetDevice *pDev, char *pszText, int nSize);

// Creates the report file (empty), so that a path that cannot be written
// is known before anything starts.  Returns 1, or 0 after a message.
int openReport(const char *pszPath);

void printResults(void);

// Writes the report, .csv or .json by its extension.  Returns 1, or 0
// after a message.
int writeReport(const char *pszPath);

#endif
