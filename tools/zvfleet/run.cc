// SPDX-License-Identifier: Apache-2.0
// zvfleet's run: updates a whole site of devices at once.  It reads the site
// list, runs one zvloader per device (at most -j at once), reads its
// output through a pipe into the device's log and the attempt's record,
// holds the debug port and files each debug message under the device that
// sent it, shows the progress, stops a device that makes no progress, runs
// again those that did not answer or whose commit is in doubt, asks an
// updated device for an echo reply until it is back on the network
// (--confirm-online), and ends with a table of results (and a report,
// rewritten whenever a device ends).  Ctrl+C or SIGTERM stops the run
// with its record kept.  The update protocol is the tool's.
#include <stdio.h>
#include <string.h>

#include "base/console.h"
#include "base/settings.h"
#include "platform/platform_companions.h"
#include "tools/common/cli.h"
#include "tools/zvfleet/checked_files.h"
#include "tools/zvfleet/children.h"
#include "tools/zvfleet/debug_port.h"
#include "tools/zvfleet/dry_run.h"
#include "tools/zvfleet/device_log.h"
#include "tools/zvfleet/fleet.h"
#include "tools/zvfleet/html_page.h"
#include "tools/zvfleet/model_query_child.h"
#include "tools/zvfleet/online_check.h"
#include "tools/zvfleet/options.h"
#include "tools/zvfleet/progress.h"
#include "tools/zvfleet/record.h"
#include "tools/zvfleet/results.h"
#include "tools/zvfleet/resume.h"
#include "tools/zvfleet/run.h"
#include "tools/zvfleet/rollout.h"
#include "tools/zvfleet/site_folder.h"
#include "tools/zvfleet/site_list.h"
#include "tools/zvfleet/summary.h"

// The children are looked at every tick: their output, their ends, a
// stall; the next device starts at once when one ends.
#define TICK_MS 5

// Wakes of the debug port, at most, that take what waits at the end.
#define DRAIN_WAKES 16

// The exit status of an interrupted run.
#define EXIT_INTERRUPTED 3

// The device that has waited longest of those that the rollout's rules
// let start, or null.
static FleetDevice *nextWaiting(void) {
  FleetDevice *pNext = NULL;
  if (recordWaiting() == 0) return NULL;
  for (int i = 0; i < g_nDevices; i++) {
    FleetDevice *pDev = &g_aDevices[i];
    if (pDev->nState == STATE_WAITING && rolloutAllows(pDev) &&
        (pNext == NULL || pDev->ulQueued < pNext->ulQueued))
      pNext = pDev;
  }
  return pNext;
}

// An interruption: no device starts any more, the running ones are
// stopped, and those that wait keep what they have (a device never
// started is "not started"); checks end at once.
static void interruptRun(unsigned long ulNow) {
  for (int i = 0; i < g_nDevices; i++) {
    FleetDevice *pDev = &g_aDevices[i];
    if (pDev->nState == STATE_RUNNING) interruptAttempt(pDev, ulNow);
    if (pDev->nState == STATE_CHECKING) interruptOnlineCheck(pDev);
  }
  recordMark("interrupted: the running devices are stopped, no other starts");
  recordInterruptWaiting();
}

// Devices updated at once: their tools run or their checks do.
static int busyDevices(void) { return recordBusy(NULL); }

static void runDevices(void) {
  unsigned long ulQueued = (unsigned long)g_nDevices;
  bool bInterrupted = false, bStopped = false;  // bStopped: the report cannot be written
  progressBegin(platMilliseconds());
  for (;;) {
    // What the tools printed is in the record before anything else happens.
    readAllOutput(platMilliseconds());
    if (!bInterrupted && platInterrupted()) {
      bInterrupted = true;
      interruptRun(platMilliseconds());
    }
    if (!bStopped && recordStopsStarts()) {
      bStopped = true;
      if (!recordFailed()) recordMark("the disk is full: the logs are cut, no device starts any more");
      recordInterruptWaiting();
    }
    if (!bInterrupted) applyRolloutRules(platMilliseconds());
    recordTick(platMilliseconds());
    FleetDevice *pNext;
    while (!bInterrupted && !bStopped && busyDevices() < g_fleet.nJobs &&
           (pNext = nextWaiting()) != NULL) {
      if (pNext->bEarlier)  // updated before: only checked again
        beginOnlineCheck(pNext, platMilliseconds());
      else
        startAttempt(pNext, platMilliseconds());
    }
    if (busyDevices() == 0 && (bInterrupted || bStopped || nextWaiting() == NULL)) break;
    waitDebugPort(TICK_MS);
    unsigned long ulNow = platMilliseconds();
    // Only the busy devices are looked at: a turn costs what -j does, not
    // what the site does.
    static short s_anBusy[FLEET_MAX_DEVICES];
    int nBusy = recordBusy(s_anBusy);
    for (int i = 0; i < nBusy; i++) {
      FleetDevice *pDev = &g_aDevices[s_anBusy[i]];
      // A device being checked keeps its place of -j until it is back.
      if (pDev->nState == STATE_CHECKING) {
        watchOnlineCheck(pDev, ulNow);
        continue;
      }
      if (pDev->nState != STATE_RUNNING && pDev->nState != STATE_STOPPING) continue;
      if (!watchAttempt(pDev, ulNow)) continue;
      if (pDev->nState == STATE_WAITING) pDev->ulQueued = ulQueued++;  // a retry: at the back
    }
    progressTick(ulNow);
  }
  // Debug messages that came with the last devices' ends are filed too.
  for (int i = 0; i < DRAIN_WAKES; i++) waitDebugPort(0);
  progressEnd();
}

