// SPDX-License-Identifier: Apache-2.0
// zvdevsim: a stand-in for the device on the update port.  It answers the
// tool's model query, page data and commits from a simulated page memory,
// injects the faults asked for on the command line, sends debug datagrams
// to the tool's debug port, and reports every event on standard output.
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <vector>

#include "base/console.h"
#include "net/packet.h"
#include "platform/platform.h"
#include "tools/common/cli.h"
#include "tools/zvdevsim/device.h"
#include "tools/zvdevsim/faults.h"
#include "tools/zvdevsim/options.h"

#define MAX_RECEIVE_FAILURES 100    // in a row: the socket is broken
#define NO_LIMIT_WAIT_MS 3600000UL  // one wait of an endless idle time

// The exit status when -t ends the run before -c is reached (2 is a wrong
// command line, as in every companion).
#define EXIT_IDLE_BEFORE_COMMITS 3

struct SimSockets {
  PlatSocket sMain;  // the update port
  PlatEvent hMain;
  PlatSocket sOther;  // second sender: "other" replies, debug datagrams
  PlatSocket sQuiet;  // never addressed: waiting on it is the sleep
  PlatEvent hQuiet;
};

static uint8_t s_abReceive[SIM_MAX_DATAGRAM + 1];
static uint8_t s_abSend[SIM_MAX_DATAGRAM];

// -q: the per-request lines are left out.
static int s_bQuiet;

// One report line, written and flushed at once.
static void report(const char *pszFormat, ...) {
  char szLine[256];
  va_list args;
  va_start(args, pszFormat);
  int n = vsnprintf(szLine, sizeof(szLine) - 1, pszFormat, args);
  va_end(args);
  if (n < 0) return;
  if (n > (int)sizeof(szLine) - 2) n = (int)sizeof(szLine) - 2;
  szLine[n++] = '\n';
  consoleWrite(szLine, n);
}

static const char *addressText(uint32_t ulAddr, char *pszBuffer, int nSize) {
  if (!platAddressText(ulAddr, pszBuffer, nSize))
    snprintf(pszBuffer, (size_t)nSize, "?");
  return pszBuffer;
}

static void sleepMs(SimSockets *pSockets, uint32_t ulMs) {
  if (ulMs == 0) return;
  if (platWaitEvent(pSockets->hQuiet, ulMs) == 1)
    platRecvFrom(pSockets->sQuiet, s_abSend, 1, NULL);  // a stranger: drop it
}

static void sendDebugMessages(const SimOptions *pOpt, SimSockets *pSockets,
                              uint32_t ulTo) {
  static const uint8_t bNothing = 0;
  PlatAddress to;
  to.ulAddr = ulTo;
  to.usPort = pOpt->usDebugPort;
  char szAddr[64];
  addressText(ulTo, szAddr, sizeof(szAddr));
  for (const std::vector<uint8_t> &abMessage : pOpt->debugMessages) {
    int nLength = (int)abMessage.size();
    int nSent = platSendTo(
        pSockets->sOther, nLength ? abMessage.data() : &bNothing, nLength, &to);
    report("dbg to %s:%u len %d%s", szAddr, (unsigned)to.usPort, nLength,
           nSent == nLength ? "" : " failed");
  }
}

// Sends one datagram of a reply (content cut or zero padded to nLength).
static int sendReply(PlatSocket s, const uint8_t *pReply, int nLength,
                     const PlatAddress *pTo, const char *pszWhat, int bOther) {
  memset(s_abSend, 0, (size_t)nLength);
  memcpy(s_abSend, pReply, (size_t)(nLength < REPLY_SIZE ? nLength : REPLY_SIZE));
  int bSent = platSendTo(s, s_abSend, nLength, pTo) == nLength;
  Reply reply;
  parseReply(pReply, REPLY_SIZE, &reply);
  if (!s_bQuiet)
    report("%s cmd %u code %u page %u len %d%s%s", pszWhat, (unsigned)reply.bCommand,
         (unsigned)reply.bValue, (unsigned)reply.wPage, nLength,
         bOther ? " other" : "", bSent ? "" : " failed");
  return bSent;
}

