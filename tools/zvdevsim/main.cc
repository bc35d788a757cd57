// SPDX-License-Identifier: Apache-2.0
// zvdevsim: a stand-in for devices on the update port.  Each device (one,
// or -n of them on consecutive addresses) answers the tool's model query,
// page data and commits from its own simulated page memory, with the
// faults asked for on the command line, sends debug datagrams to the
// tool's debug port, and reports every event on standard output.  One wait
// covers every device's socket; serve.cc handles what arrives.
#include <stdio.h>
#include <string.h>

#include <vector>

#include "base/console.h"
#include "platform/platform_companions.h"
#include "tools/common/cli.h"
#include "tools/zvdevsim/faults.h"
#include "tools/zvdevsim/options.h"
#include "tools/zvdevsim/serve.h"

#define MAX_RECEIVE_FAILURES 100    // in a row: the socket is broken
#define NO_LIMIT_WAIT_MS 3600000UL  // one wait of an endless idle time

// The exit status when -t ends the run before -c is reached (2 is a wrong
// command line, as in every companion).
#define EXIT_IDLE_BEFORE_COMMITS 3

static SimOptions s_options;
static std::vector<SimServed> s_served;
static std::vector<PlatSocket> s_aMain;   // each device's update port
static std::vector<PlatSocket> s_aOther;  // its second sender: "other" replies, debug
static PlatSocket s_sQuiet;               // never addressed: waiting on it is the sleep
static PlatEvent s_hQuiet;
static uint8_t s_abReceive[SIM_MAX_DATAGRAM + 1];

static void report(void *, const char *pszLine) {
  char szLine[260];
  int n = snprintf(szLine, sizeof(szLine) - 1, "%s", pszLine);
  if (n > (int)sizeof(szLine) - 2) n = (int)sizeof(szLine) - 2;
  szLine[n++] = '\n';
  consoleWrite(szLine, n);
}

static void sleepMs(void *, uint32_t ulMs) {
  if (platWaitEvent(s_hQuiet, ulMs) == 1)
    platRecvFrom(s_sQuiet, s_abReceive, 1, NULL);  // a stranger: drop it
}

static int send(void *, const SimServed *pServed, int nSend, const uint8_t *pData,
                int nLength, const PlatAddress *pTo) {
  size_t i = (size_t)(pServed - s_served.data());
  return platSendTo(nSend == SIM_SEND_REPLY ? s_aMain[i] : s_aOther[i], pData, nLength, pTo);
}

static const SimWire s_wire = {NULL, send, sleepMs, report};

static uint32_t hostOrder(uint32_t ulAddr) {
  const uint8_t *pb = (const uint8_t *)&ulAddr;
  return (uint32_t)pb[0] << 24 | (uint32_t)pb[1] << 16 | (uint32_t)pb[2] << 8 | pb[3];
}

// The address n after ulAddr (network byte order both).
static uint32_t addressAfter(uint32_t ulAddr, uint32_t n) {
  uint32_t ulHost = hostOrder(ulAddr) + n;
  uint8_t ab[4] = {(uint8_t)(ulHost >> 24), (uint8_t)(ulHost >> 16), (uint8_t)(ulHost >> 8),
                   (uint8_t)ulHost};
  memcpy(&ulAddr, ab, 4);
  return ulAddr;
}

// A second socket only for devices that send from one.
static bool needsOther(const SimOptions *pOpt) {
  for (const SimFault &fault : pOpt->faults)
    if (fault.nAction == SIM_FAULT_OTHER) return true;
  return !pOpt->debugMessages.empty();
}

// Opens every device's sockets; on failure names the address that failed.
static bool openSockets(uint32_t *pulFailed) {
  s_sQuiet = platUdpSocket();
  if (s_sQuiet == PLAT_NO_SOCKET || !platBind(s_sQuiet, platInetAddr("127.0.0.1"), 0)) return false;
  s_hQuiet = platCreateEvent();
  if (!platEventSelectRead(s_sQuiet, s_hQuiet)) return false;
  bool bOther = needsOther(&s_options);
  for (SimServed &served : s_served) {
    *pulFailed = served.ulAddress;
    PlatSocket s = platUdpSocket(), sOther = bOther ? platUdpSocket() : PLAT_NO_SOCKET;
    s_aMain.push_back(s);
    s_aOther.push_back(sOther);
    if (s == PLAT_NO_SOCKET || (bOther && sOther == PLAT_NO_SOCKET) ||
        !platBind(s, served.ulAddress, s_options.usPort) ||
        (bOther && !platBind(sOther, served.ulAddress, 0)))
      return false;
  }
  return true;
}

