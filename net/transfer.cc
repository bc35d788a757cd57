// SPDX-License-Identifier: Apache-2.0
// The transfer session.  Each exchange sends one request and takes up to 15
// replies through the receive channel; a reply either completes the
// exchange, ends the process, or uses up its wait.  When all 15 waits are
// used up the same bytes go out again, without limit.
#include "net/transfer.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "app/console.h"
#include "app/settings.h"
#include "image/crc16.h"
#include "image/image_store.h"
#include "net/packet.h"
#include "net/receive_channel.h"

namespace {

enum Verdict { REPLY_USED_UP, REPLY_COMPLETE };

// What a transfer code sends: the pages (an end of 0: as many as the main
// image fills), where its data comes from, whether the image header leads
// it when the file is enciphered, the model query before and the old idata
// clearing after the pages, and the commit code.
struct TransferPlan {
  int nCode;
  uint16_t wFirstPage, wEndPage;
  int bFromIdata;
  int bImageHeader;
  int bModelQuery;
  int bClearsOldIdata;
  uint8_t bCommitCode;
};

const TransferPlan s_aPlans[] = {
    {FILE_TYPE_MAIN, 0, 0, 0, 1, 0, 1, COMMIT_MAIN},
    {FILE_TYPE_LOGO, LOGO_FIRST_PAGE, LOGO_END_PAGE, 0, 1, 0, 0, COMMIT_LOGO_IDATA},
    {FILE_TYPE_HTML, HTML_FIRST_PAGE, HTML_END_PAGE, 0, 1, 0, 0, COMMIT_HTML},
    {FILE_TYPE_MODEL_QUERY, IDATA_FIRST_PAGE, IDATA_END_PAGE, 1, 0, 1, 0,
     COMMIT_LOGO_IDATA},
};

struct Session {
  PlatSocket s;
  const PlatAddress *pDest;
  uint8_t abRequest[PACKET_BUFFER_SIZE];
  uint8_t abReply[PACKET_BUFFER_SIZE];
  const uint8_t *pbSource;  // the data of this transfer
  uint32_t ulSourceSize;    // bytes that stand at pbSource
};

typedef Verdict (*ReplyHandler)(Session *pSession, int nLength);

[[noreturn]] void endWith(int nStatus, const char *pszMessage) {
  consolePrintf("%s", pszMessage);
  platExit(nStatus);
}

// Sends the first nLength request bytes until a reply completes the
// exchange.  pszEachSend, when given, is printed before every send.
// Datagrams that wait before the request first goes out are stale (a
// duplicate of an earlier reply, say) and dropped; a resend keeps what
// waits, since a late reply to the same bytes still answers it.  Returns
// false when a send failed, after the phase's own report.
bool exchange(Session *pSession, int nLength, ReplyHandler pfnHandle,
              const char *pszEachSend, bool bPlainSendError) {
  for (int bResend = 0;; bResend = 1) {
    if (pszEachSend != NULL) consoleWrite(pszEachSend, (int)strlen(pszEachSend));
    if (!bResend)
      dropStaleReplies(pSession->s, pSession->abReply,
                       sizeof(pSession->abReply));
    // A datagram sent only in part is no request either.
    if (platSendTo(pSession->s, pSession->abRequest, nLength,
                   pSession->pDest) != nLength) {
      if (bPlainSendError)
        consolePrintf("clearing old idata: sendto error\n");
      else
        printError("transferFile sendto error");
      return false;
    }
    int nReceived = 0;
    for (int i = 0; i < UPDATE_WAITS; i++) {
      nReceived = receiveCommand(pSession->s, pSession->abReply,
                                 sizeof(pSession->abReply));
      if (nReceived < 0) endWith(-1, "receiveCommand error!\n");
      if (nReceived > 0 &&
          pfnHandle(pSession, nReceived) == REPLY_COMPLETE)
        return true;
    }
    if (nReceived == 0) consolePrintf("recv timeout\n");
  }
}

uint16_t requestPage(const Session *pSession) {
  return getLe16(pSession->abRequest + PACKET_PAGE);
}

void reportReplyLength(uint16_t wPage, int nLength) {
  consolePrintf(
      "Wrong receive length from Code Update Packet %d wanted %d, got %d\n",
      wPage, REPLY_SIZE, nLength);
}

Verdict handleModelReply(Session *pSession, int nLength) {
  Reply reply;
  if (!parseReply(pSession->abReply, nLength, &reply)) {
    consolePrintf("Wrong receive length from Code Update wanted %d, got %d\n",
                  REPLY_SIZE, nLength);
    platExit(0);
  }
  switch (reply.bCommand) {
    case TFTP_GET_MODEL:
      if (reply.bValue != g_bModel)
        endWith(0,
                "Error! Trying to update the microcode using incorrect "
                "quorvaUnit model update file\n");
      return REPLY_COMPLETE;
    case TFTP_ACK:
      return reply.bValue == g_bModel ? REPLY_COMPLETE : REPLY_USED_UP;
    case TFTP_NACK:
      if (reply.bValue == NACK_BAD_PASSWORD)
        endWith(-1, "You entered the wrong Set Password\n");
      if (reply.bValue != NACK_UNKNOWN_MODEL)
        endWith(-1, "Received an NACK\n");
      consolePrintf("Updating to an unknown quorvaUnit model\n");
      return REPLY_COMPLETE;
    default:
      consolePrintf("Received an unknown packet: %d\n", reply.bCommand);
      platExit(0);
  }
}

Verdict handlePageReply(Session *pSession, int nLength) {
  Reply reply;
  uint16_t wPage = requestPage(pSession);
  if (!parseReply(pSession->abReply, nLength, &reply)) {
    reportReplyLength(wPage, nLength);
    return REPLY_USED_UP;
  }
  switch (reply.bCommand) {
    case TFTP_NACK:
      if (reply.bValue == NACK_BAD_PASSWORD)
        endWith(-1, "You entered the wrong Set Password\n");
      if (reply.bValue == NACK_BAD_CRC)
        endWith(0, "Received bad CRC, exiting\n");
      if (reply.bValue == NACK_BAD_VERSION)
        endWith(0, "Received bad version, exiting\n");
      consolePrintf("Received a NACK from packet %d\n", reply.wPage);
      return REPLY_USED_UP;
    case TFTP_ACK:
      if (reply.wPage == wPage) return REPLY_COMPLETE;
      consolePrintf(
          "Received ACK from wrong packet. Wanted packet %d, got packet %d\n",
          wPage, reply.wPage);
      return REPLY_USED_UP;
    default:
      consolePrintf(
          "Did not get the correct command expected TFTP_ACK(%d), got %d\n",
          TFTP_ACK, reply.bCommand);
      return REPLY_USED_UP;
  }
}

Verdict handleClearReply(Session *pSession, int nLength) {
  Reply reply;
  if (!parseReply(pSession->abReply, nLength, &reply)) {
    reportReplyLength(IDATA_CLEAR_PAGE, nLength);
    platExit(-1);
  }
  return reply.bCommand == TFTP_ACK ? REPLY_COMPLETE : REPLY_USED_UP;
}

Verdict handleCommitReply(Session *pSession, int nLength) {
  Reply reply;
  if (!parseReply(pSession->abReply, nLength, &reply)) {
    reportReplyLength(0, nLength);
    platExit(-1);
  }
  if (reply.bCommand != TFTP_NACK) return REPLY_COMPLETE;
  if (reply.bValue == NACK_BAD_CRC) endWith(-1, "Received bad CRC, exiting\n");
  consolePrintf("Received a NACK from packet %d\n", reply.wPage);
  return REPLY_USED_UP;
}

// Copies ulCount source bytes from ulOffset into the data area; bytes that
// would lie beyond the source block are sent as zeros.
void copySource(Session *pSession, uint32_t ulOffset, uint32_t ulCount) {
  uint8_t *pbData = pSession->abRequest + PACKET_HEADER_SIZE;
  uint32_t ulAvailable = 0;
  if (ulOffset < pSession->ulSourceSize)
    ulAvailable = pSession->ulSourceSize - ulOffset;
  if (ulAvailable > ulCount) ulAvailable = ulCount;
  if (ulAvailable > 0)
    memcpy(pbData, pSession->pbSource + ulOffset, ulAvailable);
  memset(pbData + ulAvailable, 0, ulCount - ulAvailable);
}

// Sends the pages from wFirst to wEnd, the first packet led by ulHeaderBytes
// of image header.  Returns the flags of the last page packet (those of the
// first when none is sent), or -1 when a send failed.
int sendPages(Session *pSession, uint16_t wFirst, uint16_t wEnd,
              uint32_t ulHeaderBytes) {
  // An enciphered transfer marks its first packet, and every packet when
  // the whole payload is enciphered (-EA).
  uint8_t bFlags = ulHeaderBytes != 0 ? FLAG_FIRST_PACKET | FLAG_ENCRYPTED : 0;
  uint32_t ulOffset = 0;
  for (uint16_t wPage = wFirst; wPage < wEnd;) {
    uint8_t bCount = (uint8_t)std::min<uint32_t>(wEnd - wPage, PAGES_PER_PACKET);
    setPacketFields(pSession->abRequest, TFTP_DATA, bCount, bFlags, wPage);
    copySource(pSession, ulOffset, ulHeaderBytes + PACKET_PAGE_BYTES);
    char szMessage[64];
    snprintf(szMessage, sizeof(szMessage),
             "Sending Code Update pages %d to %d\n", wPage,
             wPage + bCount - 1);
    int nLength =
        (int)(ulHeaderBytes + PACKET_HEADER_SIZE + PACKET_PAGE_BYTES);
    if (!exchange(pSession, nLength, handlePageReply, szMessage, false)) return -1;
    wPage = (uint16_t)(wPage + bCount);
    ulOffset += ulHeaderBytes + PAGE_SIZE * bCount;
    ulHeaderBytes = 0;
    bFlags = g_bFirstBlockOnly ? 0 : (uint8_t)(bFlags & FLAG_ENCRYPTED);
  }
  return bFlags;
}

const TransferPlan *planFor(int nCode) {
  for (const TransferPlan &plan : s_aPlans)
    if (plan.nCode == nCode) return &plan;
  return NULL;
}

}  // namespace

