// SPDX-License-Identifier: Apache-2.0
// One simulated device served (see serve.h): the order of its report
// lines and datagrams is zvdevsim's, wherever it runs.
#include "tools/zvdevsim/serve.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "net/packet.h"
#include "tools/common/output_path.h"
#include "tools/zvdevsim/faults.h"

// The device and wire whose report lines are being written (the fault
// notes come through a plain function).
static SimServed *s_pServed;
static const SimWire *s_pWire;

static void report(const char *pszFormat, ...) {
  char szLine[256];
  int n = snprintf(szLine, sizeof(szLine), "%s", s_pServed->szPrefix);
  va_list args;
  va_start(args, pszFormat);
  vsnprintf(szLine + n, sizeof(szLine) - (size_t)n, pszFormat, args);
  va_end(args);
  s_pWire->pfnReport(s_pWire->pContext, szLine);
}

static void addressText(uint32_t ulAddr, char *pszBuffer, int nSize) {
  if (!platAddressText(ulAddr, pszBuffer, nSize)) snprintf(pszBuffer, (size_t)nSize, "?");
}

void simServeInit(SimServed *pServed, const SimOptions *pOpt, uint32_t ulAddress,
                  int bPrefixed) {
  pServed->pOpt = pOpt;
  pServed->ulAddress = ulAddress;
  pServed->szPrefix[0] = '\0';
  if (bPrefixed) {
    addressText(ulAddress, pServed->szPrefix, (int)sizeof(pServed->szPrefix) - 1);
    strcat(pServed->szPrefix, " ");
  }
  simInitDevice(&pServed->dev, pOpt->bModel, pOpt->pszPassword, pOpt->pszKey,
                pOpt->bAllEncrypted);
  pServed->dev.nAckPage = pOpt->nAckPage;
  pServed->dev.bHtmlNotLogo = pOpt->bHtmlNotLogo;
  pServed->ulRequests = pServed->ulCommits = 0;
  pServed->bDebugSent = pOpt->debugMessages.empty();
  pServed->bEnded = false;
}

static void begin(SimServed *pServed, const SimWire *pWire) {
  s_pServed = pServed;
  s_pWire = pWire;
}

void simServeDebug(SimServed *pServed, const SimWire *pWire, uint32_t ulTo) {
  static const uint8_t bNothing = 0;
  if (pServed->bDebugSent) return;
  pServed->bDebugSent = true;
  begin(pServed, pWire);
  const SimOptions *pOpt = pServed->pOpt;
  PlatAddress to = {pOpt->pszDebugTo ? pOpt->ulDebugTo : ulTo, pOpt->usDebugPort};
  char szAddr[64];
  addressText(to.ulAddr, szAddr, sizeof(szAddr));
  for (const std::vector<uint8_t> &abMessage : pOpt->debugMessages) {
    int nLength = (int)abMessage.size();
    int nSent = pWire->pfnSend(pWire->pContext, pServed, SIM_SEND_DEBUG,
                               nLength ? abMessage.data() : &bNothing, nLength, &to);
    report("dbg to %s:%u len %d%s", szAddr, (unsigned)to.usPort, nLength,
           nSent == nLength ? "" : " failed");
  }
}

// Sends one datagram of a reply (its content cut or zero padded to its
// length).  Returns 1 when it went out.
static int sendReply(const SimDatagram *pDatagram, int bOther, const PlatAddress *pTo) {
  static uint8_t s_abSend[SIM_MAX_DATAGRAM];
  int nLength = pDatagram->nLength;
  memset(s_abSend, 0, (size_t)nLength);
  memcpy(s_abSend, pDatagram->abData, (size_t)std::min(nLength, REPLY_SIZE));
  int bSent = s_pWire->pfnSend(s_pWire->pContext, s_pServed,
                               bOther ? SIM_SEND_OTHER : SIM_SEND_REPLY, s_abSend, nLength,
                               pTo) == nLength;
  Reply reply;
  parseReply(pDatagram->abData, REPLY_SIZE, &reply);
  if (!s_pServed->pOpt->bQuiet)
    report("%s cmd %u code %u page %u len %d%s%s", pDatagram->bStray ? "stray" : "reply",
           (unsigned)reply.bCommand, (unsigned)reply.bValue, (unsigned)reply.wPage, nLength,
           bOther ? " other" : "", bSent ? "" : " failed");
  return bSent;
}

