// SPDX-License-Identifier: Apache-2.0
// The dry run (see dry_run.h).  Pages, requests and bytes are those of the
// tool's upload plan, as the site list's check made them.
#include "tools/zvfleet/dry_run.h"

#include <stdio.h>
#include <string.h>

#include "app/console.h"
#include "tools/common/sha256.h"
#include "tools/zvfleet/checked_files.h"
#include "tools/zvfleet/file_plan.h"
#include "tools/zvfleet/fleet.h"
#include "tools/zvfleet/resume.h"
#include "tools/zvfleet/rollout.h"

// The device of an earlier line that sends the same file the same way; -1.
static int earlierSameFile(int nDevice) {
  const FleetDevice *pDev = &g_aDevices[nDevice];
  for (int i = 0; i < nDevice; i++)
    if (strcmp(g_aDevices[i].szPath, pDev->szPath) == 0 &&
        g_aDevices[i].plan.cPlainType == pDev->plan.cPlainType)
      return i;
  return -1;
}

static const char *fileKind(const FilePlan *pPlan) {
  if (pPlan->cPlainType == 'M') return "plain HEX firmware";
  if (pPlan->cPlainType == 'L') return "plain logo";
  if (pPlan->cPlainType == 'H') return "plain HTML";
  return pPlan->nIdataPages > 0 ? "update file, main image" : "update file";
}

static void printFiles(void) {
  int nFiles = 0;
  for (int i = 0; i < g_nDevices; i++)
    if (earlierSameFile(i) < 0) nFiles++;
  consolePrintf("Files (%d):\n", nFiles);
  for (int i = 0; i < g_nDevices; i++) {
    const FleetDevice *pDev = &g_aDevices[i];
    if (earlierSameFile(i) >= 0) continue;
    int nDevices = 0;
    for (int j = i; j < g_nDevices; j++)
      if (j == i || earlierSameFile(j) == i) nDevices++;
    char szPages[64];
    if (pDev->plan.nIdataPages > 0)
      snprintf(szPages, sizeof(szPages), "%d idata, image %d to %d", pDev->plan.nIdataPages,
               pDev->plan.nFirstPage, pDev->plan.nEndPage - 1);
    else
      snprintf(szPages, sizeof(szPages), "%d to %d", pDev->plan.nFirstPage,
               pDev->plan.nEndPage - 1);
    consolePrintf("  %s: %s, %ld bytes, SHA-256 %s, %d pages (%s), for %d device%s\n",
                  pDev->szFile, fileKind(&pDev->plan), pDev->lFileSize, pDev->szSha256,
                  planPages(&pDev->plan), szPages, nDevices, nDevices == 1 ? "" : "s");
  }
}

static void printDevices(void) {
  unsigned long ulRequests = 0, ulBytes = 0;
  consolePrintf("Devices (%d), in the order they start:\n", g_nDevices);
  for (int i = 0; i < g_nDevices; i++) {
    const FleetDevice *pDev = &g_aDevices[i];
    if (pDev->bEarlier) {
      consolePrintf("  %-15s  line %-4d  %s: updated in an earlier run, %s: not run\n",
                    pDev->szAddress, pDev->nLine, pDev->szFile, pDev->szUpdatedAt);
      continue;
    }
    consolePrintf("  %-15s  line %-4d  %s: %d pages, %u requests, %u bytes\n", pDev->szAddress,
                  pDev->nLine, pDev->szFile, planPages(&pDev->plan), pDev->plan.ulRequests,
                  pDev->plan.ulWireBytes);
    ulRequests += pDev->plan.ulRequests;
    ulBytes += pDev->plan.ulWireBytes;
  }
  consolePrintf("In all: %lu requests, %lu bytes, when nothing is lost\n", ulRequests, ulBytes);
}

static int atOnce(int nDevices) { return g_fleet.nJobs < nDevices ? g_fleet.nJobs : nDevices; }