static int runInSiteFolder(void);

static int runFleet(int argc, char **argv) {
  setDefaultSettings();
  if (argc > 3 && strcmp(argv[1], "--summary") == 0 && strcmp(argv[2], "--html") == 0)
    return printSummaryPage(argv[3], argc - 4, argv + 4);
  if (argc > 1 && strcmp(argv[1], "--summary") == 0) return printSummary(argc - 2, argv + 2);
  int nParsed = parseFleetOptions(argc - 1, argv + 1);
  if (nParsed != CLI_RUN) return nParsed;
  FILE *pLoader = fopen(g_fleet.szLoader, "rb");
  if (pLoader == NULL) {
    errorPrintf("zvfleet: no zvloader at %s (give its path with --loader)\n", g_fleet.szLoader);
    return 2;
  }
  fclose(pLoader);
  // The socket library first: the list's addresses are read with it.
  if (!platSocketStartup()) {
    printError("WSAStartup failed");
    return 1;
  }
  if (readSiteList(g_fleet.pszList) < 0 || !checkFleetOutputs()) return 2;
  recordIdentity();
  // A dry run checks what a run would check: echo requests too.
  if (!onlineCheckPossible()) return 2;
  if (g_fleet.bDryRun) return printDryRun() ? 0 : 2;
  // The site folder and the debug port are this run's before anything is
  // written or sent.
  if (!takeSiteFolder()) return 2;
  int nStatus = runInSiteFolder();
  closeDebugPort();
  releaseSiteFolder();
  return nStatus;
}

// A run refused before any device started leaves nothing in its folder.
static int refused(int nStatus) {
  removeCheckedCopies();
  abandonRunFolder();
  return nStatus;
}

static int runInSiteFolder(void) {
  int nPort = openDebugPort();
  if (nPort < 0) return refused(2);
  if (nPort == 0) {
    printError("zvfleet: cannot wait for the devices");
    return refused(1);
  }
  if (!prepareLogs() || !copyCheckedFiles() || !digestSiteList()) return refused(2);
  if (g_fleet.pszResume != NULL && !applyResume(g_fleet.pszResume)) return refused(2);
  beginRollout();
  // The journal and the report of a run not begun, every device "not
  // started", and the room for the final report, before any device's log
  // grows.
  if (!recordBeginRun()) return refused(FLEET_EXIT_REPORT_FAILED);
  platCatchInterruptions();
  if (g_fleet.nCanary > 0) recordMark("wave 1: the canary starts");

  runDevices();

  noteUnfiledDebugLines();
  printResults();
  RecordCounts counts;
  recordCounts(&counts);
  bool bReportWritten = recordFinish();
  platInterruptionHandled();
  if (!bReportWritten) return FLEET_EXIT_REPORT_FAILED;
  if (g_fleet.pszHtml != NULL && !writeHtmlPage(g_fleet.pszHtml, g_fleet.pszReport))
    return FLEET_EXIT_REPORT_FAILED;
  if (platInterrupted()) return EXIT_INTERRUPTED;
  if (g_fleet.bPreflight) return counts.nReady == g_nDevices ? FLEET_EXIT_ALL_READY : 1;
  if (counts.nUpdated < g_nDevices) return 1;
  return counts.nNotBack + counts.nNotConfirmed == 0 ? 0 : FLEET_EXIT_NOT_BACK_ONLINE;
}

int runZvfleet(int argc, char **argv) {
  // A preflight's child touches none of the run's state.
  if (argc > 1 && strcmp(argv[1], MODEL_QUERY_SWITCH) == 0)
    return runModelQueryChild(argc - 1, argv + 1);
  platInitProcess();
  // Nothing of an earlier run in this process (the tests run zvfleet in
  // process) carries over.
  memset(&g_fleet, 0, sizeof(g_fleet));
  memset(&g_run, 0, sizeof(g_run));
  memset(g_aDevices, 0, sizeof(g_aDevices));
  g_nDevices = 0;
  beginRollout();
  // Results that could not be written are no results.
  return finalStatus(runFleet(argc, argv), 2);
}
