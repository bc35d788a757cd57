// SPDX-License-Identifier: Apache-2.0
// The results: one row per device (address, file, result, with whether it
// came back online where that was checked, what it leaves on the device,
// exit status, attempts, duration, whether its log is complete) as a
// table on the console; the reports are report_format.h's.
#ifndef ZV_FLEET_RESULTS_H
#define ZV_FLEET_RESULTS_H

#include "tools/zvfleet/fleet.h"

// The device's result as text: "updated", "wrong password", ..., "failed:"
// with the tool's last line.
void resultText(const FleetDevice *pDev, char *pszText, int nSize);

// Whether a result text (resultText's, or a report's) says the device was
// updated, whether or not it was back online after it.
bool resultSaysUpdated(const char *pszResult);

// What a preflight's ready device reads after its model and password: a
// model query cannot tell more.
#define READY_CLAUSE "(key and image checked only by an update)"

// Whether a result text says a preflight found the device ready.
bool resultSaysReady(const char *pszResult);

// True for a device that was updated and, where that was checked, was seen
// back on the network after a restart: what the canary and the emergency
// stop count as success.
bool updatedAndBack(const FleetDevice *pDev);

// What the device's end leaves on it, "" for an updated one.
const char *stageText(const FleetDevice *pDev);

// The tool's exit status as text, pszNone when it had none of its own.
void statusText(const FleetDevice *pDev, char *pszText, int nSize, const char *pszNone);

void printResults(void);

#endif
