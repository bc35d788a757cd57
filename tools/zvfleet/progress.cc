// SPDX-License-Identifier: Apache-2.0
// Progress on the console (see progress.h).  The table is drawn with the
// cursor-up, erase-line and erase-below sequences; each frame, with the
// end lines that go above it, is written in one piece.
#include "tools/zvfleet/progress.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "base/console.h"
#include "tools/common/cli.h"
#include "tools/common/fixed_text.h"
#include "tools/zvfleet/file_plan.h"
#include "tools/zvfleet/results.h"
#include "tools/zvfleet/tool_output.h"

#define REDRAW_MS 250
#define QUIET_SHOWN_MS 10000  // from then on the state shows the silence
#define DEFAULT_COLUMNS 80     // a terminal that does not tell its size
#define DEFAULT_ROWS 24
#define ROW_SIZE 512

static int s_nColumns = DEFAULT_COLUMNS, s_nRows = DEFAULT_ROWS;

static bool s_bTable;
static unsigned long s_ulBegin, s_ulDrawn;
static int s_nDrawnLines;  // lines of the table now on the screen
static char s_szFrame[16384];
static int s_nFrame;
static bool s_bRedrawDue;

static void frameFlush(void) {
  consoleWrite(s_szFrame, s_nFrame);
  s_nFrame = 0;
}

static void frameAdd(const char *pszFormat, ...) ZV_PRINTF(1, 2);
static void frameAdd(const char *pszFormat, ...) {
  if (s_nFrame > (int)sizeof(s_szFrame) - 1024) frameFlush();
  va_list args;
  va_start(args, pszFormat);
  s_nFrame += formatTextV(s_szFrame + s_nFrame, (int)sizeof(s_szFrame) - s_nFrame, pszFormat, args);
  va_end(args);
}

// One row of the table, cut to the terminal's width so that it never
// wraps (a wrapped row would leave the rewind short).
static void rowAdd(const char *pszFormat, ...) ZV_PRINTF(1, 2);
static void rowAdd(const char *pszFormat, ...) {
  char szRow[ROW_SIZE];
  va_list args;
  va_start(args, pszFormat);
  int n = formatTextV(szRow, sizeof(szRow), pszFormat, args);
  va_end(args);
  n = std::min(n, s_nColumns - 1);
  frameAdd("%.*s\x1b[K\n", n, szRow);
}

// The terminal's size now; true when it changed.
static bool readTerminalSize(void) {
  int nColumns = DEFAULT_COLUMNS, nRows = DEFAULT_ROWS;
  if (!platTerminalSize(&nColumns, &nRows)) {
    nColumns = DEFAULT_COLUMNS;
    nRows = DEFAULT_ROWS;
  }
  nColumns = std::max(nColumns, 20);
  nRows = std::max(nRows, 4);
  bool bChanged = nColumns != s_nColumns || nRows != s_nRows;
  s_nColumns = nColumns;
  s_nRows = nRows;
  return bChanged;
}

// Back to where the table starts.
static void frameRewind(void) {
  if (s_nDrawnLines > 0) frameAdd("\x1b[%dA\r", s_nDrawnLines);
  s_nDrawnLines = 0;
}

static void elapsedText(unsigned long ulMs, char *pszText, int nSize) {
  unsigned long ulSeconds = ulMs / 1000;
  if (ulSeconds >= 3600)
    snprintf(pszText, (size_t)nSize, "%lu:%02lu:%02lu", ulSeconds / 3600, ulSeconds / 60 % 60,
             ulSeconds % 60);
  else
    snprintf(pszText, (size_t)nSize, "%02lu:%02lu", ulSeconds / 60, ulSeconds % 60);
}

static void stateText(const FleetDevice *pDev, unsigned long ulNow, char *pszText, int nSize) {
  unsigned long ulQuiet = ulNow - pDev->ulProgressMs;
  if (pDev->nState == STATE_STOPPING && pDev->bInterrupted)
    snprintf(pszText, (size_t)nSize, "stopping: interrupted");
  else if (pDev->nState == STATE_STOPPING)
    snprintf(pszText, (size_t)nSize, "stopping: no progress");
  else if (pDev->out.bNoReply)
    snprintf(pszText, (size_t)nSize, "no reply, resending");
  else if (ulQuiet >= QUIET_SHOWN_MS)
    snprintf(pszText, (size_t)nSize, "no progress %lu s of %lu", ulQuiet / 1000,
             g_fleet.ulStallSeconds);
  else
    snprintf(pszText, (size_t)nSize, "running");
  if (pDev->nAttempts > 1) textAppend(pszText, nSize, ", attempt %d", pDev->nAttempts);
}

