// SPDX-License-Identifier: Apache-2.0
// Parsing of the "-at N:ACTION" faults and their effect on one reply.
#include "tools/zvdevsim/faults.h"

#include <stdio.h>
#include <string.h>

#include "net/packet.h"
#include "tools/common/decimal.h"

struct ActionName {
  const char *pszName;
  int nAction;
  uint32_t ulMax;  // 0: takes no value
};

static const ActionName s_aActions[] = {
    {"drop", SIM_FAULT_DROP, 0},
    {"nack", SIM_FAULT_NACK, 255},
    {"len", SIM_FAULT_LEN, SIM_MAX_DATAGRAM},
    {"empty", SIM_FAULT_EMPTY, 0},
    {"wrongpage", SIM_FAULT_WRONGPAGE, 0},
    {"cmd", SIM_FAULT_CMD, 255},
    {"model", SIM_FAULT_MODEL, 255},
    {"ackmodel", SIM_FAULT_ACKMODEL, 255},
    {"stray", SIM_FAULT_STRAY, SIM_MAX_STRAY},
    {"dup", SIM_FAULT_DUP, 0},
    {"delay", SIM_FAULT_DELAY, SIM_MAX_DELAY_MS},
    {"other", SIM_FAULT_OTHER, 0},
    {"ackfirst", SIM_FAULT_ACK_FIRST, 65535},
    {"modelfirst", SIM_FAULT_MODEL_FIRST, 0},
};

bool simParseFault(const char *pszText, SimFault *pFault) {
  char szCopy[64];
  if (strlen(pszText) >= sizeof(szCopy)) return false;
  strcpy(szCopy, pszText);
  char *pszAction = strchr(szCopy, ':');
  if (pszAction == NULL) return false;
  *pszAction++ = '\0';
  uint32_t ulRequest;
  if (!readDecimal(szCopy, 0xFFFFFFFFu, &ulRequest) || ulRequest == 0)
    return false;
  memset(pFault, 0, sizeof(*pFault));
  snprintf(pFault->szAction, sizeof(pFault->szAction), "%s", pszAction);
  char *pszValue = strchr(pszAction, ':');
  if (pszValue != NULL) *pszValue++ = '\0';
  for (const ActionName &a : s_aActions) {
    if (strcmp(a.pszName, pszAction) != 0) continue;
    if ((a.ulMax == 0) != (pszValue == NULL)) return false;
    if (pszValue != NULL &&
        !readDecimal(pszValue, a.ulMax, &pFault->ulValue))
      return false;
    pFault->ulRequest = ulRequest;
    pFault->nAction = a.nAction;
    return true;
  }
  return false;
}


void simApplyFault(const SimFault *pFault, SimDelivery *pDelivery) {
  Reply reply;
  parseReply(pDelivery->abReply, REPLY_SIZE, &reply);
  switch (pFault->nAction) {
    case SIM_FAULT_DROP:
      pDelivery->bDrop = true;
      break;
    case SIM_FAULT_NACK:
      reply.bCommand = TFTP_NACK;
      reply.bValue = (uint8_t)pFault->ulValue;
      break;
    case SIM_FAULT_LEN:
      pDelivery->nLength = (int)pFault->ulValue;
      break;
    case SIM_FAULT_EMPTY:
      pDelivery->nLength = 0;
      break;
    case SIM_FAULT_WRONGPAGE:
      reply.wPage++;
      break;
    case SIM_FAULT_CMD:
      reply.bCommand = (uint8_t)pFault->ulValue;
      break;
    case SIM_FAULT_MODEL:
      reply.bValue = (uint8_t)pFault->ulValue;
      break;
    case SIM_FAULT_ACKMODEL:
      reply.bCommand = TFTP_ACK;
      reply.bValue = (uint8_t)pFault->ulValue;
      break;
    case SIM_FAULT_STRAY:
      pDelivery->bDrop = true;
      pDelivery->nStray = (int)pFault->ulValue;
      break;
    case SIM_FAULT_DUP:
      pDelivery->nCopies = 2;
      break;
    case SIM_FAULT_DELAY:
      pDelivery->ulDelayMs = pFault->ulValue;
      break;
    case SIM_FAULT_OTHER:
      pDelivery->bOther = true;
      break;
    case SIM_FAULT_ACK_FIRST:
      pDelivery->bAckFirst = true;
      pDelivery->usAckFirstPage = (uint16_t)pFault->ulValue;
      break;
    case SIM_FAULT_MODEL_FIRST:
      pDelivery->bModelFirst = true;
      break;
    default:
      break;
  }
  makeReply(&reply, pDelivery->abReply);
}

int simPlanDelivery(const std::vector<SimFault> &faults, uint32_t ulRequest,
                    const SimOutcome *pOut, SimDelivery *pDelivery,
                    void (*pfnNote)(const char *pszFormat, ...)) {
  memset(pDelivery, 0, sizeof(*pDelivery));
  memcpy(pDelivery->abReply, pOut->abReply, REPLY_SIZE);
  pDelivery->nLength = REPLY_SIZE;
  pDelivery->nCopies = 1;
  for (const SimFault &fault : faults) {
    if (fault.ulRequest != ulRequest) continue;
    if (pOut->bReply) simApplyFault(&fault, pDelivery);
    if (pfnNote != NULL)
      pfnNote("fault %u %s%s", (unsigned)ulRequest, fault.szAction,
              pOut->bReply ? "" : " noreply");
  }
  return pOut->bReply;
}

std::vector<SimDatagram> simDeliveryDatagrams(const SimDelivery *pDelivery,
                                              uint8_t bModel) {
  std::vector<SimDatagram> datagrams;
  SimDatagram datagram;
  datagram.nLength = REPLY_SIZE;
  datagram.bStray = true;  // no answer of the device's to this request
  datagram.bEarly = true;
  if (pDelivery->bAckFirst) {
    simMakeReply(TFTP_ACK, bModel, pDelivery->usAckFirstPage, datagram.abData);
    datagrams.push_back(datagram);
  }
  if (pDelivery->bModelFirst) {
    simMakeReply(TFTP_GET_MODEL, bModel, 0, datagram.abData);
    datagrams.push_back(datagram);
  }
  memcpy(datagram.abData, pDelivery->abReply, REPLY_SIZE);
  datagram.nLength = pDelivery->nLength;
  datagram.bStray = false;
  datagram.bEarly = false;
  if (!pDelivery->bDrop) datagrams.insert(datagrams.end(), (size_t)pDelivery->nCopies, datagram);
  Reply reply;
  parseReply(pDelivery->abReply, REPLY_SIZE, &reply);
  simMakeReply(TFTP_ACK, (uint8_t)(bModel + 1), (uint16_t)(reply.wPage + 1), datagram.abData);
  datagram.nLength = REPLY_SIZE;
  datagram.bStray = true;
  datagrams.insert(datagrams.end(), (size_t)pDelivery->nStray, datagram);
  return datagrams;
}
