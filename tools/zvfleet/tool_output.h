// SPDX-License-Identifier: Apache-2.0
// What the tool's lines say about an upload: each line is classified (a
// page request, a new phase, a refusal, a missed reply, the tool's report
// that it cannot bind the debug port) and taken into the attempt's record,
// and the caller learns what the line changed.  Nothing here writes to the
// screen or to a log.
#ifndef ZV_FLEET_TOOL_OUTPUT_H
#define ZV_FLEET_TOOL_OUTPUT_H

#include "tools/zvfleet/fleet.h"

// What one line changed (an OR of these).
#define TOOL_SAW_PHASE 1        // the upload reached a new phase
#define TOOL_SAW_PROGRESS 2     // the device acknowledged a new request
#define TOOL_SAW_BIND_REPORT 4  // the first report that the debug port is taken
#define TOOL_SAW_DOUBT 8        // the first resend from a transfer's last packet on

// Clears what the lines of an earlier attempt said.
void beginToolOutput(ToolOutput *pOut);

// Takes in one line of the tool's output (without its line end).  A line
// that holds the start of another thread's report is taken as two.
// Returns what it changed.
int takeToolLine(ToolOutput *pOut, const FilePlan *pPlan, const char *pszLine);

// The result of an attempt that ended with the exit status (-1: stopped).
int attemptResult(const ToolOutput *pOut, int nStatus);

// Where an attempt that did not end updated left the device (STAGE_*).
int attemptStage(const ToolOutput *pOut, const FilePlan *pPlan);

int pagesSent(const ToolOutput *pOut);
const char *phaseName(int nPhase);

#endif
