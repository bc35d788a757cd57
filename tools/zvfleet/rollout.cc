// SPDX-License-Identifier: Apache-2.0
// The rules of a rollout (see rollout.h).
#include "tools/zvfleet/rollout.h"

#include <stdio.h>
#include <string.h>

#include "tools/zvfleet/progress.h"
#include "tools/zvfleet/results.h"

// The canary's verdict: 0 while its devices run, 1 passed, -1 failed.
static int s_nCanaryVerdict;

int canaryDevices(void) {
  return g_fleet.nCanary > 0 && g_fleet.nCanary < g_nDevices ? g_fleet.nCanary : g_nDevices;
}

static int isCanary(const FleetDevice *pDev) { return pDev - g_aDevices < canaryDevices(); }

int rolloutAllows(const FleetDevice *pDev) {
  return isCanary(pDev) || s_nCanaryVerdict > 0;
}

// Every device that waits is done, not started for the reason given.
static int holdWaiting(const char *pszReason) {
  int nHeld = 0;
  for (int i = 0; i < g_nDevices; i++) {
    FleetDevice *pDev = &g_aDevices[i];
    if (pDev->nState != STATE_WAITING) continue;
    snprintf(pDev->szHeld, sizeof(pDev->szHeld), "%s", pszReason);
    pDev->nState = STATE_DONE;
    nHeld++;
  }
  return nHeld;
}

static int judgeCanary(void) {
  if (s_nCanaryVerdict != 0 || canaryDevices() == g_nDevices) return 0;
  const FleetDevice *pFailed = NULL;
  for (int i = 0; i < canaryDevices(); i++) {
    const FleetDevice *pDev = &g_aDevices[i];
    if (pDev->nState != STATE_DONE) return 0;
    if (pDev->nResult != RESULT_UPDATED && pFailed == NULL) pFailed = pDev;
  }
  s_nCanaryVerdict = pFailed == NULL ? 1 : -1;
  if (pFailed == NULL) return 0;
  char szResult[FLEET_LINE_SIZE + 16], szReason[sizeof(g_aDevices[0].szHeld)];
  resultText(pFailed, szResult, sizeof(szResult));
  snprintf(szReason, sizeof(szReason), "canary failed: %s", szResult);
  int nHeld = holdWaiting(szReason);
  char szMessage[sizeof(szReason) + 80];
  snprintf(szMessage, sizeof(szMessage), "zvfleet: the canary %s ended \"%s\": %d device%s not started",
           pFailed->szAddress, szResult, nHeld, nHeld == 1 ? "" : "s");
  progressMessage(szMessage);
  return nHeld > 0;
}

int applyRolloutRules(void) { return judgeCanary(); }
