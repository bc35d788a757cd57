// SPDX-License-Identifier: Apache-2.0
// The record of a run: the one owner of each device's life.  Only here do
// a device's state, result, what it leaves and whether it is back online
// change; the counts are derived from the states.  Every change goes into
// the run's journal at once (see journal.h), before zvfleet acts on it:
// a device's row says its tool runs before the tool is started, and a
// device whose tool runs reads "interrupted", what it holds unknown, with
// the last phase seen.  The report (CSV or JSON) is made from the record
// at the run's start and end, and while it runs at most every
// REPORT_EVERY_MS when the journal has grown by REPORT_JOURNAL_RATIO times
// what the report holds: the rewrites cost at most a fraction of the
// journal, so that a run writes about the same per device whatever the
// site's size (a long run rewrites the report more often than a short one).
// A journal that cannot be written stops the run: no device starts after
// it (those running end as they would), and the exit status is
// FLEET_EXIT_REPORT_FAILED; a full disk stops new devices too, with the
// logs cut, the journal and the report kept.
#ifndef ZV_FLEET_RECORD_H
#define ZV_FLEET_RECORD_H

#include "tools/zvfleet/counts.h"
#include "tools/zvfleet/fleet.h"

// The run's identity (random id, start, workstation) and the salt of its
// lines' hashes; before the list is digested.
void recordIdentity(void);

// Before the run: devices carried from an earlier run are done (or wait
// for their check again), the others wait, "not started"; the first report
// and the journal are written and the report's room held.  Returns true, or false after a message.
bool recordBeginRun(void);

// The device's tool was started (nAttempts counts it): running.
void recordStarted(FleetDevice *pDev, unsigned long ulNow);

// The tool's lines told a new phase: journaled.
void recordPhase(FleetDevice *pDev);

// The tool is being stopped (a stall, an interruption, or a rule whose
// reason, not null, the result then tells).
void recordStopping(FleetDevice *pDev, unsigned long ulNow, const char *pszReason);

// The attempt ended with the result and the tool's exit status (-1: none);
// bRetry: the device waits to run again.
void recordEnded(FleetDevice *pDev, int nResult, int nStatus, unsigned long ulAttemptMs,
                 bool bRetry);

// A rule holds the waiting device back for good: done, "not started".
void recordHeld(FleetDevice *pDev, const char *pszReason);

// An interruption: the devices that wait are done as they stand.
void recordInterruptWaiting(void);

// Its check of being back online begins, and ends (ONLINE_*).
void recordCheckBegun(FleetDevice *pDev, unsigned long ulNow);
void recordCheckEnded(FleetDevice *pDev, int nOnline, unsigned long ulAfterMs);

// A device updated in the run resumed, as that run's report tells it.
void recordCarried(FleetDevice *pDev, int nExitStatus, int nOnline, unsigned long ulOnlineAfterMs,
                   const char *pszUpdatedAt, const char *pszUpdatedIn);

// The devices whose tool runs or whose check does (running, stopping,
// checking), copied into pnDevices (when not null) by their place in the
// list; returns their count.
int recordBusy(short *pnDevices);

// The count of devices waiting to start.
int recordWaiting(void);

// A moment of the whole run, in words, for the report's timeline.
void recordMark(const char *pszText);

#define REPORT_EVERY_MS 5000
#define REPORT_JOURNAL_RATIO 4

// Writes the report while the run goes on, when it is due (see above).
void recordTick(unsigned long ulNow);

// A count of the changes made to the devices' records so far.
unsigned long recordChanges(void);

// True once the journal could not be written.
bool recordFailed(void);

// True when no device may start any more: the journal failed, or the disk
// is full.
bool recordStopsStarts(void);

// The run ended: the last report (its run "ended") is written and the
// room held for it is given back.  Returns true, or false when it failed.
bool recordFinish(void);

#endif