// Delivers the reply to request ulRequest with its faults.  Returns 1 when
// a 23-byte datagram other than a NACK went out, which the tool takes as
// the acceptance of a commit.
static int deliver(const SimOptions *pOpt, SimSockets *pSockets,
                   const SimOutcome *pOut, uint32_t ulRequest,
                   const PlatAddress *pTo) {
  SimDelivery delivery;
  if (!simPlanDelivery(pOpt->faults, ulRequest, pOut, &delivery, report))
    return 0;
  PlatSocket s = delivery.bOther ? pSockets->sOther : pSockets->sMain;
  std::vector<SimDatagram> datagrams = simDeliveryDatagrams(&delivery, pOpt->bModel);
  int bAnswered = 0;
  // The late copies go out at once; the rest waits out the delays.
  for (int bEarly = 1; bEarly >= 0; bEarly--) {
    if (!bEarly) {
      if (delivery.ulDelayMs != 0) report("delay %u", (unsigned)delivery.ulDelayMs);
      sleepMs(pSockets, delivery.ulDelayMs + pOpt->ulReplyWaitMs);
      if (delivery.bDrop) report("reply dropped");
    }
    for (const SimDatagram &datagram : datagrams) {
      if (datagram.bEarly != bEarly) continue;
      int bSent = sendReply(s, datagram.abData, datagram.nLength, pTo,
                            datagram.bStray ? "stray" : "reply", delivery.bOther);
      if (bSent && !datagram.bStray && datagram.nLength == REPLY_SIZE &&
          datagram.abData[PACKET_COMMAND] != TFTP_NACK)
        bAnswered = 1;
    }
  }
  return bAnswered;
}

static void writeDump(const SimOptions *pOpt, const SimDevice *pDev,
                      const SimOutcome *pOut, uint32_t ulCommit) {
  char szName[SIM_MAX_DUMP_PREFIX + 32];
  snprintf(szName, sizeof(szName), "%s.%u.bin", pOpt->pszDumpPrefix,
           (unsigned)ulCommit);
  std::vector<uint8_t> abStream;
  simTransferStream(pDev, pOut->usFirst, pOut->usEnd, &abStream);
  FILE *pFile = fopen(szName, "wb");
  int bOk = pFile != NULL;
  if (pFile != NULL) {
    if (!abStream.empty() &&
        fwrite(abStream.data(), 1, abStream.size(), pFile) != abStream.size())
      bOk = 0;
    if (fclose(pFile) != 0) bOk = 0;
  }
  report("dump %s%s", szName, bOk ? "" : " failed");
}

static int openSockets(const SimOptions *pOpt, SimSockets *pSockets) {
  pSockets->sMain = platUdpSocket();
  pSockets->sOther = platUdpSocket();
  pSockets->sQuiet = platUdpSocket();
  if (pSockets->sMain == PLAT_NO_SOCKET || pSockets->sOther == PLAT_NO_SOCKET ||
      pSockets->sQuiet == PLAT_NO_SOCKET)
    return 0;
  if (!platBind(pSockets->sMain, pOpt->ulAddress, pOpt->usPort) ||
      !platBind(pSockets->sOther, pOpt->ulAddress, 0) ||
      !platBind(pSockets->sQuiet, platInetAddr("127.0.0.1"), 0))
    return 0;
  pSockets->hMain = platCreateEvent();
  pSockets->hQuiet = platCreateEvent();
  return platEventSelectRead(pSockets->sMain, pSockets->hMain) &&
         platEventSelectRead(pSockets->sQuiet, pSockets->hQuiet);
}

// 1 when a datagram waits, 0 after the idle time, -1 on failure.
static int waitForRequest(const SimOptions *pOpt, SimSockets *pSockets) {
  for (;;) {
    unsigned long ulMs = pOpt->ulIdleSeconds != 0
                             ? (unsigned long)pOpt->ulIdleSeconds * 1000UL
                             : NO_LIMIT_WAIT_MS;
    int nResult = platWaitEvent(pSockets->hMain, ulMs);
    if (nResult != 0 || pOpt->ulIdleSeconds != 0) return nResult;
  }
}

// The device's state; its memory is set up before "listening" is reported,
// so that the first request is answered at once.
static SimDevice s_device;

