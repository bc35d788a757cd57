// The transfer session.  Each exchange sends one request and takes up to 15
// replies through the receive channel; a reply either completes the
// exchange, ends the process, or uses up its wait.  When all 15 waits are
// used up the same bytes go out again, without limit.
#include "net/transfer.h"

#include <stdio.h>
#include <string.h>

#include "app/console.h"
#include "app/settings.h"
#include "image/crc16.h"
#include "image/image_store.h"
#include "net/packet.h"
#include "net/receive_channel.h"

namespace {

enum Verdict { REPLY_USED_UP, REPLY_COMPLETE };

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
// waits, since a late reply to the same bytes still answers it.  Returns 0
// when a send failed, after the phase's own report.
int exchange(Session *pSession, int nLength, ReplyHandler pfnHandle,
             const char *pszEachSend, int bPlainSendError) {
  for (int bResend = 0;; bResend = 1) {
    if (pszEachSend != NULL) consoleWrite(pszEachSend, (int)strlen(pszEachSend));
    if (!bResend)
      dropStaleReplies(pSession->s, pSession->abReply,
                       sizeof(pSession->abReply));
    if (platSendTo(pSession->s, pSession->abRequest, nLength,
                   pSession->pDest) < 0) {
      if (bPlainSendError)
        consolePrintf("clearing old idata: sendto error\n");
      else
        printError("transferFile sendto error");
      return 0;
    }
    int nReceived = 0;
    for (int i = 0; i < UPDATE_WAITS; i++) {
      nReceived = receiveCommand(pSession->s, pSession->abReply,
                                 sizeof(pSession->abReply));
      if (nReceived < 0) endWith(-1, "receiveCommand error!\n");
      if (nReceived > 0 &&
          pfnHandle(pSession, nReceived) == REPLY_COMPLETE)
        return 1;
    }
    if (nReceived == 0) consolePrintf("recv timeout\n");
  }
}

uint16_t requestPage(const Session *pSession) {
  return getLe16(pSession->abRequest + PACKET_PAGE);
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
    consolePrintf(
        "Wrong receive length from Code Update Packet %d wanted %d, got %d\n",
        wPage, REPLY_SIZE, nLength);
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
    consolePrintf(
        "Wrong receive length from Code Update Packet %d wanted %d, got %d\n",
        IDATA_CLEAR_PAGE, REPLY_SIZE, nLength);
    platExit(-1);
  }
  return reply.bCommand == TFTP_ACK ? REPLY_COMPLETE : REPLY_USED_UP;
}

