// SPDX-License-Identifier: Apache-2.0
// The results table and the reports (see results.h).
#include "tools/zvfleet/results.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "base/console.h"
#include "tools/common/fixed_text.h"
#include "tools/zvfleet/counts.h"
#include "tools/zvfleet/tool_output.h"

#define FILE_COLUMN_MAX 32

void resultText(const FleetDevice *pDev, char *pszText, int nSize) {
  static const char *const apszResults[] = {
      "not run",      "updated",      "wrong password",
      "wrong model",  "refused: bad CRC", "refused: bad version",
      "no answer",    "failed",       "no progress",
      "unconfirmed: update it again", "interrupted", "not started"};
  int nResult = pDev->nResult >= RESULT_NONE && pDev->nResult <= RESULT_READY
                    ? pDev->nResult
                    : RESULT_FAILED;
  int nModel = pDev->out.nModel;
  if (nResult == RESULT_READY && nModel >= 0)
    snprintf(pszText, (size_t)nSize,
             "model %d and password answered " READY_CLAUSE, nModel);
  else if (nResult == RESULT_READY)
    snprintf(pszText, (size_t)nSize,
             "password answered, no model of its own " READY_CLAUSE);
  else if (g_fleet.bPreflight && nResult == RESULT_NOT_STARTED)
    snprintf(pszText, (size_t)nSize, "not asked: interrupted");
  else if (g_fleet.bPreflight && nResult == RESULT_WRONG_PASSWORD)
    snprintf(pszText, (size_t)nSize, "wrong password: mend line %d of the list", pDev->nLine);
  else if (g_fleet.bPreflight && nResult == RESULT_WRONG_MODEL && nModel >= 0)
    snprintf(pszText, (size_t)nSize,
             "wrong model: the device is of model %d; mend line %d of the list (its file)",
             nModel, pDev->nLine);
  else if (g_fleet.bPreflight && nResult == RESULT_WRONG_MODEL)
    snprintf(pszText, (size_t)nSize, "wrong model: mend line %d of the list (its file)",
             pDev->nLine);
  else if (nResult == RESULT_UPDATED && pDev->nOnline == ONLINE_CHECKING)
    snprintf(pszText, (size_t)nSize, "updated, not yet answering");
  else if (nResult == RESULT_UPDATED && pDev->nOnline == ONLINE_BACK)
    snprintf(pszText, (size_t)nSize, "updated, back online after %.1f s",
             pDev->ulOnlineAfterMs / 1000.0);
  else if (nResult == RESULT_UPDATED && pDev->nOnline == ONLINE_NOT_BACK &&
           g_fleet.ulConfirmSeconds > 0)
    snprintf(pszText, (size_t)nSize, "updated, not back online within %lu s",
             g_fleet.ulConfirmSeconds);
  else if (nResult == RESULT_UPDATED && pDev->nOnline == ONLINE_NOT_BACK)
    snprintf(pszText, (size_t)nSize, "updated, not back online");
  else if (nResult == RESULT_UPDATED && pDev->nOnline == ONLINE_UNFINISHED)
    snprintf(pszText, (size_t)nSize, "updated, not confirmed back online (its check did not end)");
  else if (nResult == RESULT_UPDATED && pDev->nOnline == ONLINE_NO_RESTART)
    snprintf(pszText, (size_t)nSize,
             "updated, not confirmed back online (it answered throughout: no restart seen)");
  else if (nResult == RESULT_NOT_STARTED && pDev->szHeld[0] != '\0')
    snprintf(pszText, (size_t)nSize, "not started (%s)", pDev->szHeld);
  else if (nResult == RESULT_INTERRUPTED && pDev->szHeld[0] != '\0')
    snprintf(pszText, (size_t)nSize, "stopped (%s)", pDev->szHeld);
  else if (nResult != RESULT_FAILED)
    snprintf(pszText, (size_t)nSize, "%s", apszResults[nResult]);
  else if (pDev->out.szLastLine[0] != '\0')
    snprintf(pszText, (size_t)nSize, "failed: %s", pDev->out.szLastLine);
  else
    snprintf(pszText, (size_t)nSize, "failed: the tool printed nothing");
}

bool resultSaysUpdated(const char *pszResult) {
  return strcmp(pszResult, "updated") == 0 || strncmp(pszResult, "updated, ", 9) == 0;
}

bool resultSaysReady(const char *pszResult) {
  size_t n = strlen(pszResult), nClause = sizeof(READY_CLAUSE) - 1;
  return n > nClause && strcmp(pszResult + n - nClause, READY_CLAUSE) == 0;
}

bool updatedAndBack(const FleetDevice *pDev) {
  return pDev->nResult == RESULT_UPDATED &&
         (pDev->nOnline == ONLINE_NONE || pDev->nOnline == ONLINE_BACK);
}

