// SPDX-License-Identifier: Apache-2.0
// The simulated device's handling of update requests: model query (with
// its password check), page data (with the image header of an encrypted
// transfer and the old idata clearing page), and the commit with its
// checks: the CRC-16, the commit code against the page range, and, given
// the key, the page packets' flags, the image CRC after deciphering and
// whether the image is of the kind its pages take (logo or HTML).
#include "tools/zvdevsim/device.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "crypto/des.h"
#include "image/crc16.h"
#include "image/image_kind.h"
#include "image/image_store.h"
#include "image/update_file.h"
#include "image/update_file_builder.h"
#include "net/packet.h"
#include "net/upload_plan.h"

void simMakeReply(uint8_t bCommand, uint8_t bCode, uint16_t usPage,
                  uint8_t *pReply) {
  Reply reply = {bCommand, bCode, usPage};
  makeReply(&reply, pReply);
}

void simInitDevice(SimDevice *pDev, uint8_t bModel, const char *pszPassword,
                   const char *pszKey, int bAllEncrypted) {
  pDev->bModel = bModel;
  putPasswordField(pDev->abPassword, pszPassword);
  pDev->memory.assign(SIM_PAGES / SIM_CHUNK_PAGES, std::vector<uint8_t>());
  pDev->bInTransfer = false;
  pDev->bHasHeader = 0;
  memset(pDev->abHeader, 0, sizeof(pDev->abHeader));
  pDev->bHasKey = pszKey != NULL;
  memset(pDev->abKey, 0, sizeof(pDev->abKey));
  for (int i = 0; pszKey != NULL && i < 8 && pszKey[i] != '\0'; i++)
    pDev->abKey[i] = (uint8_t)pszKey[i];
  pDev->bAllEncrypted = bAllEncrypted;
  pDev->bBadFlags = pDev->bBadPlainFlags = false;
  pDev->usBadFlagsPage = 0;
  pDev->nAckPage = -1;
  pDev->bHtmlNotLogo = 0;
}

// The page an ACK to the clearing or a commit names.
static uint16_t answerPage(const SimDevice *pDev, uint16_t usRequestPage) {
  return pDev->nAckPage < 0 ? usRequestPage : (uint16_t)pDev->nAckPage;
}

static int passwordOk(const SimDevice *pDev, const Request *pReq) {
  return memcmp(pReq->pbPassword, pDev->abPassword, PASSWORD_FIELD_SIZE) == 0;
}

// The flags a page packet of the current transfer must carry: the first
// packet of an encrypted transfer is enciphered, the others only when the
// file was built with -EA; nothing in a transfer without the image header.
// A payload within the first 1032 bytes is the same file with and without
// -EA, so a device told -EA also takes the flags of an upload without it:
// both expectations are followed, and the commit picks.
static void checkFlags(SimDevice *pDev, uint8_t bFlags, uint16_t usPage) {
  uint8_t bWantPlain = 0, bWantAll = 0;
  if (bFlags & FLAG_FIRST_PACKET)
    bWantPlain = bWantAll = FLAG_FIRST_PACKET | FLAG_ENCRYPTED;
  else if (pDev->bHasHeader)
    bWantAll = FLAG_ENCRYPTED;
  uint8_t bWant = pDev->bAllEncrypted ? bWantAll : bWantPlain;
  if (bFlags != bWant && !pDev->bBadFlags) {
    pDev->bBadFlags = true;
    pDev->usBadFlagsPage = usPage;
  }
  if (bFlags != bWantPlain) pDev->bBadPlainFlags = true;
}

static void ignore(SimOutcome *pOut, const char *pszReason) {
  pOut->nKind = SIM_KIND_IGNORED;
  snprintf(pOut->szLine, sizeof(pOut->szLine), "ignore %s", pszReason);
}