// Running, stopping or checking: a row of the table.
static bool shownInTable(const FleetDevice *pDev) {
  return pDev->nState == STATE_RUNNING || pDev->nState == STATE_STOPPING ||
         pDev->nState == STATE_CHECKING;
}

// Appends pszPart to the row when the row then still fits the terminal's
// width; false when it would not.
static bool partAppend(char *pszRow, int nSize, const char *pszPart) {
  if ((int)(strlen(pszRow) + strlen(pszPart)) > s_nColumns - 1) return false;
  textAppend(pszRow, nSize, "%s", pszPart);
  return true;
}

// The totals: the counts first, whole (the longest, every count of four
// digits, takes 72 columns), then the pages and the time as far as they
// fit the row.
static void totalsAdd(int nRunning, int nWaiting, int nUpdated, int nNotUpdated, int nChecking,
                      long lSent, long lDue, unsigned long ulNow) {
  char szRow[ROW_SIZE], szPart[64], szTime[32];
  snprintf(szRow, sizeof(szRow), "running %d, waiting %d, updated %d, not updated %d", nRunning,
           nWaiting, nUpdated, nNotUpdated);
  if (g_fleet.ulConfirmSeconds > 0) textAppend(szRow, sizeof(szRow), ", online? %d", nChecking);
  elapsedText(ulNow - s_ulBegin, szTime, sizeof(szTime));
  snprintf(szPart, sizeof(szPart), "; pages %ld of %ld", lSent, lDue);
  if (partAppend(szRow, sizeof(szRow), szPart)) {
    snprintf(szPart, sizeof(szPart), "; %s", szTime);
    partAppend(szRow, sizeof(szRow), szPart);
  }
  rowAdd("%s", szRow);
}

static void drawTable(unsigned long ulNow) {
  if (readTerminalSize() && s_nDrawnLines > 0) {
    // Rows drawn for another width may have wrapped: the screen is
    // cleared and the table drawn afresh at its top.
    frameAdd("\x1b[H\x1b[J");
    s_nDrawnLines = 0;
  }
  frameRewind();
  rowAdd("%-15s  %-11s  %5s/%-5s  %7s  %s", "address", "phase", "sent", "due", "time", "state");
  // The header, the devices, "... and N more" and the totals fit the
  // window with a row to spare, so that nothing scrolls.
  int nRoom = s_nRows - 4;
  int nRunningAll = 0;
  for (int i = 0; i < g_nDevices; i++)
    if (shownInTable(&g_aDevices[i])) nRunningAll++;
  int nShown = nRunningAll <= nRoom + 1 ? nRunningAll : nRoom;
  int nRunning = 0, nWaiting = 0, nUpdated = 0, nNotUpdated = 0, nChecking = 0, nRows = 0;
  long lSent = 0, lDue = 0;
  for (int i = 0; i < g_nDevices; i++) {
    const FleetDevice *pDev = &g_aDevices[i];
    lDue += planPages(&pDev->plan);
    if (pDev->nState == STATE_WAITING) nWaiting++;
    if (pDev->nState == STATE_DONE && pDev->nResult == RESULT_UPDATED) {
      nUpdated++;
      lSent += planPages(&pDev->plan);
    } else if (pDev->nState == STATE_DONE) {
      nNotUpdated++;
    }
    if (!shownInTable(pDev)) continue;
    bool bChecking = pDev->nState == STATE_CHECKING;
    int nSent = bChecking ? planPages(&pDev->plan) : pagesSent(&pDev->out);
    lSent += nSent;
    if (bChecking) nChecking++; else nRunning++;
    if (++nRows > nShown) continue;
    char szTime[32], szState[64];
    elapsedText(ulNow - pDev->ulStartMs, szTime, sizeof(szTime));
    if (bChecking)
      snprintf(szState, sizeof(szState), "no echo reply, %lu/%lu s",
               (ulNow - pDev->ulCheckStartMs) / 1000, g_fleet.ulConfirmSeconds);
    else
      stateText(pDev, ulNow, szState, sizeof(szState));
    rowAdd("%-15s  %-11s  %5d/%-5d  %7s  %s", pDev->szAddress,
           bChecking ? "online?" : phaseName(pDev->out.nPhase), nSent, planPages(&pDev->plan),
           szTime, szState);
    s_nDrawnLines++;
  }
  if (nRows > nShown) {
    rowAdd("... and %d more", nRows - nShown);
    s_nDrawnLines++;
  }
  totalsAdd(nRunning, nWaiting, nUpdated, nNotUpdated, nChecking, lSent, lDue, ulNow);
  frameAdd("\x1b[J");
  s_nDrawnLines += 2;
  frameFlush();
  s_ulDrawn = ulNow;
  s_bRedrawDue = false;
}

