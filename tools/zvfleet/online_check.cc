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
#include "tools/zvfleet/record.h"

// The system's text for the pending error, its code where it has none.
static void failureText(char *pszText, int nSize) {
  int nCode = pendingErrorText(pszText, nSize);
  if (pszText[0] == '\0') snprintf(pszText, (size_t)nSize, "error %d", nCode);
}

bool onlineCheckPossible(void) {
  if (g_fleet.ulConfirmSeconds == 0 || g_nDevices == 0) return true;
  PlatPinger pinger = platOpenPinger(g_aDevices[0].ulAddr);
  if (pinger != PLAT_NO_PINGER) {
    platClosePinger(pinger);
    return true;
  }
  char szError[160];
  failureText(szError, sizeof(szError));
  errorPrintf("zvfleet: --confirm-online needs ICMP echo requests, which this system does not "
              "let zvfleet send: %s (on Linux allow this user's group in "
              "net.ipv4.ping_group_range, or run zvfleet as root); nothing was started\n",
              szError);
  return false;
}

static void sendEcho(FleetDevice *pDev, unsigned long ulNow) {
  // The request before went unanswered: the device is off the network.
  if (pDev->nEchoes > 0 && !pDev->bAnswered) {
    if (!pDev->bSilent)
      logNote(pDev, "echo request %d went unanswered: off the network (restarting)", pDev->nEchoes);
    pDev->bSilent = true;
  }
  // A pinger tells once that a reply came: a fresh one hears whether this
  // request is answered.
  if (pDev->bAnswered && pDev->pinger != PLAT_NO_PINGER) {
    platClosePinger(pDev->pinger);
    pDev->pinger = PLAT_NO_PINGER;
  }
  pDev->bAnswered = false;
  if (pDev->pinger == PLAT_NO_PINGER) pDev->pinger = platOpenPinger(pDev->ulAddr);
  pDev->ulEchoSentMs = ulNow;
  pDev->nEchoes++;
  if ((pDev->pinger == PLAT_NO_PINGER || !platSendEcho(pDev->pinger)) && !pDev->bEchoFailed) {
    pDev->bEchoFailed = true;
    char szError[160];
    failureText(szError, sizeof(szError));
    logNote(pDev, "echo request %d could not be sent: %s (tried again each second)",
            pDev->nEchoes, szError);
  }
}

static void endCheck(FleetDevice *pDev, int nOnline, unsigned long ulNow) {
  if (pDev->pinger != PLAT_NO_PINGER) platClosePinger(pDev->pinger);
  pDev->pinger = PLAT_NO_PINGER;
  recordCheckEnded(pDev, nOnline, ulNow - pDev->ulCheckStartMs);
}

void beginOnlineCheck(FleetDevice *pDev, unsigned long ulNow) {
  pDev->pinger = PLAT_NO_PINGER;
  pDev->nEchoes = 0;
  pDev->bEchoFailed = pDev->bSilent = pDev->bAnswered = pDev->bEarlyAnswer = false;
  recordCheckBegun(pDev, ulNow);
  logNote(pDev, "updated: echo requests until it answers, for at most %lu s",
          g_fleet.ulConfirmSeconds);
  sendEcho(pDev, ulNow);
}

void watchOnlineCheck(FleetDevice *pDev, unsigned long ulNow) {
  if (pDev->pinger != PLAT_NO_PINGER && platEchoReplied(pDev->pinger)) {
    if (pDev->bSilent) {
      endCheck(pDev, ONLINE_BACK, ulNow);
      logNote(pDev, "back online after %.1f s: silent, then it answered an echo request",
              pDev->ulOnlineAfterMs / 1000.0);
      progressChecked(pDev);
      return;
    }
    pDev->bAnswered = true;
    if (!pDev->bEarlyAnswer)
      logNote(pDev, "answered an echo request %.1f s after the update, before it was ever "
                    "silent: not taken as back (it may not have restarted yet)",
              (ulNow - pDev->ulCheckStartMs) / 1000.0);
    pDev->bEarlyAnswer = true;
  }
  if (ulNow - pDev->ulCheckStartMs >= g_fleet.ulConfirmSeconds * 1000UL) {
    bool bNoRestart = pDev->bEarlyAnswer && !pDev->bSilent;
    endCheck(pDev, bNoRestart ? ONLINE_NO_RESTART : ONLINE_NOT_BACK, ulNow);
    if (bNoRestart)
      logNote(pDev, "not confirmed back online: it answered throughout %lu s, no restart seen",
              g_fleet.ulConfirmSeconds);
    else
      logNote(pDev, "not back online within %lu s: no echo request answered after it went "
                    "silent",
              g_fleet.ulConfirmSeconds);
    progressChecked(pDev);
    return;
  }
  if (ulNow - pDev->ulEchoSentMs >= ECHO_INTERVAL_MS) sendEcho(pDev, ulNow);
}

void interruptOnlineCheck(FleetDevice *pDev) {
  if (pDev->nState != STATE_CHECKING) return;
  endCheck(pDev, ONLINE_UNFINISHED, pDev->ulCheckStartMs);
  logNote(pDev, "interrupted before its check ended: not confirmed back online");
}
