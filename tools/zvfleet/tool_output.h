// SPDX-License-Identifier: Apache-2.0
// The tool's output as its log grows: whole lines are taken in as they
// come, each telling the phase, the pages sent, a refusal, or being the
// last line; zvfleet's own lines and the children's expected report that
// they cannot bind the debug port are told apart.
#ifndef ZV_FLEET_TOOL_OUTPUT_H
#define ZV_FLEET_TOOL_OUTPUT_H

#include "tools/zvfleet/fleet.h"

// Clears what the lines of an earlier attempt said.
void beginToolOutput(FleetDevice *pDev, long lLogStart);

// Reads what the log gained since the last call and takes in every whole
// line; with bFinal (the child has ended) an unfinished last line too.
// Returns 1 when the tool itself printed something new.
int readToolOutput(FleetDevice *pDev, int bFinal);

// The result of the attempt that ended with the exit status.
int attemptResult(const FleetDevice *pDev, int nStatus);

int pagesSent(const FleetDevice *pDev);
const char *phaseName(int nPhase);

#endif