static void handleData(SimDevice *pDev, const Request *pReq, int nLength,
                       SimOutcome *pOut) {
  uint8_t bCount = pReq->bCount;
  uint8_t bFlags = pReq->bFlags;
  uint16_t usPage = pReq->wPage;
  int nLead = (bFlags & FLAG_FIRST_PACKET) ? IMAGE_HEADER_SIZE : 0;
  int bLengthOk = nLength == DATA_REQUEST_SIZE + nLead ||
                  (nLead == 0 && nLength == IDATA_CLEAR_SIZE && bCount == 1);
  if (!bLengthOk) return ignore(pOut, "length");
  if (bCount < 1 || bCount > PAGES_PER_PACKET) return ignore(pOut, "count");
  if ((uint32_t)usPage + bCount > SIM_PAGES) return ignore(pOut, "range");

  pOut->nKind = SIM_KIND_DATA;
  int bPasswordOk = passwordOk(pDev, pReq);
  snprintf(pOut->szLine, sizeof(pOut->szLine),
           "data first %u count %u flags 0x%02X len %d %s", (unsigned)usPage,
           (unsigned)bCount, (unsigned)bFlags, nLength,
           bPasswordOk ? "ok" : "badpassword");
  pOut->bReply = true;
  if (!bPasswordOk) {
    simMakeReply(TFTP_NACK, NACK_BAD_PASSWORD, usPage, pOut->abReply);
    return;
  }
  if (nLead != 0 || !pDev->bInTransfer) {
    pDev->bInTransfer = true;
    pDev->bHasHeader = nLead != 0;
    pDev->bBadFlags = pDev->bBadPlainFlags = false;
    if (nLead != 0)
      memcpy(pDev->abHeader, pReq->pbData, IMAGE_HEADER_SIZE);
  }
  // The old idata clearing page repeats whatever flags came last.
  int bClearing = nLength == IDATA_CLEAR_SIZE && usPage == IDATA_CLEAR_PAGE;
  if (pDev->bHasKey && !bClearing) checkFlags(pDev, bFlags, usPage);
  for (uint32_t ulPage = usPage; ulPage < (uint32_t)usPage + bCount; ulPage++) {
    std::vector<uint8_t> &chunk = pDev->memory[ulPage / SIM_CHUNK_PAGES];
    if (chunk.empty()) chunk.assign((size_t)SIM_CHUNK_PAGES * PAGE_SIZE, 0);
    memcpy(&chunk[ulPage % SIM_CHUNK_PAGES * PAGE_SIZE],
           pReq->pbData + nLead + (ulPage - usPage) * PAGE_SIZE, PAGE_SIZE);
  }
  simMakeReply(TFTP_ACK, pDev->bModel, bClearing ? answerPage(pDev, usPage) : usPage,
               pOut->abReply);
}

void simTransferStream(const SimDevice *pDev, uint16_t usFirst, uint16_t usEnd,
                       std::vector<uint8_t> *pStream) {
  pStream->clear();
  if (pDev->bHasHeader)
    pStream->insert(pStream->end(), pDev->abHeader,
                    pDev->abHeader + IMAGE_HEADER_SIZE);
  for (uint32_t ulPage = usFirst; ulPage < usEnd; ulPage++) {
    const std::vector<uint8_t> &chunk = pDev->memory[ulPage / SIM_CHUNK_PAGES];
    if (chunk.empty()) {
      pStream->insert(pStream->end(), PAGE_SIZE, 0);
    } else {
      const uint8_t *pPage = &chunk[ulPage % SIM_CHUNK_PAGES * PAGE_SIZE];
      pStream->insert(pStream->end(), pPage, pPage + PAGE_SIZE);
    }
  }
}

// The commit code that a transfer over these pages must carry; 0 for a
// range the device does not know, whose code is not checked.
static uint8_t expectedCommitCode(uint16_t usFirst, uint16_t usEnd) {
  if (usFirst == LOGO_FIRST_PAGE || usFirst == IDATA_FIRST_PAGE) return COMMIT_LOGO_IDATA;
  if (usFirst != 0) return 0;
  return usEnd == HTML_END_PAGE ? COMMIT_HTML : COMMIT_MAIN;
}

// The payload whose image CRC the image header holds, after the first
// ulSpan bytes of the stream (a copy) are deciphered as the device would;
// 0 when none fits.
static uint32_t imageFound(const SimDevice *pDev, std::vector<uint8_t> *pStream,
                           uint32_t ulSpan) {
  std::vector<uint8_t> &abStream = *pStream;
  uint32_t ulSize = (uint32_t)abStream.size();
  ulSpan = std::min(ulSpan, ulSize);
  desCbcDecrypt(abStream.data(), ulSpan - ulSpan % 8, pDev->abKey);
  ImageHeaderReading reading;
  readImageHeader(abStream.data(), ulSize, 0, &reading);
  return reading.ulPayload;
}

// A payload that lies within the first 1032 bytes (enciphered whole with
// or without -EA).
static int smallPayload(const SimDevice *pDev, const std::vector<uint8_t> &abStream) {
  std::vector<uint8_t> abCopy = abStream;
  uint32_t ulPayload = imageFound(pDev, &abCopy, ENCRYPT_FIRST_BLOCK);
  return ulPayload != 0 && ulPayload <= ENCRYPT_FIRST_BLOCK;
}

// Whether the deciphered stream holds a logo image: its own length in
// front and no text (the tool's rule, which zvinspect follows too).
static int looksLikeLogo(const std::vector<uint8_t> &abPlain) {
  return payloadKind(abPlain.data(), (uint32_t)abPlain.size()) == PAYLOAD_LOGO;
}

// Whether a page packet's flags were wrong for the file: told -EA, the
// device takes either upload of a payload that -EA leaves unchanged.
static bool badFlags(const SimDevice *pDev, const std::vector<uint8_t> &abStream) {
  if (!pDev->bBadFlags) return false;
  if (pDev->bAllEncrypted && pDev->bHasHeader && !pDev->bBadPlainFlags)
    return !smallPayload(pDev, abStream);
  return true;
}

