// SPDX-License-Identifier: Apache-2.0
// Whether an updated device is back on the network (--confirm-online S):
// from the end of its update zvfleet sends it an ICMP echo request about
// once a second.  "Back" proves a restart: the device must first leave a
// request unanswered (it is off the network, restarting) and then answer
// ("updated, back online after T s", T counted from the update's end); an
// answer before any silence may come from the old firmware that has not
// restarted yet and is only noted.  After S seconds without that, the
// device is "updated, not back online within S s", or, when it answered
// throughout, "updated, not confirmed back online (it answered
// throughout: no restart seen)".  The device keeps its place of -j
// until its check ends, so that the rollout's rules judge each device
// before the next takes its place; they count a device that is not back
// as one that failed.
#ifndef ZV_FLEET_ONLINE_CHECK_H
#define ZV_FLEET_ONLINE_CHECK_H

#include "tools/zvfleet/fleet.h"

#define ECHO_INTERVAL_MS 1000UL

// Before a run that checks: true when this system lets zvfleet send ICMP
// echo requests, false after a message that says why not and what allows it.
bool onlineCheckPossible(void);

// The device was updated: its check begins (state STATE_CHECKING).
void beginOnlineCheck(FleetDevice *pDev, unsigned long ulNow);

// Sends and hears.  Once the check has ended, nOnline says how and the
// device is done.
void watchOnlineCheck(FleetDevice *pDev, unsigned long ulNow);

// zvfleet was interrupted: the check ends unanswered.
void interruptOnlineCheck(FleetDevice *pDev);

#endif
