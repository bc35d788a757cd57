// SPDX-License-Identifier: Apache-2.0
// The transfer session.  Each exchange sends one request and takes up to 15
// replies through the receive channel; a reply handler says whether the
// reply completes the exchange, uses up its wait, or ends the run (with
// the status and text that the caller then prints and ends with).  When
// all 15 waits are used up the same bytes go out again, without limit.
#include "net/transfer.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "base/console.h"
#include "base/tool_texts.h"
#include "image/image_store.h"
#include "net/packet.h"
#include "net/receive_channel.h"

namespace {

// REPLY_FOREIGN: a reply that the clearing's or a commit's table accepts
// but that does not name the request's page (see exchange).
enum Verdict { REPLY_USED_UP, REPLY_COMPLETE, REPLY_ENDS_RUN, REPLY_FOREIGN };
// EXCHANGE_NO_ANSWER: a bounded exchange met no reply within its bound.
enum Exchange { EXCHANGE_COMPLETE, EXCHANGE_SEND_FAILED, EXCHANGE_ENDS_RUN, EXCHANGE_NO_ANSWER };

struct Session {
  PlatSocket s;
  const PlatAddress *pDest;
  const TransferPlan *pPlan;
  uint8_t abRequest[PACKET_BUFFER_SIZE];
  uint8_t abReply[PACKET_BUFFER_SIZE];
  TransferEnd *pEnd;  // filled when a reply ends the run
  // The model query's findings: the model the device named (-1: none),
  // and MODEL_* of a refusal that ends it.
  int nDeviceModel;
  int nModelEnd;
  // A bound on the exchange's silent waits (0: none) from ulBoundFrom.
  unsigned long ulBoundMs, ulBoundFrom;
};

typedef Verdict (*ReplyHandler)(Session *pSession, int nLength);

// How one kind of request is sent and answered.
struct ExchangeRules {
  ReplyHandler pfnHandle;
  const char *pszEachSend;  // printed before every send, or null
  bool bPlainSendError;     // a failed send is reported plainly, not through printError
  bool bListensAfter;       // a commit: its acceptance must survive COMMIT_LISTEN_MS
};

Verdict endRun(Session *pSession, int nStatus, const char *pszFormat, ...) ZV_PRINTF(3, 4);
Verdict endRun(Session *pSession, int nStatus, const char *pszFormat, ...) {
  pSession->pEnd->nStatus = nStatus;
  va_list args;
  va_start(args, pszFormat);
  vsnprintf(pSession->pEnd->szText, sizeof(pSession->pEnd->szText), pszFormat, args);
  va_end(args);
  return REPLY_ENDS_RUN;
}

// The outcome of a bounded read of replies: the wait for a request's own
// answer, or the listen after a commit.
enum Awaited {
  AWAITED_COMPLETE,  // a reply completed the exchange
  AWAITED_ENDS_RUN,  // a reply or a receive error ends the run
  AWAITED_USED_UP,   // the device refused after all: the exchange goes on
  AWAITED_NOTHING    // the time ran out with no reply that decides
};

// A foreign reply's command and page: a copy of an earlier answer shows
// the same two again.
uint32_t foreignKey(const Session *pSession) {
  return (uint32_t)pSession->abReply[PACKET_COMMAND] << 16 | getLe16(pSession->abReply + PACKET_PAGE);
}

// Reads replies for up to ulMs, each handled by pfnHandle, until one
// decides.  Foreign replies and, with bCompleteDecides false, replies that
// complete the exchange are passed over.  With pulResentFor, a foreign
// reply of that key completes the exchange (see exchange).
Awaited awaitReplies(Session *pSession, ReplyHandler pfnHandle, unsigned long ulMs,
                     bool bCompleteDecides, const uint32_t *pulResentFor) {
  unsigned long ulStart = platMilliseconds();
  for (;;) {
    unsigned long ulSpent = platMilliseconds() - ulStart;
    if (ulSpent >= ulMs) return AWAITED_NOTHING;
    int nReceived = receiveWithin(pSession->s, pSession->abReply, sizeof(pSession->abReply),
                                  ulMs - ulSpent);
    if (nReceived < 0) {
      endRun(pSession, -1, TEXT_RECEIVE_ERROR "\n");
      return AWAITED_ENDS_RUN;
    }
    if (nReceived == 0) continue;
    switch (pfnHandle(pSession, nReceived)) {
      case REPLY_COMPLETE:
        if (bCompleteDecides) return AWAITED_COMPLETE;
        break;
      case REPLY_ENDS_RUN: return AWAITED_ENDS_RUN;
      case REPLY_USED_UP: return AWAITED_USED_UP;
      case REPLY_FOREIGN:
        if (bCompleteDecides && pulResentFor != NULL && foreignKey(pSession) == *pulResentFor)
          return AWAITED_COMPLETE;
        break;
    }
  }
}

// Sends the first nLength request bytes until a reply completes the
// exchange, by the wait rule: up to 15 waits per send, then the same bytes
// again.  Datagrams that wait before the request first goes out are stale
// (a duplicate of an earlier reply, say) and dropped; a resend keeps what
// waits, since a late reply to the same bytes still answers it.
//
// At the clearing and the commits a reply may be accepted without naming
// the request's page: a late copy of an earlier answer looks like that.
// It never completes the exchange alone.  The device's own answer is
// awaited up to 3000 ms more; when none comes the request goes out again
// at once, and the device's answer to it decides.  A device whose own
// answers name another page answers the resend with the same foreign
// reply, which then completes the exchange: it costs such a device one
// wait and one resend.  A completed commit is then listened to for
// COMMIT_LISTEN_MS, in which a refusal still decides: a copy can name the
// commit's own page.
Exchange exchange(Session *pSession, int nLength, const ExchangeRules *pRules) {
  bool bResentForForeign = false;
  uint32_t ulResentFor = 0;  // the foreign reply that the last resend answers
  for (bool bResend = false;; bResend = true) {
    if (pRules->pszEachSend != NULL)
      consoleWrite(pRules->pszEachSend, (int)strlen(pRules->pszEachSend));
    if (!bResend)
      dropStaleReplies(pSession->s, pSession->abReply, sizeof(pSession->abReply));
    // A datagram sent only in part is no request either.
    if (platSendTo(pSession->s, pSession->abRequest, nLength, pSession->pDest) != nLength) {
      if (pRules->bPlainSendError)
        consolePrintf("clearing old idata: sendto error\n");
      else
        printError("transferFile sendto error");
      return EXCHANGE_SEND_FAILED;
    }
    int nReceived = 0;
    for (int i = 0; i < UPDATE_WAITS; i++) {
      nReceived = receiveCommand(pSession->s, pSession->abReply, sizeof(pSession->abReply));
      if (nReceived < 0) {
        endRun(pSession, -1, TEXT_RECEIVE_ERROR "\n");
        return EXCHANGE_ENDS_RUN;
      }
      if (nReceived == 0) {
        if (pSession->ulBoundMs > 0 &&
            platMilliseconds() - pSession->ulBoundFrom >= pSession->ulBoundMs)
          return EXCHANGE_NO_ANSWER;
        continue;
      }
      Verdict verdict = pRules->pfnHandle(pSession, nReceived);
      if (verdict == REPLY_USED_UP) continue;
      if (verdict == REPLY_ENDS_RUN) return EXCHANGE_ENDS_RUN;
      if (verdict == REPLY_FOREIGN && !(bResentForForeign && foreignKey(pSession) == ulResentFor)) {
        uint32_t ulForeign = foreignKey(pSession);
        Awaited own = awaitReplies(pSession, pRules->pfnHandle, RECV_TIMEOUT_MS, true,
                                   bResentForForeign ? &ulResentFor : NULL);
        if (own == AWAITED_ENDS_RUN) return EXCHANGE_ENDS_RUN;
        if (own == AWAITED_USED_UP) continue;
        if (own == AWAITED_NOTHING) {  // no answer of its own: the request again
          bResentForForeign = true;
          ulResentFor = ulForeign;
          break;
        }
      }
      if (pRules->bListensAfter) {
        Awaited late = awaitReplies(pSession, pRules->pfnHandle, COMMIT_LISTEN_MS, false, NULL);
        if (late == AWAITED_ENDS_RUN) return EXCHANGE_ENDS_RUN;
        if (late == AWAITED_USED_UP) continue;
      }
      return EXCHANGE_COMPLETE;
    }
    if (nReceived == 0) consolePrintf(TEXT_RECV_TIMEOUT "\n");
  }
}

uint16_t requestPage(const Session *pSession) {
  return getLe16(pSession->abRequest + PACKET_PAGE);
}

Verdict wrongLength(Session *pSession, int nStatus, uint16_t wPage, int nLength) {
  return endRun(pSession, nStatus,
                TEXT_WRONG_LENGTH_START " Packet %d wanted %d, got %d\n", wPage,
                REPLY_SIZE, nLength);
}

Verdict handleModelReply(Session *pSession, int nLength) {
  Reply reply;
  uint8_t bModel = pSession->pPlan->bModel;
  if (!parseReply(pSession->abReply, nLength, &reply))
    return endRun(pSession, 0, TEXT_WRONG_LENGTH_START " wanted %d, got %d\n",
                  REPLY_SIZE, nLength);
  switch (reply.bCommand) {
    case TFTP_GET_MODEL:
      pSession->nDeviceModel = reply.bValue;
      if (reply.bValue != bModel) {
        pSession->nModelEnd = MODEL_OTHER;
        return endRun(pSession, 0, TEXT_WRONG_MODEL_FILE "\n");
      }
      return REPLY_COMPLETE;
    case TFTP_ACK:
      if (reply.bValue != bModel) return REPLY_USED_UP;
      pSession->nDeviceModel = reply.bValue;
      return REPLY_COMPLETE;
    case TFTP_NACK:
      if (reply.bValue == NACK_BAD_PASSWORD) {
        pSession->nModelEnd = MODEL_PASSWORD_REFUSED;
        return endRun(pSession, -1, TEXT_WRONG_PASSWORD "\n");
      }
      if (reply.bValue != NACK_UNKNOWN_MODEL) return endRun(pSession, -1, "Received an NACK\n");
      consolePrintf(TEXT_UNKNOWN_MODEL "\n");
      pSession->nModelEnd = MODEL_UNKNOWN_TO_DEVICE;
      return REPLY_COMPLETE;
    default:
      return endRun(pSession, 0, "Received an unknown packet: %d\n", reply.bCommand);
  }
}

Verdict handlePageReply(Session *pSession, int nLength) {
  Reply reply;
  uint16_t wPage = requestPage(pSession);
  if (!parseReply(pSession->abReply, nLength, &reply)) {
    consolePrintf(TEXT_WRONG_LENGTH_START " Packet %d wanted %d, got %d\n", wPage,
                  REPLY_SIZE, nLength);
    return REPLY_USED_UP;
  }
  switch (reply.bCommand) {
    case TFTP_NACK:
      if (reply.bValue == NACK_BAD_PASSWORD) return endRun(pSession, -1, TEXT_WRONG_PASSWORD "\n");
      if (reply.bValue == NACK_BAD_CRC) return endRun(pSession, 0, TEXT_BAD_CRC "\n");
      if (reply.bValue == NACK_BAD_VERSION) return endRun(pSession, 0, TEXT_BAD_VERSION "\n");
      consolePrintf(TEXT_NACK_FROM_PACKET "%d\n", reply.wPage);
      return REPLY_USED_UP;
    case TFTP_ACK:
      if (reply.wPage == wPage) return REPLY_COMPLETE;
      consolePrintf(TEXT_WRONG_ACK_START " Wanted packet %d, got packet %d\n", wPage,
                    reply.wPage);
      return REPLY_USED_UP;
    default:
      consolePrintf(TEXT_WRONG_COMMAND_START " TFTP_ACK(%d), got %d\n", TFTP_ACK,
                    reply.bCommand);
      return REPLY_USED_UP;
  }
}

// Any ACK completes the clearing and any reply but a NACK the commit; one
// that does not name the request's page is foreign (see exchange).
Verdict ownOrForeign(const Session *pSession, const Reply *pReply) {
  return pReply->bCommand == TFTP_ACK && pReply->wPage == requestPage(pSession) ? REPLY_COMPLETE
                                                                                : REPLY_FOREIGN;
}

Verdict handleClearReply(Session *pSession, int nLength) {
  Reply reply;
  if (!parseReply(pSession->abReply, nLength, &reply))
    return wrongLength(pSession, -1, IDATA_CLEAR_PAGE, nLength);
  return reply.bCommand == TFTP_ACK ? ownOrForeign(pSession, &reply) : REPLY_USED_UP;
}

Verdict handleCommitReply(Session *pSession, int nLength) {
  Reply reply;
  if (!parseReply(pSession->abReply, nLength, &reply)) return wrongLength(pSession, -1, 0, nLength);
  if (reply.bCommand != TFTP_NACK) return ownOrForeign(pSession, &reply);
  if (reply.bValue == NACK_BAD_CRC) return endRun(pSession, -1, TEXT_BAD_CRC "\n");
  consolePrintf(TEXT_NACK_FROM_PACKET "%d\n", reply.wPage);
  return REPLY_USED_UP;
}

// Copies ulCount source bytes from ulOffset into the data area; bytes that
// would lie beyond the source block are sent as zeros.
void copySource(Session *pSession, uint32_t ulOffset, uint32_t ulCount) {
  const TransferPlan *pPlan = pSession->pPlan;
  uint8_t *pbData = pSession->abRequest + PACKET_HEADER_SIZE;
  uint32_t ulAvailable = 0;
  if (ulOffset < pPlan->ulSourceSize) ulAvailable = pPlan->ulSourceSize - ulOffset;
  ulAvailable = std::min(ulAvailable, ulCount);
  if (ulAvailable > 0) memcpy(pbData, pPlan->pbSource + ulOffset, ulAvailable);
  memset(pbData + ulAvailable, 0, ulCount - ulAvailable);
}

// Sends the planned pages, the first packet led by the image header when
// the plan says so.
Exchange sendPages(Session *pSession) {
  const TransferPlan *pPlan = pSession->pPlan;
  uint32_t ulHeaderBytes = pPlan->ulHeaderBytes;
  uint8_t bFlags = pPlan->bFirstFlags;
  uint32_t ulOffset = 0;
  uint16_t wEnd = pPlan->wEndPage;
  for (uint16_t wPage = pPlan->wFirstPage; wPage < wEnd;) {
    uint8_t bCount = (uint8_t)std::min<uint32_t>(wEnd - wPage, PAGES_PER_PACKET);
    setPacketFields(pSession->abRequest, TFTP_DATA, bCount, bFlags, wPage);
    copySource(pSession, ulOffset, ulHeaderBytes + PACKET_PAGE_BYTES);
    char szMessage[64];
    snprintf(szMessage, sizeof(szMessage), TEXT_PAGES_FORMAT "\n", wPage, wPage + bCount - 1);
    int nLength = (int)(ulHeaderBytes + DATA_REQUEST_SIZE);
    const ExchangeRules rules = {handlePageReply, szMessage, false, false};
    Exchange result = exchange(pSession, nLength, &rules);
    if (result != EXCHANGE_COMPLETE) return result;
    wPage = (uint16_t)(wPage + bCount);
    ulOffset += ulHeaderBytes + PAGE_SIZE * bCount;
    ulHeaderBytes = 0;
    bFlags = pPlan->bLaterFlags;
  }
  return EXCHANGE_COMPLETE;
}

// The run goes on after a completed exchange; otherwise the transfer's
// result.
int ended(Exchange result) {
  return result == EXCHANGE_SEND_FAILED ? TRANSFER_SEND_FAILED : TRANSFER_ENDS_RUN;
}

// The session of one transfer or model query: one at a time, on the
// update thread.  Returns null, with the end filled, for a plan of an
// unknown code.
Session *beginSession(PlatSocket s, const PlatAddress *pDest, const TransferPlan *pPlan,
                      TransferEnd *pEnd) {
  static Session session;
  Session *pSession = &session;
  memset(pSession, 0, sizeof(*pSession));
  pSession->s = s;
  pSession->pDest = pDest;
  pSession->pPlan = pPlan;
  pSession->pEnd = pEnd;
  pSession->nDeviceModel = -1;
  pSession->nModelEnd = MODEL_FITS;
  if (!pPlan->bKnown) {
    endRun(pSession, -1, "Unknown file type\n");
    return NULL;
  }
  preparePacketHeader(pSession->abRequest, pPlan->szPassword);
  return pSession;
}

// The model query: the first exchange of a transfer that asks for it.
Exchange askModel(Session *pSession) {
  consolePrintf(TEXT_GETTING_MODEL "\n");
  pSession->abRequest[PACKET_COMMAND] = TFTP_GET_MODEL;
  const ExchangeRules rules = {handleModelReply, NULL, false, false};
  return exchange(pSession, PACKET_HEADER_SIZE, &rules);
}

}  // namespace

