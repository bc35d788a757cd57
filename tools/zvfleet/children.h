// SPDX-License-Identifier: Apache-2.0
// The run of the children: one zvloader process per device attempt, its
// output read through a pipe, line by line, into the device's log and the
// attempt's record; watched for its end and for a stall, stopped (by force
// when it does not end soon after), and an attempt's end turned into a
// result or a retry.
#ifndef ZV_FLEET_CHILDREN_H
#define ZV_FLEET_CHILDREN_H

#include "tools/zvfleet/fleet.h"

// Starts the next attempt of the device; one whose child could not be
// started has its result.
void startAttempt(FleetDevice *pDev, unsigned long ulNow);

// Reads the child's new output, notes its end, stops it after --stall
// seconds without progress, and ends it by force when it does not end
// within a grace period after being stopped.  Returns true when the
// attempt has ended (the device then waits for a retry or has its result).
bool watchAttempt(FleetDevice *pDev, unsigned long ulNow);

// Reads what every running child printed and waits in its pipe: before
// zvfleet starts another tool or writes the report.
void readAllOutput(unsigned long ulNow);

// Stops the running child for an interruption of zvfleet.
void interruptAttempt(FleetDevice *pDev, unsigned long ulNow);

// Stops the running child for a rule of the rollout, noted in its log
// with the reason; it ends as "stopped (REASON)" and is not run again.
void stopAttemptFor(FleetDevice *pDev, unsigned long ulNow, const char *pszReason);

#endif