void progressBegin(unsigned long ulNow) {
  s_ulBegin = s_ulDrawn = ulNow;
  s_nDrawnLines = s_nFrame = 0;
  // A terminal that cannot move its cursor (TERM=dumb), or one whose user
  // asks for no colour or effects (NO_COLOR), gets the plain event lines:
  // the companions' one rule.
  s_bTable = g_fleet.nProgress == PROGRESS_TABLE ||
             (g_fleet.nProgress == PROGRESS_AUTO && colourWanted());
  readTerminalSize();
  s_bRedrawDue = true;
}

// One event: a line of its own, with the time of day.
static void eventLine(const FleetDevice *pDev, const char *pszFormat, ...) ZV_PRINTF(2, 3);
static void eventLine(const FleetDevice *pDev, const char *pszFormat, ...) {
  char szText[FLEET_LINE_SIZE + 96];
  va_list args;
  va_start(args, pszFormat);
  vsnprintf(szText, sizeof(szText), pszFormat, args);
  va_end(args);
  PlatTime now;
  platLocalTime(&now);
  if (s_bTable) frameRewind();
  frameAdd("%02d:%02d:%02d %s %s%s\n", now.nHour, now.nMinute, now.nSecond, pDev->szAddress,
           szText, s_bTable ? "\x1b[K" : "");
  if (!s_bTable) frameFlush();
  s_bRedrawDue = true;
}

void progressMessage(const char *pszText) {
  if (s_bTable) frameRewind();
  frameAdd("%s%s\n", pszText, s_bTable ? "\x1b[K" : "");
  frameFlush();
  s_bRedrawDue = true;
}

void progressStarted(const FleetDevice *pDev) {
  if (s_bTable) return;
  if (pDev->nAttempts > 1)
    eventLine(pDev, "started, attempt %d", pDev->nAttempts);
  else
    eventLine(pDev, "started");
}

void progressPhase(const FleetDevice *pDev) {
  if (s_bTable) return;
  const FilePlan *pPlan = &pDev->plan;
  if (pDev->out.nPhase == PHASE_IDATA) {
    eventLine(pDev, "idata, %d pages", pPlan->nIdataPages);
  } else if (pDev->out.nPhase == PHASE_IMAGE) {
    int nPages = pPlan->nEndPage - pPlan->nFirstPage;
    eventLine(pDev, "image, %d page%s", nPages, nPages == 1 ? "" : "s");
  } else {
    eventLine(pDev, "%s", phaseName(pDev->out.nPhase));
  }
}

void progressEnded(const FleetDevice *pDev, bool bRetry, unsigned long ulAttemptMs) {
  char szResult[FLEET_LINE_SIZE + 32];
  resultText(pDev, szResult, sizeof(szResult));
  eventLine(pDev, "%s (%.1f s)%s", szResult, ulAttemptMs / 1000.0,
            bRetry ? ", to be tried again" : "");
}

void progressChecked(const FleetDevice *pDev) {
  char szResult[FLEET_LINE_SIZE + 32];
  resultText(pDev, szResult, sizeof(szResult));
  eventLine(pDev, "%s", szResult);
}

void progressTick(unsigned long ulNow) {
  if (!s_bTable) return;
  if (s_bRedrawDue || ulNow - s_ulDrawn >= REDRAW_MS) drawTable(ulNow);
}

void progressEnd(void) {
  if (!s_bTable) return;
  frameRewind();
  frameAdd("\x1b[J");
  frameFlush();
}
