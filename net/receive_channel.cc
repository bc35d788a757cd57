// SPDX-License-Identifier: Apache-2.0
// The receive channel.  Replies from any sender are taken.
#include "net/receive_channel.h"

#include <string.h>

PlatEvent g_hRecvEvent;

void resetReceiveChannel(void) { g_hRecvEvent = NULL; }

int bindReceiveEvent(PlatSocket s) {
  g_hRecvEvent = platCreateEvent();
  return platEventSelectRead(s, g_hRecvEvent);
}

int receiveCommand(PlatSocket s, uint8_t *pbBuffer, int nSize) {
  return receiveWithin(s, pbBuffer, nSize, RECV_TIMEOUT_MS);
}

int receiveWithin(PlatSocket s, uint8_t *pbBuffer, int nSize, unsigned long ulTimeoutMs) {
  unsigned long ulStart = platMilliseconds();
  unsigned long ulWait = ulTimeoutMs;
  for (;;) {
    int nWait = platWaitEvent(g_hRecvEvent, ulWait);
    if (nWait < 0) return -1;
    if (nWait == 0) return 0;
    memset(pbBuffer, 0, (size_t)nSize);
    int n = platRecvFrom(s, pbBuffer, nSize, NULL);
    if (n != PLAT_RECV_NOTHING) return n < 0 ? -1 : n;
    // Woken with nothing to read: wait on for the rest of the time.
    unsigned long ulSpent = platMilliseconds() - ulStart;
    if (ulSpent >= ulTimeoutMs) return 0;
    ulWait = ulTimeoutMs - ulSpent;
  }
}

void dropStaleReplies(PlatSocket s, uint8_t *pbBuffer, int nSize) {
  // The socket is read until it is empty, whether or not its event has
  // been signalled yet (Windows may signal it late); each zero wait takes
  // the signal that a datagram read here left, so that the next wait does
  // not wake to an empty socket.
  for (;;) {
    platWaitEvent(g_hRecvEvent, 0);
    int n = platRecvFrom(s, pbBuffer, nSize, NULL);
    if (n == PLAT_RECV_NOTHING || n == PLAT_RECV_CLOSED || n == -1) return;
  }
}
