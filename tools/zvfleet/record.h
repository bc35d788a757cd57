// SPDX-License-Identifier: Apache-2.0
// The record of a run: the one owner of each device's life.  Only here do
// a device's state, result, what it leaves and whether it is back online
// change; the counts are derived from the states; and every change that
// alters what a device holds rewrites the report, so that the report on
// disk is true at every moment: a device whose tool runs stands in it as
// "interrupted" with the phase it reached and what that leaves, and is
// written again when it commits its idata, when the clearing and when the
// commit go out.  A report that cannot be written stops the run: no device
// starts after it (those running end as they would), and the exit status
// is FLEET_EXIT_REPORT_FAILED.
#ifndef ZV_FLEET_RECORD_H
#define ZV_FLEET_RECORD_H

#include "tools/zvfleet/fleet.h"

struct RecordCounts {
  int nWaiting, nRunning, nChecking;  // nRunning: tools running (or being stopped)
  int nUpdated, nBack, nNotBack, nNotConfirmed;
  int nReady;  // a preflight's devices that would be updated
};

void recordCounts(RecordCounts *pCounts);

// The run's identity (random id, start, workstation) and the salt of its
// lines' hashes; before the list is digested.
void recordIdentity(void);

// Before the run: devices carried from an earlier run are done (or wait
// for their check again), the others wait, "not started"; the first report
// is written and its room held.  Returns true, or false after a message.
bool recordBeginRun(void);

// The device's tool was started (nAttempts counts it): running.
void recordStarted(FleetDevice *pDev, unsigned long ulNow);

// The tool's lines told a new phase: the report is rewritten when what
// the device holds changed.
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

// A moment of the whole run, in words, for the report's timeline.
void recordMark(const char *pszText);

// Writes the report (if one was asked for).  Returns true, or false once
// any write has failed.
bool recordSave(void);

// Writes the report when a change waits for it (a rule held devices back).
void recordFlush(void);

// True once a write of the report failed.
bool recordFailed(void);

// The run ended: the last report (its run "ended") is written and the
// room held for it is given back.  Returns true, or false when it failed.
bool recordFinish(void);

#endif