// Delivers the reply to the current request with its faults.  Returns true
// when a 23-byte datagram other than a NACK went out, which the tool
// takes as the acceptance of a commit.
static bool deliver(const SimOutcome *pOut, const PlatAddress *pTo) {
  const SimOptions *pOpt = s_pServed->pOpt;
  SimDelivery delivery;
  if (!simPlanDelivery(pOpt->faults, s_pServed->ulRequests, pOut, &delivery, report)) return false;
  std::vector<SimDatagram> datagrams = simDeliveryDatagrams(&delivery, pOpt->bModel);
  bool bAnswered = false;
  // The late copies go out at once; the rest waits out the delays.
  for (int bEarly = 1; bEarly >= 0; bEarly--) {
    if (!bEarly) {
      if (delivery.ulDelayMs != 0) report("delay %u", (unsigned)delivery.ulDelayMs);
      uint32_t ulWait = delivery.ulDelayMs + pOpt->ulReplyWaitMs;
      if (ulWait != 0) s_pWire->pfnWait(s_pWire->pContext, ulWait);
      if (delivery.bDrop) report("reply dropped");
    }
    for (const SimDatagram &datagram : datagrams) {
      if (datagram.bEarly != bEarly) continue;
      int bSent = sendReply(&datagram, delivery.bOther, pTo);
      if (bSent && !datagram.bStray && datagram.nLength == REPLY_SIZE &&
          datagram.abData[PACKET_COMMAND] != TFTP_NACK)
        bAnswered = true;
    }
  }
  return bAnswered;
}

static void writeDump(const SimOutcome *pOut) {
  const SimOptions *pOpt = s_pServed->pOpt;
  char szName[SIM_MAX_DUMP_PREFIX + 48];
  snprintf(szName, sizeof(szName), "%s.%s%u.bin", pOpt->pszDumpPrefix, s_pServed->szPrefix,
           (unsigned)s_pServed->ulCommits);
  char *pSpace = strchr(szName + strlen(pOpt->pszDumpPrefix), ' ');
  if (pSpace != NULL) *pSpace = '.';  // PREFIX.ADDR.n.bin
  std::vector<uint8_t> abStream;
  simTransferStream(&s_pServed->dev, pOut->usFirst, pOut->usEnd, &abStream);
  // Made whole beside it and moved over it by the companions' one output
  // rule: a link, a device or a folder of that name is refused.
  int bOk = outputRuleSave(szName, abStream.data(), abStream.size()) == OUTPUT_OK;
  report("dump %s%s", szName, bOk ? "" : " failed");
}

int simServeRequest(SimServed *pServed, const SimWire *pWire, const uint8_t *pRequest,
                    int nLength, const PlatAddress *pFrom) {
  if (pServed->bEnded) return 0;
  begin(pServed, pWire);
  const SimOptions *pOpt = pServed->pOpt;
  uint32_t ulRequest = ++pServed->ulRequests;
  if (pOpt->bQuiet)
    ;
  else if (nLength == 0)
    report("request %u cmd none len 0", (unsigned)ulRequest);
  else
    report("request %u cmd %u len %d", (unsigned)ulRequest,
           (unsigned)pRequest[PACKET_COMMAND], nLength);
  simServeDebug(pServed, pWire, pFrom->ulAddr);
  SimOutcome outcome;
  simHandleRequest(&pServed->dev, pRequest, nLength, &outcome);
  if (!pOpt->bQuiet || outcome.nKind == SIM_KIND_COMMIT) report("%s", outcome.szLine);
  bool bAnswered = deliver(&outcome, pFrom);
  if (outcome.nKind != SIM_KIND_COMMIT || !bAnswered) return 0;
  pServed->ulCommits++;
  report("accepted %u %s", (unsigned)pServed->ulCommits, outcome.bCommitOk ? "ok" : "bad");
  if (pOpt->pszDumpPrefix != NULL) writeDump(&outcome);
  if (pOpt->ulCommits == 0 || pServed->ulCommits < pOpt->ulCommits) return 0;
  report("end commits %u requests %u count", (unsigned)pServed->ulCommits, (unsigned)ulRequest);
  pServed->bEnded = true;
  return 1;
}

void simServeIdleEnd(SimServed *pServed, const SimWire *pWire) {
  if (pServed->bEnded) return;
  begin(pServed, pWire);
  report("end commits %u requests %u idle", (unsigned)pServed->ulCommits,
         (unsigned)pServed->ulRequests);
}