const char *stageText(const FleetDevice *pDev) {
  static const char *const apszStages[] = {
      "",
      "nothing sent",
      "model refused",
      "stopped in the idata pages",
      "stopped in the image pages (new idata committed, image not committed: update it again)",
      ("stopped after the old idata was cleared (image not committed: update it again before "
       "it restarts)"),
      "sent in part, not committed (the old file stands)",
      "committed but not confirmed"};
  if (pDev->nResult == RESULT_UPDATED || pDev->nResult == RESULT_READY) return "";
  if (pDev->nStage == STAGE_UNKNOWN) {
    static char s_szUnknown[160];
    // A main image's old idata may be cleared: it must not restart first.
    snprintf(s_szUnknown, sizeof(s_szUnknown),
             "what it holds is unknown (its tool ran; the last phase seen: %s): update it again%s",
             phaseName(pDev->out.nPhase), pDev->plan.nIdataPages > 0 ? " before it restarts" : "");
    return s_szUnknown;
  }
  return pDev->nStage > STAGE_NONE && pDev->nStage <= STAGE_UNCONFIRMED ? apszStages[pDev->nStage]
                                                                       : apszStages[STAGE_NOTHING_SENT];
}

// The result with what it leaves on the device, for the console.
static void rowResultText(const FleetDevice *pDev, char *pszText, int nSize) {
  if (pDev->bEarlier) {  // its result text begins "updated"
    char szOnline[FLEET_LINE_SIZE];
    resultText(pDev, szOnline, sizeof(szOnline));
    snprintf(pszText, (size_t)nSize, "updated in an earlier run, %s%s", pDev->szUpdatedAt,
             szOnline + strlen("updated"));
  } else {
    resultText(pDev, pszText, nSize);
  }
  const char *pszStage = stageText(pDev);
  if (*pszStage != '\0') textAppend(pszText, nSize, "; %s", pszStage);
  if (pDev->bLogFailed) textAppend(pszText, nSize, " (log incomplete)");
}

void statusText(const FleetDevice *pDev, char *pszText, int nSize, const char *pszNone) {
  if (pDev->nExitStatus < 0)
    snprintf(pszText, (size_t)nSize, "%s", pszNone);
  else
    snprintf(pszText, (size_t)nSize, "%d", pDev->nExitStatus);
}

void printResults(void) {
  int nFileWidth = 4;
  for (int i = 0; i < g_nDevices; i++) {
    int nLength = (int)strlen(g_aDevices[i].szFile);
    nFileWidth = std::max(nFileWidth, std::min(nLength, FILE_COLUMN_MAX));
  }
  RecordCounts counts;
  recordCounts(&counts);
  char szOnline[128] = "";
  if (counts.nBack + counts.nNotBack + counts.nNotConfirmed > 0 || g_fleet.ulConfirmSeconds > 0)
    snprintf(szOnline, sizeof(szOnline), "; %d back online, %d not back online", counts.nBack,
             counts.nNotBack);
  if (counts.nNotConfirmed > 0)
    textAppend(szOnline, sizeof(szOnline), ", %d not confirmed back online", counts.nNotConfirmed);
  char szNotAsked[64] = "";
  if (counts.nNotAsked > 0)
    snprintf(szNotAsked, sizeof(szNotAsked), ", %d not asked: interrupted", counts.nNotAsked);
  if (g_fleet.bPreflight)
    consolePrintf("Preflight: %d device%s, %d answered with model and password (key and image "
                  "are checked only by an update), %d did not%s; nothing was written to any "
                  "device\n",
                  g_nDevices, g_nDevices == 1 ? "" : "s", counts.nReady,
                  g_nDevices - counts.nReady - counts.nNotAsked, szNotAsked);
  else
    consolePrintf("Results: %d device%s, %d updated, %d not updated%s\n", g_nDevices,
                  g_nDevices == 1 ? "" : "s", counts.nUpdated, g_nDevices - counts.nUpdated,
                  szOnline);
  consolePrintf("%-15s  %-*s  %4s  %8s  %8s  %s\n", "address", nFileWidth, "file", "exit",
                "attempts", "duration", "result");
  for (int i = 0; i < g_nDevices; i++) {
    const FleetDevice *pDev = &g_aDevices[i];
    char szStatus[16], szResult[FLEET_LINE_SIZE + 256], szDuration[32];
    statusText(pDev, szStatus, sizeof(szStatus), "-");
    rowResultText(pDev, szResult, sizeof(szResult));
    snprintf(szDuration, sizeof(szDuration), "%.1f s",
             (pDev->ulRunMs + pDev->ulEarlierRunMs) / 1000.0);
    // A long file name keeps its end, which tells files apart.
    const char *pszFile = pDev->szFile;
    int nLength = (int)strlen(pszFile);
    const char *pszCut = nLength > nFileWidth ? "..." : "";
    if (nLength > nFileWidth) pszFile += nLength - nFileWidth + 3;
    consolePrintf("%-15s  %s%-*s  %4s  %8d  %8s  %s\n", pDev->szAddress, pszCut,
                  nFileWidth - (int)strlen(pszCut), pszFile, szStatus,
                  pDev->nAttempts + pDev->nEarlierAttempts, szDuration, szResult);
  }
}