static void printWaves(void) {
  int nFirst = canaryDevices();
  if (nFirst == g_nDevices) {
    consolePrintf("Waves: 1, all %d device%s, %d at once\n", g_nDevices,
                  g_nDevices == 1 ? "" : "s", atOnce(g_nDevices));
    return;
  }
  consolePrintf("Waves: 2\n  1, the canary: %d device%s (%s to %s), %d at once\n", nFirst,
                nFirst == 1 ? "" : "s", g_aDevices[0].szAddress, g_aDevices[nFirst - 1].szAddress,
                atOnce(nFirst));
  consolePrintf("  2, when every canary device was updated: the other %d (%s to %s), %d at once\n",
                g_nDevices - nFirst, g_aDevices[nFirst].szAddress,
                g_aDevices[g_nDevices - 1].szAddress, atOnce(g_nDevices - nFirst));
}

static void printRules(void) {
  consolePrintf("Rules:\n");
  consolePrintf("  -j %d: devices updated at once\n", g_fleet.nJobs);
  consolePrintf("  --stall %lu: a device with no request acknowledged for %lu s is stopped\n",
                g_fleet.ulStallSeconds, g_fleet.ulStallSeconds);
  if (g_fleet.nRetries > 0)
    consolePrintf("  --retries %d: a device that did not answer, made no progress, met a receive "
                  "error or whose commit is unconfirmed runs again, up to %d times\n",
                  g_fleet.nRetries, g_fleet.nRetries);
  else
    consolePrintf("  --retries 0: no device runs again\n");
  if (canaryDevices() < g_nDevices)
    consolePrintf("  --canary %d: the others start only when all %d were updated\n",
                  g_fleet.nCanary, g_fleet.nCanary);
  else if (g_fleet.nCanary > 0)
    consolePrintf("  --canary %d: the whole list, one wave\n", g_fleet.nCanary);
  else
    consolePrintf("  no canary: every device may start at once\n");
  if (g_fleet.nMaxFailures > 0)
    consolePrintf("  --max-failures %d: after %d failed devices no new device starts\n",
                  g_fleet.nMaxFailures, g_fleet.nMaxFailures);
  else
    consolePrintf("  no --max-failures: no limit on failed devices\n");
  if (g_fleet.nMaxFailureRate >= 0)
    consolePrintf("  --max-failure-rate %d: no new device starts once more than %d %% of the "
                  "finished devices failed (counted from %d finished on)\n",
                  g_fleet.nMaxFailureRate, g_fleet.nMaxFailureRate, FAILURE_RATE_MIN_FINISHED);
  else
    consolePrintf("  no --max-failure-rate: no limit on the share of failed devices\n");
  if (g_fleet.ulConfirmSeconds > 0)
    consolePrintf("  --confirm-online %lu: each updated device is sent echo requests until it "
                  "answers, for at most %lu s; one that does not counts as failed for the canary "
                  "and the stops\n",
                  g_fleet.ulConfirmSeconds, g_fleet.ulConfirmSeconds);
  consolePrintf("  always: %d refusals of one file for a cause in the file (bad CRC at the "
                "commit, bad version, wrong model) stop its other devices\n",
                FILE_REFUSALS_TO_STOP);
}

int printDryRun(void) {
  for (int i = 0; i < g_nDevices; i++) {
    FleetDevice *pDev = &g_aDevices[i];
    int nEarlier = earlierSameFile(i);
    if (nEarlier >= 0) {
      pDev->lFileSize = g_aDevices[nEarlier].lFileSize;
      memcpy(pDev->szSha256, g_aDevices[nEarlier].szSha256, sizeof(pDev->szSha256));
    } else if (!fileDigest(pDev->szPath, &pDev->lFileSize, pDev->szSha256)) {
      return 0;
    }
  }
  if (!digestSiteList()) return 0;
  if (g_fleet.pszResume != NULL && !applyResume(g_fleet.pszResume)) return 0;
  consolePrintf("Dry run of %s: nothing is sent, no log or report is written.\n", g_fleet.pszList);
  printFiles();
  printDevices();
  printWaves();
  printRules();
  consolePrintf("A run would start.\n");
  return 1;
}
