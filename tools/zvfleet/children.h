// SPDX-License-Identifier: Apache-2.0
// The run of the children: one zvloader process per device attempt, its
// output appended to the device's log, watched for its end and for a
// stall, and an attempt's end turned into a result or a retry.
#ifndef ZV_FLEET_CHILDREN_H
#define ZV_FLEET_CHILDREN_H

#include "tools/zvfleet/fleet.h"

// Starts the next attempt of the device.  Returns 1 when its child runs; 0
// when it could not be started (the device then has its result).
int startAttempt(FleetDevice *pDev, unsigned long ulNow);

// Notes the child's end, and with bRead reads its new output and stops it
// after the stall time without output.  Returns 1 when the attempt has
// ended (the device then waits for a retry or has its result).
int watchAttempt(FleetDevice *pDev, unsigned long ulNow, int bRead);

#endif
