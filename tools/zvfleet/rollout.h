// SPDX-License-Identifier: Apache-2.0
// The rules of a rollout, which decide which waiting device may start:
// the canary (--canary N: the first N devices of the list alone, and the
// others only when all N ended updated); the emergency stop (--max-failures
// K, --max-failure-rate P: no new device starts, the running ones finish);
// and a file refused for a cause of its own (bad CRC at the commit, bad
// version, wrong model) by two devices, whose other devices are stopped
// at once or not started.  A device that a rule holds back for good is
// done, "not started" with the rule's reason.  With --confirm-online a
// device counts once its check has ended, and one that was not back
// online counts as failed.

// The rate counts once this many devices have finished.
#define FAILURE_RATE_MIN_FINISHED 10
// Refusals of one file, for a cause in the file, that stop its devices.
#define FILE_REFUSALS_TO_STOP 2
#ifndef ZV_FLEET_ROLLOUT_H
#define ZV_FLEET_ROLLOUT_H

#include "tools/zvfleet/fleet.h"

// The devices of the first wave (all of them without a canary).
int canaryDevices(void);

// 1 when the waiting device may start now.
int rolloutAllows(const FleetDevice *pDev);

// Forgets the verdicts of an earlier run in this process.
void beginRollout(void);

// Applies the rules to the devices' ends so far: devices held back for
// good are done with their reason, and the decision is said once on the
// console.  Returns 1 when it held any back.
int applyRolloutRules(unsigned long ulNow);

#endif
