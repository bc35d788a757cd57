// SPDX-License-Identifier: Apache-2.0
// The run of the children (see children.h).  The child's command line
// holds the password; it is never printed, and the log shows the command
// with the password left out.
#include "tools/zvfleet/children.h"

#include <stdio.h>
#include <string.h>

#include "tools/zvfleet/device_log.h"
#include "tools/zvfleet/progress.h"
#include "tools/zvfleet/results.h"
#include "tools/zvfleet/tool_output.h"

#define MAX_ARGUMENTS 16

// The size of the log before the attempt: where its output will start.
static long logSize(const char *pszLog) {
  FILE *pFile = fopen(pszLog, "rb");
  if (pFile == NULL) return 0;
  long lSize = fseek(pFile, 0, SEEK_END) == 0 ? ftell(pFile) : 0;
  fclose(pFile);
  return lSize < 0 ? 0 : lSize;
}

// The extra options as one text, for the log.
static void extrasText(const FleetDevice *pDev, char *pszText, int nSize) {
  int n = 0;
  pszText[0] = '\0';
  const char *pszOption = pDev->szExtras;
  for (int i = 0; i < pDev->nExtras && n >= 0 && n < nSize; i++) {
    n += snprintf(pszText + n, (size_t)(nSize - n), " %s", pszOption);
    pszOption += strlen(pszOption) + 1;
  }
}

static void endAttempt(FleetDevice *pDev, int nResult, int nStatus, unsigned long ulNow) {
  unsigned long ulAttemptMs = ulNow - pDev->ulStartMs;
  pDev->ulRunMs += ulAttemptMs;
  pDev->nExitStatus = nStatus;
  pDev->nResult = nResult;
  int bRetry = (nResult == RESULT_NO_ANSWER || pDev->bReceiveError) &&
               pDev->nAttempts <= g_fleet.nRetries;
  char szResult[FLEET_LINE_SIZE + 32];
  resultText(pDev, szResult, sizeof(szResult));
  if (nStatus >= 0)
    logNote(pDev, "attempt %d ended: %s (exit status %d, %.1f s)", pDev->nAttempts, szResult,
            nStatus, ulAttemptMs / 1000.0);
  else
    logNote(pDev, "attempt %d ended: %s (%.1f s)", pDev->nAttempts, szResult,
            ulAttemptMs / 1000.0);
  pDev->nState = bRetry ? STATE_WAITING : STATE_DONE;
  progressEnded(pDev, bRetry, ulAttemptMs);
}

int startAttempt(FleetDevice *pDev, unsigned long ulNow) {
  pDev->nAttempts++;
  pDev->nState = STATE_RUNNING;
  pDev->ulStartMs = pDev->ulLastOutputMs = ulNow;
  beginToolOutput(pDev, logSize(pDev->szLog));
  char szExtras[FLEET_TEXT_SIZE + 16];
  extrasText(pDev, szExtras, sizeof(szExtras));
  logNote(pDev, "attempt %d: zvloader -IP %s -P (password) -f %s%s", pDev->nAttempts,
          pDev->szAddress, pDev->szPath, szExtras);

  const char *apszArgv[MAX_ARGUMENTS] = {g_fleet.szLoader, "-IP", pDev->szAddress,
                                         "-P", pDev->szPassword, "-f", pDev->szPath};
  int nArgs = 7;
  const char *pszOption = pDev->szExtras;
  for (int i = 0; i < pDev->nExtras && nArgs < MAX_ARGUMENTS - 1; i++) {
    apszArgv[nArgs++] = pszOption;
    pszOption += strlen(pszOption) + 1;
  }
  apszArgv[nArgs] = NULL;
  progressStarted(pDev);
  if (platStartChild(apszArgv, NULL, pDev->szLog, &pDev->child)) return 1;
  snprintf(pDev->szLastLine, sizeof(pDev->szLastLine), "zvloader could not be started");
  endAttempt(pDev, RESULT_FAILED, -1, ulNow);
  return 0;
}

int watchAttempt(FleetDevice *pDev, unsigned long ulNow, int bRead) {
  if (bRead && readToolOutput(pDev, 0)) pDev->ulLastOutputMs = ulNow;
  int nStatus = 0;
  if (platWaitChild(pDev->child, 0, &nStatus)) {
    readToolOutput(pDev, 1);
    if (pDev->bStalled) nStatus = -1;  // stopped: no status of its own
    endAttempt(pDev, attemptResult(pDev, nStatus), nStatus, ulNow);
    return 1;
  }
  if (bRead && pDev->nState == STATE_RUNNING &&
      ulNow - pDev->ulLastOutputMs >= g_fleet.ulStallSeconds * 1000UL) {
    pDev->bStalled = 1;
    pDev->nState = STATE_STOPPING;
    logNote(pDev, "no output from the tool for %lu s: stopped", g_fleet.ulStallSeconds);
    platStopChild(pDev->child);
  }
  return 0;
}
