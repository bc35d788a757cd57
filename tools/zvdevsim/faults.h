// Fault injection of zvdevsim: the "-at N:ACTION" entries, and how each one
// changes the delivery of the device's reply to the N-th datagram received.
#ifndef ZV_DEVSIM_FAULTS_H
#define ZV_DEVSIM_FAULTS_H

#include <stdint.h>

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
  SIM_FAULT_OTHER
};

struct SimFault {
  uint32_t ulRequest;  // 1-based number of the datagram received
  int nAction;
  uint32_t ulValue;   // CODE, K, C, M or MS
  char szAction[40];  // the ACTION text, for the report
};

// How the reply to one request goes out.
struct SimDelivery {
  uint8_t abReply[SIM_HEADER_LEN];  // content (the device's reply, changed)
  int nLength;                      // bytes sent: cut or zero padded
  int bDrop;                        // send nothing of the reply
  int nStray;                       // stray ACKs sent instead of the reply
  int nCopies;                      // 1, or 2 after dup
  uint32_t ulDelayMs;
  int bOther;  // send from the second socket
};

// Parses "N:ACTION".  Returns 1, or 0 when the text is not a valid fault.
int simParseFault(const char *pszText, SimFault *pFault);

void simStartDelivery(const uint8_t *pReply, SimDelivery *pDelivery);

void simApplyFault(const SimFault *pFault, SimDelivery *pDelivery);

// A stray ACK: command 1, model + 1 in byte 1, the reply's page + 1.
void simStrayReply(const SimDelivery *pDelivery, uint8_t bModel,
                   uint8_t *pStray);

// Strict decimal number no greater than ulMax.  Returns 1, or 0.
int simParseNumber(const char *pszText, uint32_t ulMax, uint32_t *pulValue);

#endif
