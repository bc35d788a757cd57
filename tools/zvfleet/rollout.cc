// SPDX-License-Identifier: Apache-2.0
// The rules of a rollout (see rollout.h).
#include "tools/zvfleet/rollout.h"

#include <stdio.h>
#include <string.h>

#include "tools/zvfleet/children.h"
#include "tools/zvfleet/progress.h"
#include "tools/zvfleet/record.h"
#include "tools/zvfleet/results.h"

void beginRollout(void) {
  g_run.nCanaryVerdict = CANARY_RUNNING;
  g_run.bStopped = false;
  memset(g_run.abFileStopped, 0, sizeof(g_run.abFileStopped));
  g_run.nToUpdate = 0;
  g_run.bJudged = false;
  for (int i = 0; i < g_nDevices; i++) {
    g_run.anRank[i] = (short)(g_aDevices[i].bEarlier ? -1 : g_run.nToUpdate++);
    g_run.anFile[i] = (short)i;
    for (int j = 0; j < i && g_run.anFile[i] == i; j++)
      if (strcmp(g_aDevices[j].szPath, g_aDevices[i].szPath) == 0) g_run.anFile[i] = (short)j;
  }
}

int devicesToUpdate(void) { return g_run.nToUpdate; }

int canaryDevices(void) {
  return g_fleet.nCanary > 0 && g_fleet.nCanary < g_run.nToUpdate ? g_fleet.nCanary : g_run.nToUpdate;
}

bool isCanary(const FleetDevice *pDev) {
  int nRank = g_run.anRank[pDev - g_aDevices];
  return nRank >= 0 && nRank < canaryDevices();
}

bool rolloutAllows(const FleetDevice *pDev) {
  // A device carried from the run resumed waits only for its check.
  return pDev->bEarlier || isCanary(pDev) || g_run.nCanaryVerdict == CANARY_PASSED;
}

// Every device that waits (of the file at pszPath, or all) is done, not
// started for the reason given.
static int holdWaiting(const char *pszReason, const char *pszPath = NULL) {
  int nHeld = 0;
  for (int i = 0; i < g_nDevices; i++) {
    FleetDevice *pDev = &g_aDevices[i];
    if (pDev->nState != STATE_WAITING) continue;
    if (pszPath != NULL && strcmp(pDev->szPath, pszPath) != 0) continue;
    if (pDev->bEarlier) continue;  // it was updated: its check goes on
    recordHeld(pDev, pszReason);
    nHeld++;
  }
  return nHeld;
}

// A decision of the rules ("zvfleet: ..."): on the console, and among the
// run's marks without the program's name.
static void announce(const char *pszMessage) {
  progressMessage(pszMessage);
  recordMark(pszMessage + strlen("zvfleet: "));
}

static void judgeCanary(void) {
  if (g_run.nCanaryVerdict != CANARY_RUNNING || canaryDevices() == devicesToUpdate()) return;
  const FleetDevice *pFailed = NULL;
  for (int i = 0; i < g_nDevices; i++) {
    const FleetDevice *pDev = &g_aDevices[i];
    if (!isCanary(pDev)) continue;
    if (pDev->nState != STATE_DONE) return;
    if (!updatedAndBack(pDev) && pFailed == NULL) pFailed = pDev;
  }
  if (pFailed == NULL) {
    g_run.nCanaryVerdict = CANARY_PASSED;
    recordMark("canary passed: wave 2, the other devices, starts");
    return;
  }
  g_run.nCanaryVerdict = CANARY_FAILED;
  char szResult[FLEET_LINE_SIZE + 16], szReason[sizeof(g_aDevices[0].szHeld)];
  resultText(pFailed, szResult, sizeof(szResult));
  snprintf(szReason, sizeof(szReason), "canary failed: %s", szResult);
  int nHeld = holdWaiting(szReason);
  char szMessage[sizeof(szReason) + 80];
  snprintf(szMessage, sizeof(szMessage), "zvfleet: the canary %s ended \"%s\": %d device%s not started",
           pFailed->szAddress, szResult, nHeld, nHeld == 1 ? "" : "s");
  announce(szMessage);
}

// A device that failed on its own (not held back or stopped by a rule).
static bool failedItself(const FleetDevice *pDev) {
  return pDev->nState == STATE_DONE && !updatedAndBack(pDev) &&
         pDev->nResult != RESULT_NOT_STARTED && pDev->szHeld[0] == '\0';
}

