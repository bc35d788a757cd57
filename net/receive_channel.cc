// The receive channel.  Replies from any sender are taken.
#include "net/receive_channel.h"

#include <string.h>

PlatEvent g_hRecvEvent;

int bindReceiveEvent(PlatSocket s) {
  g_hRecvEvent = platCreateEvent();
  return platEventSelectRead(s, g_hRecvEvent);
}

int receiveCommand(PlatSocket s, uint8_t *pbBuffer, int nSize) {
  int nWait = platWaitEvent(g_hRecvEvent, RECV_TIMEOUT_MS);
  if (nWait < 0) return -1;
  if (nWait == 0) return 0;
  memset(pbBuffer, 0, (size_t)nSize);
  PlatAddress from;
  int n = platRecvFrom(s, pbBuffer, nSize, &from);
  return n < 0 ? -1 : n;
}
