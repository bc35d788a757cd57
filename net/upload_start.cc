// SPDX-License-Identifier: Apache-2.0
// The start of an upload (see the header): one order of steps and one set
// of failure texts for the tool and for zvfleet's model query.
#include "net/upload_start.h"

#include "base/console.h"
#include "base/settings.h"
#include "net/receive_channel.h"
#include "net/update_thread.h"

UploadStartResult startUpload(PlatSocket *pSocket, PlatAddress *pDest) {
  PlatSocket s = platUdpSocket();
  if (s == PLAT_NO_SOCKET) {
    printError("socket failed");
    return UPLOAD_NO_SOCKET;
  }
  if (!platBind(s, 0, 0)) {
    printError("bind:");
    platCloseSocket(s);
    return UPLOAD_NO_SOCKET;
  }
  if (!bindReceiveEvent(s)) {
    printError("WSAEventSelect failed in UpdateThread()");
    platCloseSocket(s);
    return UPLOAD_NOT_READY;
  }
  if (!loadUpdate()) {
    platCloseSocket(s);
    return UPLOAD_NOT_READY;
  }
  pDest->ulAddr = platInetAddr(g_szIpAddress);
  pDest->usPort = g_usUpdatePort;
  *pSocket = s;
  return UPLOAD_STARTED;
}
