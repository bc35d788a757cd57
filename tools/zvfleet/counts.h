// SPDX-License-Identifier: Apache-2.0
// The run's counts, derived from the devices' results alone: what was
// updated and came back online, and a preflight's verdicts.  The results
// table and the reports read them; none of them keeps a count of its own.
// (The devices busy and waiting, which the main loop asks for on every
// turn, the record keeps as their states change: record.h.)
#ifndef ZV_FLEET_COUNTS_H
#define ZV_FLEET_COUNTS_H

#include "tools/zvfleet/fleet.h"

struct RecordCounts {
  int nUpdated, nBack, nNotBack, nNotConfirmed;
  int nReady;      // a preflight's devices that answered with their model and password
  int nNotAsked;   // a preflight's devices never asked (it was interrupted)
};

void recordCounts(RecordCounts *pCounts);

#endif
