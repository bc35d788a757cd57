// SPDX-License-Identifier: Apache-2.0
// The run of the children (see children.h).  The child's command line
// holds the password; it is never printed, and the log shows the command
// with the password left out.
#include "tools/zvfleet/children.h"

#include <stdio.h>
#include <string.h>

#include "tools/common/fixed_text.h"
#include "tools/zvfleet/debug_port.h"
#include "tools/zvfleet/device_log.h"
#include "tools/zvfleet/model_query_child.h"
#include "tools/zvfleet/online_check.h"
#include "tools/zvfleet/progress.h"
#include "tools/zvfleet/record.h"
#include "tools/zvfleet/results.h"
#include "tools/zvfleet/tool_output.h"

// The tool (or zvfleet itself with the model query's switch and bound),
// -IP, -P and -f with their values, the extras and the closing null.
#define MAX_ARGUMENTS (3 + 6 + FLEET_MAX_EXTRAS + 1)
#define STOP_GRACE_MS 5000  // a stopped tool that runs on is then ended by force
#define PIPE_CHUNK 4096

// The extra options as one text, for the log.
static void extrasText(const FleetDevice *pDev, char *pszText, int nSize) {
  pszText[0] = '\0';
  const char *pszOption = pDev->szExtras;
  for (int i = 0; i < pDev->nExtras; i++) {
    textAppend(pszText, nSize, " %s", pszOption);
    pszOption += strlen(pszOption) + 1;
  }
}

static void endAttempt(FleetDevice *pDev, int nResult, int nStatus, unsigned long ulNow) {
  unsigned long ulAttemptMs = ulNow - pDev->ulStartMs;
  bool bRetry = (nResult == RESULT_NO_ANSWER || nResult == RESULT_STALLED ||
                 nResult == RESULT_UNCONFIRMED || pDev->out.bReceiveError) &&
                !pDev->bInterrupted && !platInterrupted() && !recordStopsStarts() &&
                pDev->nAttempts <= g_fleet.nRetries;
  recordEnded(pDev, nResult, nStatus, ulAttemptMs, bRetry);
  char szResult[FLEET_LINE_SIZE + 32];
  resultText(pDev, szResult, sizeof(szResult));
  if (nStatus >= 0)
    logNote(pDev, "attempt %d ended: %s (exit status %d, %.1f s)", pDev->nAttempts, szResult,
            nStatus, ulAttemptMs / 1000.0);
  else
    logNote(pDev, "attempt %d ended: %s (%.1f s)", pDev->nAttempts, szResult,
            ulAttemptMs / 1000.0);
  progressEnded(pDev, bRetry, ulAttemptMs);
  if (nResult == RESULT_UPDATED && g_fleet.ulConfirmSeconds > 0 && !platInterrupted())
    beginOnlineCheck(pDev, ulNow);
}

void startAttempt(FleetDevice *pDev, unsigned long ulNow) {
  pDev->nPartial = 0;
  pDev->bStalled = pDev->bKilled = pDev->bInterrupted = false;
  beginToolOutput(&pDev->out);
  recordStarted(pDev, ulNow);
  char szExtras[FLEET_TEXT_SIZE + 16];
  extrasText(pDev, szExtras, sizeof(szExtras));
  // Both notes in one write, before the tool starts.
  logNoteKept(pDev, "attempt %d: %s -IP %s -P (password) -f %s%s", pDev->nAttempts,
              g_fleet.bPreflight ? "the model query alone, by zvfleet" : "zvloader",
              pDev->szAddress, pDev->szPath, szExtras);
  logNoteKept(pDev, "%s as checked: %ld bytes, SHA-256 %s", pDev->szFile, pDev->lFileSize,
              pDev->szSha256);
  logFlush();

  const char *apszArgv[MAX_ARGUMENTS];
  int nArgs = 0;
  char szBound[16];
  if (g_fleet.bPreflight) {
    // zvfleet itself runs the model query alone, bounded by --stall.
    snprintf(szBound, sizeof(szBound), "%lu", g_fleet.ulStallSeconds);
    apszArgv[nArgs++] = g_fleet.szSelf;
    apszArgv[nArgs++] = MODEL_QUERY_SWITCH;
    apszArgv[nArgs++] = szBound;
  } else {
    apszArgv[nArgs++] = g_fleet.szLoader;
  }
  const char *const apszTool[] = {"-IP", pDev->szAddress, "-P", pDev->szPassword, "-f",
                                  pDev->szPath};
  for (const char *pszArg : apszTool) apszArgv[nArgs++] = pszArg;
  const char *pszOption = pDev->szExtras;
  for (int i = 0; i < pDev->nExtras; i++) {
    apszArgv[nArgs++] = pszOption;
    pszOption += strlen(pszOption) + 1;
  }
  apszArgv[nArgs] = NULL;
  progressStarted(pDev);
  if (platStartChildPiped(apszArgv, NULL, &pDev->child, &pDev->pipe)) return;
  snprintf(pDev->out.szLastLine, sizeof(pDev->out.szLastLine), "%s could not be started",
           g_fleet.bPreflight ? "zvfleet's model query" : "zvloader");
  endAttempt(pDev, RESULT_FAILED, EXIT_STATUS_NONE, ulNow);
}

