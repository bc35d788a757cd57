// SPDX-License-Identifier: Apache-2.0
// The debug port (see debug_port.h).  In a log each datagram stands on a
// line of its own: a line end at its end closes the line, and line ends
// inside it are written \r and \n, so that no debug text can pass for a
// line of the tool.
#include "tools/zvfleet/debug_port.h"

#include <string.h>

#include "app/console.h"
#include "app/settings.h"
#include "monitor/debug_listener.h"
#include "platform/platform.h"
#include "tools/zvfleet/device_log.h"
#include "tools/zvfleet/fleet.h"

#define DATAGRAMS_PER_WAKE 64  // then the children get their turn

static PlatSocket s_s = PLAT_NO_SOCKET;
static PlatEvent s_hEvent;
static int s_bListening;

int openDebugPort(void) {
  s_s = platUdpSocket();
  if (s_s != PLAT_NO_SOCKET && platBind(s_s, 0, g_usDebugPort)) {
    s_bListening = 1;
  } else {
    printError("bind:");
    consolePrintf("zvfleet: cannot bind the debug port %d, which another program holds: "
                  "the devices' debug messages are not filed\n",
                  g_usDebugPort);
    // A socket that nobody sends to stands in, for the pause.
    if (s_s != PLAT_NO_SOCKET) platCloseSocket(s_s);
    s_s = platUdpSocket();
    if (s_s == PLAT_NO_SOCKET || !platBind(s_s, platInetAddr("127.0.0.1"), 0)) return 0;
  }
  s_hEvent = platCreateEvent();
  return platEventSelectRead(s_s, s_hEvent);
}

int debugPortHeld(void) { return s_bListening; }

// The datagram's text (up to its first zero byte) with its line ends made
// visible, but for one at its very end.
static void lineText(const char *pszText, char *pszOut, int nSize) {
  int nEnd = (int)strlen(pszText);
  if (nEnd > 0 && pszText[nEnd - 1] == '\n') nEnd--;
  if (nEnd > 0 && pszText[nEnd - 1] == '\r') nEnd--;
  int n = 0;
  for (int i = 0; i < nEnd && n < nSize - 3; i++) {
    char c = pszText[i];
    if (c == '\n' || c == '\r') {
      pszOut[n++] = '\\';
      c = c == '\n' ? 'n' : 'r';
    }
    pszOut[n++] = c;
  }
  pszOut[n] = '\0';
}

static void fileDatagram(const char *pszText, const PlatAddress *pFrom) {
  char szText[2 * DEBUG_DATAGRAM_SIZE + 1];
  lineText(pszText, szText, sizeof(szText));
  char szSender[32];
  int bSender = platAddressText(pFrom->ulAddr, szSender, sizeof(szSender));
  PlatTime now;
  platLocalTime(&now);
  char szLine[sizeof(szText) + 64];
  int nLine = formatDebugLine(szLine, sizeof(szLine), &now, bSender ? szSender : NULL, szText);
  for (int i = 0; i < g_nDevices; i++)
    if (g_aDevices[i].ulAddr == pFrom->ulAddr) {
      logAppend(&g_aDevices[i], szLine, nLine);
      return;
    }
  siteLogAppend(szLine, nLine);
}

void waitDebugPort(unsigned long ulMilliseconds) {
  if (platWaitEvent(s_hEvent, ulMilliseconds) != 1) return;
  char szBuffer[DEBUG_DATAGRAM_SIZE + 1];
  for (int i = 0; i < DATAGRAMS_PER_WAKE; i++) {
    PlatAddress from;
    int n = platRecvFrom(s_s, szBuffer, DEBUG_DATAGRAM_SIZE, &from);
    if (n == PLAT_RECV_TRUNCATED) n = DEBUG_DATAGRAM_SIZE;  // its first bytes, as the tool shows
    if (n < 0) return;
    szBuffer[n] = '\0';
    if (s_bListening) fileDatagram(szBuffer, &from);
  }
}
