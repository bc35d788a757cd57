// SPDX-License-Identifier: Apache-2.0
// zvfleet: updates a whole site of devices at once.  It reads the site
// list, runs one zvloader per device (at most -j at once) with its output
// in the device's log, holds the debug port and files each debug message
// under the device that sent it, shows the progress, stops a device that
// stays silent, runs again those that did not answer, and ends with a
// table of results (and a report).  The update protocol is the tool's.
#include <stdio.h>

#include "app/console.h"
#include "app/settings.h"
#include "platform/platform.h"
#include "tools/zvfleet/children.h"
#include "tools/zvfleet/debug_port.h"
#include "tools/zvfleet/device_log.h"
#include "tools/zvfleet/fleet.h"
#include "tools/zvfleet/options.h"
#include "tools/zvfleet/progress.h"
#include "tools/zvfleet/results.h"
#include "tools/zvfleet/site_list.h"

// The children's ends are looked for often, so that the next device starts
// at once; their logs are read less often, which is enough for the progress.
#define TICK_MS 5
#define READ_MS 200

// The device that has waited longest, or null.
static FleetDevice *nextWaiting(void) {
  FleetDevice *pNext = NULL;
  for (int i = 0; i < g_nDevices; i++) {
    FleetDevice *pDev = &g_aDevices[i];
    if (pDev->nState == STATE_WAITING && (pNext == NULL || pDev->ulQueued < pNext->ulQueued))
      pNext = pDev;
  }
  return pNext;
}

static void runDevices(void) {
  unsigned long ulQueued = 0;
  for (int i = 0; i < g_nDevices; i++) {
    g_aDevices[i].nState = STATE_WAITING;
    g_aDevices[i].ulQueued = ulQueued++;
    g_aDevices[i].nExitStatus = -1;
  }
  int nRunning = 0;
  unsigned long ulRead = platMilliseconds();
  progressBegin(ulRead);
  for (;;) {
    FleetDevice *pNext;
    while (nRunning < g_fleet.nJobs && (pNext = nextWaiting()) != NULL)
      nRunning += startAttempt(pNext, platMilliseconds());
    if (nRunning == 0 && nextWaiting() == NULL) break;
    waitDebugPort(TICK_MS);
    unsigned long ulNow = platMilliseconds();
    int bRead = ulNow - ulRead >= READ_MS;
    if (bRead) ulRead = ulNow;
    for (int i = 0; i < g_nDevices; i++) {
      FleetDevice *pDev = &g_aDevices[i];
      if (pDev->nState != STATE_RUNNING && pDev->nState != STATE_STOPPING) continue;
      if (!watchAttempt(pDev, ulNow, bRead)) continue;
      nRunning--;
      if (pDev->nState == STATE_WAITING) pDev->ulQueued = ulQueued++;  // a retry: at the back
    }
    progressTick(ulNow);
  }
  progressEnd();
}

int main(int argc, char **argv) {
  platInitProcess();
  setDefaultSettings();
  int nParsed = parseFleetOptions(argc - 1, argv + 1);
  if (nParsed <= 0) return nParsed < 0 ? 0 : 2;
  FILE *pLoader = fopen(g_fleet.szLoader, "rb");
  if (pLoader == NULL) {
    consolePrintf("zvfleet: no zvloader at %s (give its path with --loader)\n", g_fleet.szLoader);
    return 2;
  }
  fclose(pLoader);
  // The socket library first: the list's addresses are read with it.
  if (!platSocketStartup()) {
    printError("WSAStartup failed");
    return 1;
  }
  if (readSiteList(g_fleet.pszList) < 0) return 2;
  if (g_fleet.pszReport != NULL && !openReport(g_fleet.pszReport)) return 2;
  if (!prepareLogs()) return 2;
  if (!openDebugPort()) {
    printError("zvfleet: cannot wait for the devices");
    return 1;
  }

  runDevices();

  printResults();
  int bAllUpdated = 1;
  for (int i = 0; i < g_nDevices; i++)
    if (g_aDevices[i].nResult != RESULT_UPDATED) bAllUpdated = 0;
  if (g_fleet.pszReport != NULL && !writeReport(g_fleet.pszReport)) bAllUpdated = 0;
  return bAllUpdated ? 0 : 1;
}