int queryModel(PlatSocket s, const PlatAddress *pDest, const TransferPlan *pPlan,
               unsigned long ulBoundMs, ModelAnswer *pAnswer) {
  memset(pAnswer, 0, sizeof(*pAnswer));
  pAnswer->nModel = -1;
  Session *pSession = beginSession(s, pDest, pPlan, &pAnswer->end);
  if (pSession == NULL) return pAnswer->nVerdict = MODEL_ENDED;
  pSession->ulBoundMs = ulBoundMs;
  pSession->ulBoundFrom = platMilliseconds();
  Exchange result = askModel(pSession);
  pAnswer->nModel = pSession->nDeviceModel;
  switch (result) {
    case EXCHANGE_COMPLETE: pAnswer->nVerdict = pSession->nModelEnd; break;
    case EXCHANGE_SEND_FAILED: pAnswer->nVerdict = MODEL_SEND_FAILED; break;
    case EXCHANGE_NO_ANSWER: pAnswer->nVerdict = MODEL_NO_ANSWER; break;
    default:
      pAnswer->nVerdict = pSession->nModelEnd != MODEL_FITS ? pSession->nModelEnd : MODEL_ENDED;
  }
  return pAnswer->nVerdict;
}

int transferFile(PlatSocket s, const PlatAddress *pDest, const TransferPlan *pPlan,
                 TransferEnd *pEnd) {
  Session *pSession = beginSession(s, pDest, pPlan, pEnd);
  if (pSession == NULL) return TRANSFER_ENDS_RUN;

  Exchange result;
  if (pPlan->bModelQuery) {
    result = askModel(pSession);
    if (result != EXCHANGE_COMPLETE) return ended(result);
  }

  result = sendPages(pSession);
  if (result != EXCHANGE_COMPLETE) return ended(result);

  if (pPlan->bClearsOldIdata) {
    setPacketFields(pSession->abRequest, TFTP_DATA, 1, pPlan->bClearFlags, IDATA_CLEAR_PAGE);
    memset(pSession->abRequest + PACKET_HEADER_SIZE, 0, PACKET_DATA_AREA);
    consolePrintf(TEXT_FINISHING "\n");
    const ExchangeRules rules = {handleClearReply, NULL, true, false};
    result = exchange(pSession, IDATA_CLEAR_SIZE, &rules);
    if (result != EXCHANGE_COMPLETE) return ended(result);
  }

  setPacketFields(pSession->abRequest, TFTP_COMMIT, pPlan->bCommitCode, pPlan->bCommitFlags, 0);
  setCommitData(pSession->abRequest, pPlan->wFirstPage, pPlan->wEndPage,
                transferCommitCrc(pPlan));
  const ExchangeRules commitRules = {handleCommitReply, NULL, false, true};
  result = exchange(pSession, COMMIT_SIZE, &commitRules);
  if (result != EXCHANGE_COMPLETE) return ended(result);

  if (pPlan->bAnnounces) consolePrintf(TEXT_TRANSFERED "\n");
  return TRANSFER_DONE;
}
