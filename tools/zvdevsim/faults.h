// SPDX-License-Identifier: Apache-2.0
// Fault injection of zvdevsim: the "-at N:ACTION" entries, and how each one
// changes the delivery of the device's reply to the N-th datagram received.
#ifndef ZV_DEVSIM_FAULTS_H
#define ZV_DEVSIM_FAULTS_H

#include <stdint.h>

#include <vector>

#include "tools/zvdevsim/device.h"

#define SIM_MAX_DATAGRAM 65507  // longest IPv4 UDP payload
#define SIM_MAX_STRAY 1000
#define SIM_MAX_DELAY_MS 600000

enum SimFaultAction {
  SIM_FAULT_DROP,
  SIM_FAULT_NACK,
  SIM_FAULT_LEN,
  SIM_FAULT_EMPTY,
  SIM_FAULT_WRONGPAGE,
  SIM_FAULT_CMD,
  SIM_FAULT_MODEL,
  SIM_FAULT_ACKMODEL,
  SIM_FAULT_STRAY,
  SIM_FAULT_DUP,
  SIM_FAULT_DELAY,
  SIM_FAULT_OTHER,
  SIM_FAULT_ACK_FIRST,
  SIM_FAULT_MODEL_FIRST
};

struct SimFault {
  uint32_t ulRequest;  // 1-based number of the datagram received
  int nAction;
  uint32_t ulValue;   // CODE, K, C, M or MS
  char szAction[40];  // the ACTION text, for the report
};

// How the reply to one request goes out.
struct SimDelivery {
  uint8_t abReply[REPLY_SIZE];  // content (the device's reply, changed)
  int nLength;                      // bytes sent: cut or zero padded
  bool bDrop;                       // send nothing of the reply
  int nStray;                       // stray ACKs sent instead of the reply
  int nCopies;                      // 1, or 2 after dup
  uint32_t ulDelayMs;
  bool bOther;  // send from the second socket
  // Datagrams that go out just before the reply, as a late copy of an
  // earlier answer would: an ACK naming a page, a model reply.
  bool bAckFirst;
  uint16_t usAckFirstPage;
  bool bModelFirst;
};

// One datagram that the device sends in answer to a request.
struct SimDatagram {
  uint8_t abData[REPLY_SIZE];  // its first bytes; the rest is zero
  int nLength;
  bool bStray;
  bool bEarly;  // goes out at once, ahead of the reply's delay
};

// Parses "N:ACTION": false when the text is not a valid fault.
bool simParseFault(const char *pszText, SimFault *pFault);

void simApplyFault(const SimFault *pFault, SimDelivery *pDelivery);

// Plans the delivery of the reply to datagram ulRequest: the device's
// reply with the faults for that datagram applied in command-line order,
// each told to pfnNote when given.  Returns 0 when the request got no
// reply (its faults do nothing).
int simPlanDelivery(const std::vector<SimFault> &faults, uint32_t ulRequest,
                    const SimOutcome *pOut, SimDelivery *pDelivery,
                    void (*pfnNote)(const char *pszFormat, ...));

// The datagrams of a planned delivery in the order they go out: the ACK
// and the model reply that go first (at once, whatever the delay), the reply's copies (none when it is
// dropped), then the stray ACKs (command 1, model + 1 in byte 1, the
// reply's page + 1).
std::vector<SimDatagram> simDeliveryDatagrams(const SimDelivery *pDelivery,
                                              uint8_t bModel);

#endif