static int serve(const SimOptions *pOpt, SimSockets *pSockets) {
  uint32_t ulRequests = 0, ulCommits = 0;
  int nFailures = 0;
  int bDebugSent = pOpt->debugMessages.empty();
  if (!bDebugSent && pOpt->nDebugStartMs >= 0) {
    sleepMs(pSockets, (uint32_t)pOpt->nDebugStartMs);
    sendDebugMessages(
        pOpt, pSockets,
        pOpt->pszDebugTo ? pOpt->ulDebugTo : platInetAddr("127.0.0.1"));
    bDebugSent = 1;
  }
  for (;;) {
    int nWait = waitForRequest(pOpt, pSockets);
    if (nWait < 0) {
      report("waitfailed");
      return 1;
    }
    if (nWait == 0) {
      report("end commits %u requests %u idle", (unsigned)ulCommits,
             (unsigned)ulRequests);
      return pOpt->ulCommits != 0 ? EXIT_IDLE_BEFORE_COMMITS : 0;
    }
    PlatAddress from;
    int nLength =
        platRecvFrom(pSockets->sMain, s_abReceive, sizeof(s_abReceive), &from);
    if (nLength < 0) {
      report("recvfailed");
      if (++nFailures >= MAX_RECEIVE_FAILURES) return 1;
      continue;
    }
    nFailures = 0;
    ulRequests++;
    if (s_bQuiet)
      ;
    else if (nLength == 0)
      report("request %u cmd none len 0", (unsigned)ulRequests);
    else
      report("request %u cmd %u len %d", (unsigned)ulRequests,
             (unsigned)s_abReceive[PACKET_COMMAND], nLength);
    if (!bDebugSent) {
      sendDebugMessages(pOpt, pSockets,
                        pOpt->pszDebugTo ? pOpt->ulDebugTo : from.ulAddr);
      bDebugSent = 1;
    }
    SimOutcome outcome;
    simHandleRequest(&s_device, s_abReceive, nLength, &outcome);
    if (!s_bQuiet || outcome.nKind == SIM_KIND_COMMIT)
      report("%s", outcome.szLine);
    int bAnswered = deliver(pOpt, pSockets, &outcome, ulRequests, &from);
    if (outcome.nKind != SIM_KIND_COMMIT || !bAnswered) continue;
    ulCommits++;
    report("accepted %u %s", (unsigned)ulCommits,
           outcome.bCommitOk ? "ok" : "bad");
    if (pOpt->pszDumpPrefix != NULL)
      writeDump(pOpt, &s_device, &outcome, ulCommits);
    if (pOpt->ulCommits != 0 && ulCommits >= pOpt->ulCommits) {
      report("end commits %u requests %u count", (unsigned)ulCommits,
             (unsigned)ulRequests);
      return 0;
    }
  }
}

int main(int argc, char **argv) {
  platInitProcess();
  static SimOptions s_options;
  int nParsed = simParseOptions(argc - 1, argv + 1, &s_options);
  if (nParsed != CLI_RUN) return nParsed;
  if (!platSocketStartup()) {
    errorPrintf("zvdevsim: the socket library cannot start\n");
    return 1;
  }
  s_bQuiet = s_options.bQuiet;
  SimSockets sockets;
  memset(&sockets, 0, sizeof(sockets));
  char szAddr[64];
  addressText(s_options.ulAddress, szAddr, sizeof(szAddr));
  if (!openSockets(&s_options, &sockets)) {
    char szText[256];
    int nCode = pendingErrorText(szText, (int)sizeof(szText));
    errorPrintf("zvdevsim: cannot listen on %s:%u: %s (%d)\n", szAddr,
            (unsigned)s_options.usPort, szText, nCode);
    return 1;
  }
  simInitDevice(&s_device, s_options.bModel, s_options.pszPassword,
                s_options.pszKey, s_options.bAllEncrypted);
  s_device.nAckPage = s_options.nAckPage;
  s_device.bHtmlNotLogo = s_options.bHtmlNotLogo;
  report("listening %s:%u", szAddr, (unsigned)s_options.usPort);
  return finalStatus(serve(&s_options, &sockets), 1);
}
