// SPDX-License-Identifier: Apache-2.0
// The check that an updated device is back on the network (see
// online_check.h).  Each device has a pinger of its own while it is
// checked; one that cannot be opened (the system out of sockets) is
// tried again at the next request, and the device counts as silent
// meanwhile.
#include "tools/zvfleet/online_check.h"

#include <stdio.h>

#include "tools/common/cli.h"
#include "tools/zvfleet/device_log.h"
#include "tools/zvfleet/progress.h"

// The system's text for the pending error, its code where it has none.
static void failureText(char *pszText, int nSize) {
  int nCode = pendingErrorText(pszText, nSize);
  if (pszText[0] == '\0') snprintf(pszText, (size_t)nSize, "error %d", nCode);
}

int onlineCheckPossible(void) {
  if (g_fleet.ulConfirmSeconds == 0 || g_nDevices == 0) return 1;
  PlatPinger pinger = platOpenPinger(g_aDevices[0].ulAddr);
  if (pinger != PLAT_NO_PINGER) {
    platClosePinger(pinger);
    return 1;
  }
  char szError[160];
  failureText(szError, sizeof(szError));
  errorPrintf("zvfleet: --confirm-online needs ICMP echo requests, which this system does not "
              "let zvfleet send: %s (on Linux allow this user's group in "
              "net.ipv4.ping_group_range, or run zvfleet as root); nothing was started\n",
              szError);
  return 0;
}

static void sendEcho(FleetDevice *pDev, unsigned long ulNow) {
  if (pDev->pinger == PLAT_NO_PINGER) pDev->pinger = platOpenPinger(pDev->ulAddr);
  pDev->ulEchoSentMs = ulNow;
  pDev->nEchoes++;
  if ((pDev->pinger == PLAT_NO_PINGER || !platSendEcho(pDev->pinger)) && !pDev->bEchoFailed) {
    pDev->bEchoFailed = 1;
    char szError[160];
    failureText(szError, sizeof(szError));
    logNote(pDev, "echo request %d could not be sent: %s (tried again each second)",
            pDev->nEchoes, szError);
  }
}

static void endCheck(FleetDevice *pDev, int nOnline, unsigned long ulNow) {
  if (pDev->pinger != PLAT_NO_PINGER) platClosePinger(pDev->pinger);
  pDev->pinger = PLAT_NO_PINGER;
  pDev->nOnline = nOnline;
  pDev->ulOnlineAfterMs = ulNow - pDev->ulCheckStartMs;
  pDev->nState = STATE_DONE;
}

void beginOnlineCheck(FleetDevice *pDev, unsigned long ulNow) {
  pDev->nState = STATE_CHECKING;
  pDev->nOnline = ONLINE_CHECKING;
  pDev->pinger = PLAT_NO_PINGER;
  pDev->ulCheckStartMs = ulNow;
  pDev->nEchoes = 0;
  pDev->bEchoFailed = 0;
  logNote(pDev, "updated: echo requests until it answers, for at most %lu s",
          g_fleet.ulConfirmSeconds);
  sendEcho(pDev, ulNow);
}

int watchOnlineCheck(FleetDevice *pDev, unsigned long ulNow) {
  if (pDev->pinger != PLAT_NO_PINGER && platEchoReplied(pDev->pinger)) {
    endCheck(pDev, ONLINE_BACK, ulNow);
    logNote(pDev, "back online after %.1f s: it answered an echo request",
            pDev->ulOnlineAfterMs / 1000.0);
    progressChecked(pDev);
    return 1;
  }
  if (ulNow - pDev->ulCheckStartMs >= g_fleet.ulConfirmSeconds * 1000UL) {
    endCheck(pDev, ONLINE_NOT_BACK, ulNow);
    logNote(pDev, "not back online within %lu s: no echo request answered",
            g_fleet.ulConfirmSeconds);
    progressChecked(pDev);
    return 1;
  }
  if (ulNow - pDev->ulEchoSentMs >= ECHO_INTERVAL_MS) sendEcho(pDev, ulNow);
  return 0;
}

void interruptOnlineCheck(FleetDevice *pDev) {
  if (pDev->nState != STATE_CHECKING) return;
  endCheck(pDev, ONLINE_INTERRUPTED, pDev->ulCheckStartMs);
  logNote(pDev, "interrupted before it answered an echo request");
}
