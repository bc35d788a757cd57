// SPDX-License-Identifier: Apache-2.0
// The debug message listener.  Datagrams from any sender are shown; the
// listener never answers.  After a failed receive the report is printed
// and, when the datagram was only too long, its first 256 bytes as well.
#include "monitor/debug_listener.h"

#include "base/console.h"
#include "base/settings.h"
#include "base/tool_texts.h"
#include "platform/platform.h"

int formatDebugLine(char *pszLine, int nSize, const PlatTime *pTime,
                    const char *pszSender, const char *pszText) {
  if (pszSender != NULL)
    return formatText(pszLine, nSize, TEXT_DEBUG_LINE_START "%02d %02d:%02d:%02d %s: %s\n",
                      pTime->nDay, pTime->nHour, pTime->nMinute, pTime->nSecond,
                      pszSender, pszText);
  return formatText(pszLine, nSize, TEXT_DEBUG_LINE_START "%02d %02d:%02d:%02d %s\n",
                    pTime->nDay, pTime->nHour, pTime->nMinute, pTime->nSecond, pszText);
}

void printDebugDatagram(char *pszBuffer, int nReceived,
                        const PlatAddress *pFrom) {
  if (nReceived == PLAT_RECV_TRUNCATED) nReceived = DEBUG_DATAGRAM_SIZE;
  if (nReceived < 0 || nReceived > DEBUG_DATAGRAM_SIZE) return;
  pszBuffer[nReceived] = '\0';
  PlatTime now;
  platLocalTime(&now);
  char szSender[32];
  int bSender = platAddressText(pFrom->ulAddr, szSender, sizeof(szSender));
  char szLine[DEBUG_DATAGRAM_SIZE + 64];
  int nLine = formatDebugLine(szLine, sizeof(szLine), &now,
                              bSender ? szSender : NULL, pszBuffer);
  consoleWrite(szLine, nLine);
}

// Written by openDebugSocket on the first thread before DbgMsgThread
// starts; read by DbgMsgThread alone.
static PlatSocket s_sDebug = PLAT_NO_SOCKET;

void openDebugSocket(void) {
  s_sDebug = PLAT_NO_SOCKET;
  PlatSocket s = platUdpSocket();
  if (s == PLAT_NO_SOCKET) {
    printError("socket creation failed");
    return;
  }
  if (!platBind(s, 0, g_usDebugPort)) {
    printError(TEXT_BIND);
    platCloseSocket(s);
    consolePrintf(TEXT_DEBUG_PORT_FORMAT "\n", g_usDebugPort);
    return;
  }
  s_sDebug = s;
}

int DbgMsgThread(void) {
  PlatSocket s = s_sDebug;
  if (s == PLAT_NO_SOCKET) return PLAT_THREAD_ENDS_ALONE;
  // Nothing closes the socket while the process runs; the loop ends only
  // when it is gone.
  char szBuffer[DEBUG_DATAGRAM_SIZE + 1];
  for (;;) {
    PlatAddress from;
    int n = platRecvFrom(s, szBuffer, DEBUG_DATAGRAM_SIZE, &from);
    if (n == PLAT_RECV_CLOSED) return PLAT_THREAD_ENDS_ALONE;
    if (n < 0) printError("recvfrom:");
    printDebugDatagram(szBuffer, n, &from);
  }
}