int transferFile(PlatSocket s, const PlatAddress *pDest, int nCode) {
  const TransferPlan *pPlan = planFor(nCode);
  if (pPlan == NULL) endWith(-1, "Unknown file type\n");
  static Session session;  // one transfer at a time, on the update thread
  Session *pSession = &session;
  memset(pSession, 0, sizeof(*pSession));
  pSession->s = s;
  pSession->pDest = pDest;
  preparePacketHeader(pSession->abRequest, g_szPassword);

  // An update file's payload leads with the image header; a plain input
  // and the idata block have none.
  uint32_t ulHeaderBytes =
      g_bEncrypted && pPlan->bImageHeader ? IMAGE_HEADER_SIZE : 0;
  if (pPlan->bFromIdata) {
    pSession->pbSource = g_abIdata;
    pSession->ulSourceSize = IDATA_SIZE;
  } else {
    // The loaders leave the image at the start of the store.
    pSession->pbSource = g_abImage + nMinHexAddress;
    pSession->ulSourceSize = IMAGE_SIZE - nMinHexAddress;
  }
  uint16_t wFirst = pPlan->wFirstPage, wEnd = pPlan->wEndPage;
  if (wEnd == 0) {  // the main image: its length in whole pages
    uint32_t ulLength = nMaxHexAddress - nMinHexAddress - ulHeaderBytes;
    wEnd = (uint16_t)(ulLength / PAGE_SIZE + (ulLength % PAGE_SIZE != 0));
  }

  if (pPlan->bModelQuery) {
    consolePrintf("Getting quorvaUnit model\n");
    pSession->abRequest[PACKET_COMMAND] = TFTP_GET_MODEL;
    if (!exchange(pSession, PACKET_HEADER_SIZE, handleModelReply, NULL, false))
      return 0;
  }

  int nFlags = sendPages(pSession, wFirst, wEnd, ulHeaderBytes);
  if (nFlags < 0) return 0;

  if (pPlan->bClearsOldIdata) {
    // The clearing packet repeats the flags of the last page packet.
    setPacketFields(pSession->abRequest, TFTP_DATA, 1, (uint8_t)nFlags,
                    IDATA_CLEAR_PAGE);
    memset(pSession->abRequest + PACKET_HEADER_SIZE, 0, PACKET_DATA_AREA);
    consolePrintf("Finishing transfering microcode\n");
    if (!exchange(pSession, IDATA_CLEAR_SIZE, handleClearReply, NULL, true))
      return 0;
  }

  // The commit of an enciphered transfer is marked so; the others keep the
  // last flags, which are 0 in them.
  uint8_t bFlags = ulHeaderBytes != 0 ? FLAG_ENCRYPTED : (uint8_t)nFlags;
  setPacketFields(pSession->abRequest, TFTP_COMMIT, pPlan->bCommitCode,
                  bFlags, 0);
  uint32_t ulCrcLength = (uint32_t)(wEnd - wFirst) * PAGE_SIZE;
  if (ulCrcLength > pSession->ulSourceSize)
    ulCrcLength = pSession->ulSourceSize;
  setCommitData(pSession->abRequest, wFirst, wEnd,
                calcCrc16(pSession->pbSource, ulCrcLength));
  if (!exchange(pSession, COMMIT_SIZE, handleCommitReply, NULL, false)) return 0;

  if (!pPlan->bModelQuery) consolePrintf("File Transfered\n");
  return 1;
}