// One whole line of the tool: into the log, then into the record.
static void takeLine(FleetDevice *pDev, unsigned long ulNow) {
  int n = pDev->nPartial;
  if (n > 0 && pDev->szPartial[n - 1] == '\r') n--;  // a Windows line end
  pDev->szPartial[n] = '\0';
  pDev->nPartial = 0;
  logToolLine(pDev, pDev->szPartial);
  int nSaw = takeToolLine(&pDev->out, &pDev->plan, pDev->szPartial);
  recordPhase(pDev);
  if (nSaw & TOOL_SAW_PROGRESS) pDev->ulProgressMs = ulNow;
  if (nSaw & TOOL_SAW_PHASE) progressPhase(pDev);
  if ((nSaw & TOOL_SAW_BIND_REPORT) && debugPortHeld())
    logNote(pDev, "expected: the tool cannot bind the debug port, which zvfleet holds; the "
                  "device's debug messages are filed here");
  if (nSaw & TOOL_SAW_DOUBT)
    logNote(pDev, "a request from the transfer's last data packet on was sent again: its "
                  "commit's acceptance may be the answer to an earlier request");
}

// Reads what waits in the pipe, until nothing more does or the pipe has
// ended (a pipe that has ended may be read again: it gives nothing).
static void readChild(FleetDevice *pDev, unsigned long ulNow) {
  char abChunk[PIPE_CHUNK];
  for (;;) {
    int nRead = platReadPipe(pDev->pipe, abChunk, sizeof(abChunk));
    if (nRead <= 0) return logFlush();
    for (int i = 0; i < nRead; i++) {
      if (abChunk[i] == '\n') {
        takeLine(pDev, ulNow);
      } else {
        // A line longer than the buffer keeps its start.
        if (pDev->nPartial < FLEET_LINE_SIZE - 1) pDev->szPartial[pDev->nPartial++] = abChunk[i];
      }
    }
  }
}

void readAllOutput(unsigned long ulNow) {
  static short s_anBusy[FLEET_MAX_DEVICES];
  int nBusy = recordBusy(s_anBusy);
  for (int i = 0; i < nBusy; i++) {
    FleetDevice *pDev = &g_aDevices[s_anBusy[i]];
    if (pDev->nState == STATE_RUNNING || pDev->nState == STATE_STOPPING) readChild(pDev, ulNow);
  }
}

// The result of a child that has ended.
static int endedResult(FleetDevice *pDev, int *pnStatus) {
  const ToolOutput *pOut = &pDev->out;
  // Ctrl+C in a console reaches the tools too: one may end before zvfleet
  // has taken in its own interruption.
  if (platInterrupted()) pDev->bInterrupted = true;
  if (pDev->bStalled || pDev->bInterrupted) {
    int nResult = attemptResult(pOut, *pnStatus);
    // A tool that finished on its own while being stopped keeps its end.
    if (nResult == RESULT_UPDATED || nResult == RESULT_UNCONFIRMED ||
        pOut->nRefusal != RESULT_NONE)
      return nResult;
    *pnStatus = EXIT_STATUS_NONE;  // stopped
    if (pDev->bInterrupted) return RESULT_INTERRUPTED;
    return pOut->bAnswered ? RESULT_STALLED : RESULT_NO_ANSWER;
  }
  return attemptResult(pOut, *pnStatus);
}

bool watchAttempt(FleetDevice *pDev, unsigned long ulNow) {
  readChild(pDev, ulNow);
  int nStatus = 0;
  if (platWaitChild(pDev->child, 0, &nStatus)) {
    // All the child wrote is in the pipe now.
    readChild(pDev, ulNow);
    if (pDev->nPartial > 0) takeLine(pDev, ulNow);
    platClosePipe(pDev->pipe);
    int nResult = endedResult(pDev, &nStatus);
    endAttempt(pDev, nResult, nStatus, ulNow);
    return true;
  }
  if (pDev->nState == STATE_RUNNING &&
      ulNow - pDev->ulProgressMs >= g_fleet.ulStallSeconds * 1000UL) {
    pDev->bStalled = true;
    recordStopping(pDev, ulNow, NULL);
    logNote(pDev, "no request acknowledged for %lu s: stopped", g_fleet.ulStallSeconds);
    platStopChild(pDev->child);
  } else if (pDev->nState == STATE_STOPPING && !pDev->bKilled &&
             ulNow - pDev->ulStopMs >= STOP_GRACE_MS) {
    pDev->bKilled = true;
    logNote(pDev, "the tool did not end within %d s of being stopped: ended by force",
            STOP_GRACE_MS / 1000);
    platKillChild(pDev->child);
  }
  return false;
}

static void stopForGood(FleetDevice *pDev, unsigned long ulNow, const char *pszReason) {
  pDev->bInterrupted = true;
  recordStopping(pDev, ulNow, pszReason);
  platStopChild(pDev->child);
}

void interruptAttempt(FleetDevice *pDev, unsigned long ulNow) {
  if (pDev->nState != STATE_RUNNING) return;
  logNote(pDev, "interrupted: the tool is stopped");
  stopForGood(pDev, ulNow, NULL);
}

void stopAttemptFor(FleetDevice *pDev, unsigned long ulNow, const char *pszReason) {
  if (pDev->nState != STATE_RUNNING) return;
  logNote(pDev, "%s: the tool is stopped", pszReason);
  stopForGood(pDev, ulNow, pszReason);
}
