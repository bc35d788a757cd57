// SPDX-License-Identifier: Apache-2.0
// The results: one row per device (address, file, result, with whether it
// came back online where that was checked, what it leaves on the device,
// exit status, attempts, duration, whether its log is complete) as a
// table on the console and as a CSV or JSON report.
#ifndef ZV_FLEET_RESULTS_H
#define ZV_FLEET_RESULTS_H

#include "tools/zvfleet/fleet.h"

// The device's result as text: "updated", "wrong password", ..., "failed:"
// with the tool's last line.
void resultText(const FleetDevice *pDev, char *pszText, int nSize);

// 1 for a result text (resultText's, or a report's) that says the device
// was updated, whether or not it was back online after it.
int resultSaysUpdated(const char *pszResult);

// 1 for a device that was updated and, where that was checked, came back
// on the network: what the canary and the emergency stop count as success.
int updatedAndBack(const FleetDevice *pDev);

// 1 for the "online" field of a report's row (without its quotes) that
// says the updated device was not back online.
int onlineFieldNotBack(const char *pszOnline);

// What the device's end leaves on it, "" for an updated one.
const char *stageText(const FleetDevice *pDev);

void printResults(void);

// Writes the report, .csv or .json by its extension, into a new file
// beside it that then replaces it (a target that is no regular file is
// refused).  Returns 1, or 0 after a message.
int writeReport(const char *pszPath);

#endif
