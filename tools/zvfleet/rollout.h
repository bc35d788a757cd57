// SPDX-License-Identifier: Apache-2.0
// The rules of a rollout, which decide which waiting device may start:
// the canary (--canary N: the first N devices of the list alone, and the
// others only when all N ended updated).  A device that a rule holds back
// for good is done, "not started" with the rule's reason.
#ifndef ZV_FLEET_ROLLOUT_H
#define ZV_FLEET_ROLLOUT_H

#include "tools/zvfleet/fleet.h"

// The devices of the first wave (all of them without a canary).
int canaryDevices(void);

// 1 when the waiting device may start now.
int rolloutAllows(const FleetDevice *pDev);

// Applies the rules to the devices' ends so far: devices held back for
// good are done with their reason, and the decision is said once on the
// console.  Returns 1 when it held any back.
int applyRolloutRules(void);

#endif