static int serve(void) {
  uint32_t ulLeft = (uint32_t)s_served.size();  // devices not ended
  int nFailures = 0, nNext = 0;
  if (s_options.nDebugStartMs >= 0 && !s_options.debugMessages.empty()) {
    sleepMs(NULL, (uint32_t)s_options.nDebugStartMs);
    for (SimServed &served : s_served) simServeDebug(&served, &s_wire, platInetAddr("127.0.0.1"));
  }
  for (;;) {
    unsigned long ulMs = s_options.ulIdleSeconds != 0 ? (unsigned long)s_options.ulIdleSeconds * 1000UL
                                                      : NO_LIMIT_WAIT_MS;
    int nReady = nNext;
    int nWait = platWaitSockets(s_aMain.data(), (int)s_aMain.size(), ulMs, &nReady);
    if (nWait < 0) {
      report(NULL, "waitfailed");
      return 1;
    }
    if (nWait == 0 && s_options.ulIdleSeconds == 0) continue;
    if (nWait == 0) {
      for (SimServed &served : s_served) simServeIdleEnd(&served, &s_wire);
      return s_options.ulCommits != 0 ? EXIT_IDLE_BEFORE_COMMITS : 0;
    }
    nNext = (nReady + 1) % (int)s_aMain.size();  // the others' turn first next time
    PlatAddress from;
    int nLength = platRecvFrom(s_aMain[(size_t)nReady], s_abReceive, sizeof(s_abReceive), &from);
    if (nLength == PLAT_RECV_NOTHING) continue;
    if (nLength < 0) {
      char szLine[40];
      snprintf(szLine, sizeof(szLine), "%srecvfailed", s_served[(size_t)nReady].szPrefix);
      report(NULL, szLine);
      if (++nFailures >= MAX_RECEIVE_FAILURES) return 1;
      continue;
    }
    nFailures = 0;
    if (simServeRequest(&s_served[(size_t)nReady], &s_wire, s_abReceive, nLength, &from)) {
      platCloseSocket(s_aMain[(size_t)nReady]);  // it serves no more
      s_aMain[(size_t)nReady] = PLAT_NO_SOCKET;
      if (--ulLeft == 0) return 0;
    }
  }
}

int main(int argc, char **argv) {
  platInitProcess();
  int nParsed = simParseOptions(argc - 1, argv + 1, &s_options);
  if (nParsed != CLI_RUN) return nParsed;
  if (hostOrder(s_options.ulAddress) > 0xFFFFFFFFu - s_options.ulDevices) {
    errorPrintf("zvdevsim: -n %u from %s runs past 255.255.255.254\n",
                (unsigned)s_options.ulDevices, s_options.pszAddress);
    return 2;
  }
  if (!platSocketStartup()) {
    errorPrintf("zvdevsim: the socket library cannot start\n");
    return 1;
  }
  s_served.resize(s_options.ulDevices);
  for (uint32_t i = 0; i < s_options.ulDevices; i++)
    simServeInit(&s_served[i], &s_options, addressAfter(s_options.ulAddress, i),
                 s_options.ulDevices > 1);
  uint32_t ulFailed = s_options.ulAddress;
  char szAddr[64];
  if (!openSockets(&ulFailed)) {
    char szText[256];
    int nCode = pendingErrorText(szText, (int)sizeof(szText));
    if (!platAddressText(ulFailed, szAddr, sizeof(szAddr))) snprintf(szAddr, sizeof(szAddr), "?");
    errorPrintf("zvdevsim: cannot listen on %s:%u: %s (%d)\n", szAddr,
                (unsigned)s_options.usPort, szText, nCode);
    return 1;
  }
  if (!platAddressText(s_options.ulAddress, szAddr, sizeof(szAddr))) snprintf(szAddr, sizeof(szAddr), "?");
  if (s_options.ulDevices == 1) {
    consolePrintf("listening %s:%u\n", szAddr, (unsigned)s_options.usPort);
  } else {
    char szLast[64];
    if (!platAddressText(addressAfter(s_options.ulAddress, s_options.ulDevices - 1), szLast,
                         sizeof(szLast)))
      snprintf(szLast, sizeof(szLast), "?");
    consolePrintf("listening %s-%s:%u (%u devices)\n", szAddr, szLast,
                  (unsigned)s_options.usPort, (unsigned)s_options.ulDevices);
  }
  return finalStatus(serve(), 1);
}
