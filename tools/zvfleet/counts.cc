// SPDX-License-Identifier: Apache-2.0
// The run's counts (see counts.h).
#include "tools/zvfleet/counts.h"

#include <string.h>

void recordCounts(RecordCounts *pCounts) {
  memset(pCounts, 0, sizeof(*pCounts));
  for (int i = 0; i < g_nDevices; i++) {
    const FleetDevice *pDev = &g_aDevices[i];
    pCounts->nReady += pDev->nResult == RESULT_READY;
    pCounts->nNotAsked += pDev->nResult == RESULT_NOT_STARTED;
    if (pDev->nResult != RESULT_UPDATED) continue;
    pCounts->nUpdated++;
    pCounts->nBack += pDev->nOnline == ONLINE_BACK;
    pCounts->nNotBack += pDev->nOnline == ONLINE_NOT_BACK;
    pCounts->nNotConfirmed += pDev->nOnline == ONLINE_UNFINISHED ||
                              pDev->nOnline == ONLINE_NO_RESTART ||
                              (pDev->nOnline == ONLINE_CHECKING && pDev->nState != STATE_CHECKING);
  }
}