static void emergencyStop(void) {
  if (g_run.bStopped || (g_fleet.nMaxFailures == 0 && g_fleet.nMaxFailureRate < 0)) return;
  int nFinished = 0, nFailed = 0;
  for (int i = 0; i < g_nDevices; i++) {
    const FleetDevice *pDev = &g_aDevices[i];
    if (pDev->bEarlier) continue;  // updated in the run resumed, not in this one
    if (pDev->nAttempts == 0) continue;  // never started: neither finished nor failed
    if (pDev->nState == STATE_DONE && pDev->szHeld[0] == '\0') nFinished++;
    if (failedItself(pDev)) nFailed++;
  }
  char szRule[96];
  if (g_fleet.nMaxFailures > 0 && nFailed >= g_fleet.nMaxFailures)
    snprintf(szRule, sizeof(szRule), "--max-failures %d", g_fleet.nMaxFailures);
  else if (g_fleet.nMaxFailureRate >= 0 && nFinished >= FAILURE_RATE_MIN_FINISHED &&
           nFailed * 100 > g_fleet.nMaxFailureRate * nFinished)
    snprintf(szRule, sizeof(szRule), "%d of %d finished, more than --max-failure-rate %d %%",
             nFailed, nFinished, g_fleet.nMaxFailureRate);
  else
    return;
  g_run.bStopped = true;
  char szReason[64];
  snprintf(szReason, sizeof(szReason), "rollout stopped after %d failure%s", nFailed,
           nFailed == 1 ? "" : "s");
  int nHeld = holdWaiting(szReason);
  char szMessage[256];
  snprintf(szMessage, sizeof(szMessage),
           "zvfleet: %d failure%s (%s): the rollout stops, %d device%s not started", nFailed,
           nFailed == 1 ? "" : "s", szRule, nHeld, nHeld == 1 ? "" : "s");
  announce(szMessage);
}

// A refusal whose cause may lie in the file.  A wrong model is the list's
// fault (it named a device of another model; nothing was sent to it).
static bool fileRefusal(int nResult) {
  return nResult == RESULT_BAD_CRC || nResult == RESULT_BAD_VERSION;
}

// True when a device (of this run or of the run resumed) took the file at
// pszPath: the file is sound, and refusals are the devices' own.
static bool fileAccepted(int nFile) {
  for (int i = nFile; i < g_nDevices; i++) {
    const FleetDevice *pDev = &g_aDevices[i];
    if (g_run.anFile[i] == nFile &&
        (pDev->nResult == RESULT_UPDATED || pDev->out.bTransfered))
      return true;
  }
  return false;
}

// Stops the other devices of a file that FILE_REFUSALS_TO_STOP devices
// refused while no device had accepted it.  One that has reached the
// clearing or the commit finishes: its commit may take, and stopping it
// then leaves the device worst off.
static void stopRefusedFiles(unsigned long ulNow) {
  for (int i = 0; i < g_nDevices; i++) {
    const FleetDevice *pFirst = &g_aDevices[i];
    if (g_run.anFile[i] != i || g_run.abFileStopped[i] || fileAccepted(i)) continue;
    int nRefusals = 0;
    const FleetDevice *pLast = NULL;
    for (int j = i; j < g_nDevices; j++) {
      const FleetDevice *pDev = &g_aDevices[j];
      if (g_run.anFile[j] != i || !failedItself(pDev) ||
          !fileRefusal(pDev->nResult))
        continue;
      nRefusals++;
      pLast = pDev;
    }
    if (nRefusals < FILE_REFUSALS_TO_STOP) continue;
    g_run.abFileStopped[i] = true;
    char szResult[48], szReason[sizeof(g_aDevices[0].szHeld)];
    resultText(pLast, szResult, sizeof(szResult));
    static const char szRefused[] = "refused: ";
    const size_t nRefused = sizeof(szRefused) - 1;
    const char *pszCause =
        strncmp(szResult, szRefused, nRefused) == 0 ? szResult + nRefused : szResult;
    snprintf(szReason, sizeof(szReason), "%s refused by %d devices (%s)", pFirst->szFile,
             nRefusals, pszCause);
    int nStopped = 0;
    for (int j = i; j < g_nDevices; j++) {
      FleetDevice *pDev = &g_aDevices[j];
      if (pDev->nState != STATE_RUNNING || g_run.anFile[j] != i ||
          pDev->out.nPhase == PHASE_CLEARING || pDev->out.nPhase == PHASE_COMMIT)
        continue;
      stopAttemptFor(pDev, ulNow, szReason);
      nStopped++;
    }
    int nHeld = holdWaiting(szReason, pFirst->szPath);
    if (nStopped == 0 && nHeld == 0) continue;  // nothing of it left to stop
    char szMessage[sizeof(szReason) + 96];
    snprintf(szMessage, sizeof(szMessage), "zvfleet: %s: %d device%s stopped, %d not started",
             szReason, nStopped, nStopped == 1 ? "" : "s", nHeld);
    announce(szMessage);
  }
}

void applyRolloutRules(unsigned long ulNow) {
  // The rules judge the devices' ends: nothing to do while no record changed.
  if (g_run.bJudged && recordChanges() == g_run.ulJudged) return;
  g_run.bJudged = true;
  g_run.ulJudged = recordChanges();
  judgeCanary();
  stopRefusedFiles(ulNow);
  emergencyStop();
}
