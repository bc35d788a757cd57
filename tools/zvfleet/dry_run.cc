// SPDX-License-Identifier: Apache-2.0
// The dry run (see dry_run.h).  Pages, requests and bytes are those of the
// tool's upload plan, as the site list's check made them.
#include "tools/zvfleet/dry_run.h"

#include <stdio.h>
#include <string.h>

#include "base/console.h"
#include "image/file_type.h"
#include "net/packet.h"
#include "net/receive_channel.h"
#include "net/transfer.h"
#include "tools/common/sha256.h"
#include "tools/zvfleet/checked_files.h"
#include "tools/zvfleet/file_plan.h"
#include "tools/zvfleet/fleet.h"
#include "tools/zvfleet/resume.h"
#include "tools/zvfleet/rollout.h"

static const char *fileKind(const FilePlan *pPlan) {
  switch (fileTypeOfLetter(pPlan->cPlainType)) {
    case FILE_TYPE_MAIN: return "plain HEX firmware";
    case FILE_TYPE_LOGO: return "plain logo";
    case FILE_TYPE_HTML: return "plain HTML";
    default: return pPlan->nIdataPages > 0 ? "update file, main image" : "update file";
  }
}

// The first device that this run updates with the same file sent the same
// way as device nDevice, by index (never one carried from an earlier run);
// -1 for none.
static int firstToUpdate(int nDevice) {
  int nFirst = earlierSameFile(nDevice);
  if (nFirst < 0) nFirst = nDevice;
  for (int i = nFirst; i < g_nDevices; i++)
    if (!g_aDevices[i].bEarlier && (i == nFirst || earlierSameFile(i) == nFirst)) return i;
  return -1;
}

// The files that this run sends: a resume's dry run counts only what runs.
static void printFiles(void) {
  int nFiles = 0;
  for (int i = 0; i < g_nDevices; i++)
    if (firstToUpdate(i) == i) nFiles++;
  consolePrintf("Files (%d):\n", nFiles);
  for (int i = 0; i < g_nDevices; i++) {
    const FleetDevice *pDev = &g_aDevices[i];
    if (firstToUpdate(i) != i) continue;
    int nDevices = 0;
    for (int j = i; j < g_nDevices; j++)
      if (!g_aDevices[j].bEarlier && firstToUpdate(j) == i) nDevices++;
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

// The address of the first (bLast: last) device of this run's wave.
static const char *waveEnd(bool bCanary, bool bLast) {
  const char *pszAddress = "";
  for (int i = 0; i < g_nDevices; i++) {
    const FleetDevice *pDev = &g_aDevices[i];
    if (pDev->bEarlier || isCanary(pDev) != bCanary) continue;
    pszAddress = pDev->szAddress;
    if (!bLast) break;
  }
  return pszAddress;
}

static void printWaves(void) {
  int nFirst = canaryDevices(), nAll = devicesToUpdate();
  if (nAll == 0) {
    consolePrintf("Waves: none, no device to update\n");
    return;
  }
  if (nFirst == nAll) {
    consolePrintf("Waves: 1, all %d device%s, %d at once\n", nAll, nAll == 1 ? "" : "s",
                  atOnce(nAll));
    return;
  }
  consolePrintf("Waves: 2\n  1, the canary: %d device%s (%s to %s), %d at once\n", nFirst,
                nFirst == 1 ? "" : "s", waveEnd(true, false), waveEnd(true, true), atOnce(nFirst));
  consolePrintf("  2, when every canary device was updated: the other %d (%s to %s), %d at once\n",
                nAll - nFirst, waveEnd(false, false), waveEnd(false, true), atOnce(nAll - nFirst));
}

static void printRules(void) {
  consolePrintf("Rules:\n");
  consolePrintf("  -j %d: devices updated at once\n", g_fleet.nJobs);
  consolePrintf("  --stall %lu: a device with no request acknowledged for %lu s is stopped\n",
                g_fleet.ulStallSeconds, g_fleet.ulStallSeconds);
  if (g_fleet.nRetries > 0)
    consolePrintf("  --retries %d: a device that did not answer, made no progress, met a receive "
                  "error or whose commit is unconfirmed runs again, up to %d time%s\n",
                  g_fleet.nRetries, g_fleet.nRetries, g_fleet.nRetries == 1 ? "" : "s");
  else
    consolePrintf("  --retries 0: no device runs again\n");
  if (canaryDevices() < devicesToUpdate())
    consolePrintf("  --canary %d: the first %d device%s that this run updates, then the others "
                  "only when all %d were updated\n",
                  g_fleet.nCanary, g_fleet.nCanary, g_fleet.nCanary == 1 ? "" : "s",
                  g_fleet.nCanary);
  else if (g_fleet.nCanary > 0)
    consolePrintf("  --canary %d: every device this run updates, one wave\n", g_fleet.nCanary);
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
  consolePrintf("  always: %d refusals of one file for a cause that may lie in it (bad CRC at "
                "the commit, bad version) stop its other devices while no device has accepted "
                "it\n",
                FILE_REFUSALS_TO_STOP);
}

// What a preflight would send: one model query per device, and nothing
// after it.
static void printPreflight(void) {
  consolePrintf("Dry run of a preflight of %s: nothing is sent, no log or report is written.\n",
                g_fleet.pszList);
  consolePrintf("Devices (%d), in the order they are asked:\n", g_nDevices);
  for (int i = 0; i < g_nDevices; i++) {
    const FleetDevice *pDev = &g_aDevices[i];
    consolePrintf("  %-15s  line %-4d  one model query (%d bytes) with its listed password, for "
                  "the model of %s\n",
                  pDev->szAddress, pDev->nLine, PACKET_HEADER_SIZE, pDev->szFile);
  }
  consolePrintf("In all: %d requests, %lu bytes, when nothing is lost; nothing after the model "
                "query goes to any device\n",
                g_nDevices, (unsigned long)g_nDevices * PACKET_HEADER_SIZE);
  consolePrintf("Rules:\n  -j %d: devices asked at once\n", atOnce(g_nDevices));
  consolePrintf("  a query unanswered after %d waits of %d ms is sent again; --stall %lu: a "
                "device silent for %lu s has not answered\n",
                UPDATE_WAITS, RECV_TIMEOUT_MS, g_fleet.ulStallSeconds, g_fleet.ulStallSeconds);
  if (g_fleet.nRetries > 0)
    consolePrintf("  --retries %d: a device that did not answer is asked again\n",
                  g_fleet.nRetries);
  consolePrintf("A preflight would start.\n");
}

bool printDryRun(void) {
  for (int i = 0; i < g_nDevices; i++) {
    FleetDevice *pDev = &g_aDevices[i];
    int nEarlier = earlierSameFile(i);
    if (nEarlier >= 0) {
      pDev->lFileSize = g_aDevices[nEarlier].lFileSize;
      memcpy(pDev->szSha256, g_aDevices[nEarlier].szSha256, sizeof(pDev->szSha256));
    } else if (!fileDigest(pDev->szPath, &pDev->lFileSize, pDev->szSha256)) {
      return false;
    }
  }
  if (!digestSiteList()) return false;
  if (g_fleet.bPreflight) {
    printPreflight();
    return true;
  }
  if (g_fleet.pszResume != NULL && !applyResume(g_fleet.pszResume)) return false;
  beginRollout();
  consolePrintf("Dry run of %s: nothing is sent, no log or report is written.\n", g_fleet.pszList);
  printFiles();
  printDevices();
  printWaves();
  printRules();
  consolePrintf("A run would start.\n");
  return true;
}
