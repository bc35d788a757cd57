// SPDX-License-Identifier: Apache-2.0
// One simulated device served: what zvdevsim does with each datagram that
// reaches a device's update port (its report lines, its debug messages,
// the reply with its faults and delays, the count of accepted commits and
// their dumps).  The sockets and the clock are the caller's, reached
// through a SimWire: zvdevsim's main loop puts its own sockets behind it,
// the tests' platform stand-in its queues and virtual clock.
#ifndef ZV_DEVSIM_SERVE_H
#define ZV_DEVSIM_SERVE_H

#include <stdint.h>

#include "platform/platform.h"
#include "tools/zvdevsim/device.h"
#include "tools/zvdevsim/options.h"

// Where a datagram of a served device goes out.
enum SimSend {
  SIM_SEND_REPLY,  // from its update port
  SIM_SEND_OTHER,  // a reply from its second socket (fault "other")
  SIM_SEND_DEBUG   // a debug datagram, from its second socket
};

struct SimServed;

struct SimWire {
  void *pContext;
  // Sends one datagram; returns the bytes sent or -1.
  int (*pfnSend)(void *pContext, const SimServed *pServed, int nSend,
                 const uint8_t *pData, int nLength, const PlatAddress *pTo);
  // The device waits before what it sends next (the program sleeps; the
  // stand-in sends the rest that much later).
  void (*pfnWait)(void *pContext, uint32_t ulMs);
  // One report line, without its line end.
  void (*pfnReport)(void *pContext, const char *pszLine);
};

struct SimServed {
  const SimOptions *pOpt;
  uint32_t ulAddress;  // its own address, network byte order
  char szPrefix[20];   // "ADDR " in front of its report lines, or ""
  SimDevice dev;
  uint32_t ulRequests, ulCommits;
  bool bDebugSent = false;
  bool bEnded = false;  // -c reached: it serves no more
};

// A fresh device of the options at ulAddress; bPrefixed: its report lines
// begin with its address (zvdevsim -n above 1).
void simServeInit(SimServed *pServed, const SimOptions *pOpt, uint32_t ulAddress,
                  int bPrefixed);

// Sends the debug messages to ulTo (at once; once per device).
void simServeDebug(SimServed *pServed, const SimWire *pWire, uint32_t ulTo);

// Handles one datagram of nLength bytes that reached the device's update
// port from pFrom.  Returns 1 when it ended the device (-c reached).
int simServeRequest(SimServed *pServed, const SimWire *pWire, const uint8_t *pRequest,
                    int nLength, const PlatAddress *pFrom);

// The last report line of a device still serving when the run ends idle.
void simServeIdleEnd(SimServed *pServed, const SimWire *pWire);

#endif