static void handleCommit(SimDevice *pDev, const uint8_t *pbRequest, const Request *pReq,
                         int nLength, SimOutcome *pOut) {
  if (nLength != COMMIT_SIZE) return ignore(pOut, "length");
  uint16_t usFirst, usEnd, usCrc;
  getCommitData(pbRequest, &usFirst, &usEnd, &usCrc);
  uint8_t bCode = pReq->bCount;
  uint8_t bWantCode = expectedCommitCode(usFirst, usEnd);
  const char *pszVerdict = "bad crc";
  int bFlagsBad = pDev->bHasKey && pDev->bBadFlags;
  if (usEnd >= usFirst) {
    std::vector<uint8_t> abStream;
    simTransferStream(pDev, usFirst, usEnd, &abStream);
    bFlagsBad = pDev->bHasKey && badFlags(pDev, abStream);
    // The run is (end - first) pages long, header bytes included: it stops
    // 8 bytes short of the stream of an encrypted transfer.
    uint32_t ulRun = (uint32_t)(usEnd - usFirst) * PAGE_SIZE;
    if (calcCrc16(abStream.data(), ulRun) != usCrc)
      pszVerdict = "bad crc";
    else if (bWantCode != 0 && bCode != bWantCode)
      pszVerdict = "bad code";
    else if (bFlagsBad)
      pszVerdict = "bad flags";
    else if (pDev->bHasKey && pDev->bHasHeader) {
      std::vector<uint8_t> abPlain = abStream;
      uint32_t ulSpan = pDev->bAllEncrypted ? (uint32_t)abPlain.size() : ENCRYPT_FIRST_BLOCK;
      if (imageFound(pDev, &abPlain, ulSpan) == 0)
        pszVerdict = "bad image";
      else if (usFirst == LOGO_FIRST_PAGE ? !looksLikeLogo(abPlain)
               : bWantCode == COMMIT_HTML  ? pDev->bHtmlNotLogo && looksLikeLogo(abPlain)
                                           : false)
        pszVerdict = "bad type";
      else
        pszVerdict = "ok";
    } else
      pszVerdict = "ok";
  }
  int bOk = strcmp(pszVerdict, "ok") == 0;
  pDev->bInTransfer = false;
  pOut->nKind = SIM_KIND_COMMIT;
  pOut->bReply = true;
  pOut->bCommitOk = bOk;
  pOut->usFirst = usFirst;
  pOut->usEnd = usEnd;
  if (bFlagsBad && !bOk)
    snprintf(pOut->szLine, sizeof(pOut->szLine),
             "commit code %u first %u end %u crc 0x%04X %s page %u",
             (unsigned)bCode, (unsigned)usFirst, (unsigned)usEnd,
             (unsigned)usCrc, pszVerdict, (unsigned)pDev->usBadFlagsPage);
  else
    snprintf(pOut->szLine, sizeof(pOut->szLine),
             "commit code %u first %u end %u crc 0x%04X %s", (unsigned)bCode,
             (unsigned)usFirst, (unsigned)usEnd, (unsigned)usCrc, pszVerdict);
  uint16_t usPage = pReq->wPage;
  if (bOk)
    simMakeReply(TFTP_ACK, pDev->bModel, answerPage(pDev, usPage), pOut->abReply);
  else
    simMakeReply(TFTP_NACK, NACK_BAD_CRC, usPage, pOut->abReply);
}

void simHandleRequest(SimDevice *pDev, const uint8_t *pRequest, int nLength,
                      SimOutcome *pOut) {
  memset(pOut, 0, sizeof(*pOut));
  if (nLength <= 0) return ignore(pOut, "empty");
  Request request;
  if (!parseRequest(pRequest, nLength, &request)) return ignore(pOut, "short");
  switch (request.bCommand) {
    case TFTP_GET_MODEL: {
      if (nLength != PACKET_HEADER_SIZE) return ignore(pOut, "length");
      pDev->bInTransfer = false;  // a new upload begins with the query
      pOut->nKind = SIM_KIND_MODEL;
      pOut->bReply = true;
      int bPasswordOk = passwordOk(pDev, &request);
      if (bPasswordOk)
        simMakeReply(TFTP_GET_MODEL, pDev->bModel, 0, pOut->abReply);
      else
        simMakeReply(TFTP_NACK, NACK_BAD_PASSWORD, 0, pOut->abReply);
      snprintf(pOut->szLine, sizeof(pOut->szLine), "getmodel model %u %s",
               (unsigned)pDev->bModel, bPasswordOk ? "ok" : "badpassword");
      return;
    }
    case TFTP_DATA:
      return handleData(pDev, &request, nLength, pOut);
    case TFTP_COMMIT:
      return handleCommit(pDev, pRequest, &request, nLength, pOut);
    default:
      return ignore(pOut, "command");
  }
}
