// SPDX-License-Identifier: Apache-2.0
// The run's counts, derived from the devices' states and results alone:
// what waits, runs and is checked, what was updated and came back online,
// and a preflight's verdicts.  The record, the results table, the reports
// and the main loop read them; none of them keeps a count of its own.
#ifndef ZV_FLEET_COUNTS_H
#define ZV_FLEET_COUNTS_H

#include "tools/zvfleet/fleet.h"

struct RecordCounts {
  int nWaiting, nRunning, nChecking;  // nRunning: tools running (or being stopped)
  int nUpdated, nBack, nNotBack, nNotConfirmed;
  int nReady;      // a preflight's devices that answered with their model and password
  int nNotAsked;   // a preflight's devices never asked (it was interrupted)
};

void recordCounts(RecordCounts *pCounts);

#endif
