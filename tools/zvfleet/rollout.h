// SPDX-License-Identifier: Apache-2.0
// The rules of a rollout, which decide which waiting device may start:
// the canary (--canary N: the first N devices that this run updates, in
// the list's order, alone, and the others only when all N ended updated);
// the emergency stop (--max-failures K, --max-failure-rate P: no new
// device starts, the running ones finish); and a file refused for a cause
// that may lie in it (bad CRC at the commit, bad version) by two devices
// while no device had accepted it, whose other devices are then stopped
// at once or not started.  A wrong-model refusal never stops a file: the
// list named a device of another model.  A device that a rule holds back for good is
// done, "not started" with the rule's reason.  With --confirm-online a
// device counts once its check has ended, and one that was not back
// online counts as failed.
#ifndef ZV_FLEET_ROLLOUT_H
#define ZV_FLEET_ROLLOUT_H

#include "tools/zvfleet/fleet.h"

// The rate counts once this many devices have finished.
#define FAILURE_RATE_MIN_FINISHED 10
// Refusals of one file, for a cause in the file, that stop its devices.
#define FILE_REFUSALS_TO_STOP 2

// Before a run (or its dry run), once the devices updated in the run
// resumed are known: the waves are drawn and no rule has acted (the
// verdicts of an earlier run in this process are forgotten).
void beginRollout(void);

// The devices that this run updates (not those updated in the run resumed).
int devicesToUpdate(void);

// The devices of the first wave (all those to update without a canary).
int canaryDevices(void);

// True for a device of the canary.
bool isCanary(const FleetDevice *pDev);

// True when the waiting device may start now.
bool rolloutAllows(const FleetDevice *pDev);

// Applies the rules to the devices' ends so far: devices held back for
// good are done with their reason, and the decision is said once on the
// console.
void applyRolloutRules(unsigned long ulNow);

#endif
