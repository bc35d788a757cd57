// SPDX-License-Identifier: Apache-2.0
// Request header fields and reply reading for the update protocol, and
// their other side: the reading of a request and the making of a reply.
#include "net/packet.h"

#include <string.h>

#include "image/image_store.h"

void putPasswordField(uint8_t *pbField, const char *pszPassword) {
  // Zeros after a shorter password; a password that fills the field has no
  // terminator in it.
  strncpy((char *)pbField, pszPassword, PASSWORD_FIELD_SIZE);
}

void preparePacketHeader(uint8_t *pbRequest, const char *pszPassword) {
  putLe16(pbRequest + PACKET_CONST, PACKET_CONST_VALUE);
  putPasswordField(pbRequest + PACKET_PASSWORD, pszPassword);
}

void setPacketFields(uint8_t *pbRequest, uint8_t bCommand, uint8_t bCount,
                     uint8_t bFlags, uint16_t wPage) {
  pbRequest[PACKET_COMMAND] = bCommand;
  pbRequest[PACKET_COUNT] = bCount;
  pbRequest[PACKET_FLAGS] = bFlags;
  putLe16(pbRequest + PACKET_PAGE, wPage);
}

void setCommitData(uint8_t *pbRequest, uint16_t wFirst, uint16_t wEnd,
                   uint16_t wCrc) {
  putLe16(pbRequest + COMMIT_FIRST_AT, wFirst);
  putLe16(pbRequest + COMMIT_END_AT, wEnd);
  putLe16(pbRequest + COMMIT_CRC_AT, wCrc);
}

bool parseRequest(const uint8_t *pbRequest, int nLength, Request *pRequest) {
  if (nLength < PACKET_HEADER_SIZE) return false;
  pRequest->bCommand = pbRequest[PACKET_COMMAND];
  pRequest->bCount = pbRequest[PACKET_COUNT];
  pRequest->bFlags = pbRequest[PACKET_FLAGS];
  pRequest->wPage = getLe16(pbRequest + PACKET_PAGE);
  pRequest->pbPassword = pbRequest + PACKET_PASSWORD;
  pRequest->pbData = pbRequest + PACKET_HEADER_SIZE;
  pRequest->nDataLength = nLength - PACKET_HEADER_SIZE;
  return true;
}

void getCommitData(const uint8_t *pbRequest, uint16_t *pwFirst, uint16_t *pwEnd,
                   uint16_t *pwCrc) {
  *pwFirst = getLe16(pbRequest + COMMIT_FIRST_AT);
  *pwEnd = getLe16(pbRequest + COMMIT_END_AT);
  *pwCrc = getLe16(pbRequest + COMMIT_CRC_AT);
}

bool parseReply(const uint8_t *pbReply, int nLength, Reply *pReply) {
  if (nLength != REPLY_SIZE) return false;
  pReply->bCommand = pbReply[PACKET_COMMAND];
  pReply->bValue = pbReply[PACKET_COUNT];
  pReply->wPage = getLe16(pbReply + PACKET_PAGE);
  return true;
}

void makeReply(const Reply *pReply, uint8_t *pbReply) {
  memset(pbReply, 0, REPLY_SIZE);
  setPacketFields(pbReply, pReply->bCommand, pReply->bValue, 0, pReply->wPage);
}
