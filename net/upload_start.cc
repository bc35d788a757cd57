// SPDX-License-Identifier: Apache-2.0
// The start of an upload (see the header): one order of steps and one set
// of failure texts for the tool and for zvfleet's model query.
#include "net/upload_start.h"

#include "base/console.h"
#include "base/settings.h"
#include "image/hex_loader.h"
#include "image/image_store.h"
#include "image/update_file.h"
#include "net/receive_channel.h"
#include "net/upload_plan.h"

bool loadUpdate(void) {
  if (!g_bEncrypted && g_bFileType == FILE_TYPE_MAIN)
    return readHexFile(g_szFileName) && prepareMainImage(g_szFileName);
  if (readUpdateFile(g_szFileName) == 0) return false;
  UploadSource source;
  uploadSourceFromStore(&source);
  if (imageHeaderMissing(&source)) {
    consolePrintf("Update file too short for its image header: %s\n", g_szFileName);
    return false;
  }
  return true;
}

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