Verdict handleCommitReply(Session *pSession, int nLength) {
  Reply reply;
  if (!parseReply(pSession->abReply, nLength, &reply)) {
    consolePrintf(
        "Wrong receive length from Code Update Packet %d wanted %d, got %d\n",
        0, REPLY_SIZE, nLength);
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

int sendPages(Session *pSession, int nCode, uint16_t wFirst, uint16_t wEnd) {
  int bEncrypted = g_bEncrypted && nCode != FILE_TYPE_MODEL_QUERY;
  uint8_t bFlags = bEncrypted ? (FLAG_FIRST_PACKET | FLAG_ENCRYPTED) : 0;
  uint32_t ulHeaderBytes = bEncrypted ? IMAGE_HEADER_SIZE : 0;
  uint32_t ulOffset = 0;
  // The request keeps these values when no page is to be sent.
  setPacketFields(pSession->abRequest, TFTP_DATA,
                  pSession->abRequest[PACKET_COUNT], bFlags, wFirst);
  for (uint16_t wPage = wFirst; wPage < wEnd;) {
    uint8_t bCount = (uint8_t)(wEnd - wPage < PAGES_PER_PACKET
                                   ? wEnd - wPage
                                   : PAGES_PER_PACKET);
    setPacketFields(pSession->abRequest, TFTP_DATA, bCount, bFlags, wPage);
    copySource(pSession, ulOffset, ulHeaderBytes + PACKET_PAGE_BYTES);
    char szMessage[64];
    snprintf(szMessage, sizeof(szMessage),
             "Sending Code Update pages %d to %d\n", wPage,
             wPage + bCount - 1);
    int nLength =
        (int)(ulHeaderBytes + PACKET_HEADER_SIZE + PACKET_PAGE_BYTES);
    if (!exchange(pSession, nLength, handlePageReply, szMessage, 0)) return 0;
    wPage = (uint16_t)(wPage + bCount);
    ulOffset += ulHeaderBytes + PAGE_SIZE * bCount;
    bFlags &= FLAG_ENCRYPTED;
    ulHeaderBytes = 0;
    if (g_bFirstBlockOnly) bFlags = 0;
    pSession->abRequest[PACKET_FLAGS] = bFlags;  // the clearing repeats it
  }
  return 1;
}

}  // namespace

int transferFile(PlatSocket s, const PlatAddress *pDest, int nCode) {
  static Session session;  // one transfer at a time, on the update thread
  Session *pSession = &session;
  memset(pSession, 0, sizeof(*pSession));
  pSession->s = s;
  pSession->pDest = pDest;
  preparePacketHeader(pSession->abRequest, g_szPassword);

  uint16_t wFirst = 0, wEnd = 0;
  uint8_t bCommitCode = 0;
  pSession->pbSource = g_abImage + nMinHexAddress;
  pSession->ulSourceSize =
      nMinHexAddress < IMAGE_SIZE ? IMAGE_SIZE - nMinHexAddress : 0;
  switch (nCode) {
    case FILE_TYPE_MAIN: {
      uint32_t ulLength = nMaxHexAddress - nMinHexAddress;
      if (g_bEncrypted) ulLength -= IMAGE_HEADER_SIZE;
      wEnd = (uint16_t)(ulLength / PAGE_SIZE + (ulLength % PAGE_SIZE != 0));
      bCommitCode = COMMIT_MAIN;
      break;
    }
    case FILE_TYPE_LOGO:
      wFirst = LOGO_FIRST_PAGE;
      wEnd = LOGO_END_PAGE;
      bCommitCode = COMMIT_LOGO_IDATA;
      break;
    case FILE_TYPE_HTML:
      wFirst = HTML_FIRST_PAGE;
      wEnd = HTML_END_PAGE;
      bCommitCode = COMMIT_HTML;
      break;
    case FILE_TYPE_MODEL_QUERY:
      pSession->pbSource = g_abIdata;
      pSession->ulSourceSize = IDATA_SIZE;
      wFirst = IDATA_FIRST_PAGE;
      wEnd = IDATA_END_PAGE;
      bCommitCode = COMMIT_LOGO_IDATA;
      break;
    default:
      endWith(-1, "Unknown file type\n");
  }

  if (nCode == FILE_TYPE_MODEL_QUERY) {
    consolePrintf("Getting quorvaUnit model\n");
    pSession->abRequest[PACKET_COMMAND] = TFTP_GET_MODEL;
    if (!exchange(pSession, PACKET_HEADER_SIZE, handleModelReply, NULL, 0))
      return 0;
  }

  if (!sendPages(pSession, nCode, wFirst, wEnd)) return 0;

  if (nCode == FILE_TYPE_MAIN) {
    setPacketFields(pSession->abRequest, TFTP_DATA, 1,
                    pSession->abRequest[PACKET_FLAGS], IDATA_CLEAR_PAGE);
    memset(pSession->abRequest + PACKET_HEADER_SIZE, 0, PACKET_DATA_AREA);
    consolePrintf("Finishing transfering microcode\n");
    if (!exchange(pSession, IDATA_CLEAR_SIZE, handleClearReply, NULL, 1))
      return 0;
  }

  uint8_t bFlags = pSession->abRequest[PACKET_FLAGS];
  if (g_bEncrypted && nCode != FILE_TYPE_MODEL_QUERY) bFlags = FLAG_ENCRYPTED;
  setPacketFields(pSession->abRequest, TFTP_COMMIT, bCommitCode, bFlags, 0);
  uint32_t ulCrcLength = (uint32_t)(wEnd - wFirst) * PAGE_SIZE;
  if (ulCrcLength > pSession->ulSourceSize)
    ulCrcLength = pSession->ulSourceSize;
  setCommitData(pSession->abRequest, wFirst, wEnd,
                calcCrc16(pSession->pbSource, ulCrcLength));
  if (!exchange(pSession, COMMIT_SIZE, handleCommitReply, NULL, 0)) return 0;

  if (nCode != FILE_TYPE_MODEL_QUERY) consolePrintf("File Transfered\n");
  return 1;
}
