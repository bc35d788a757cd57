// SPDX-License-Identifier: Apache-2.0
// The update thread.  A main-CPU update runs two transfers on one socket:
// the model query with the idata block, then the image; every other file
// type runs one.  Every ending from here has status 1, success included.
#include "net/update_thread.h"

#include "app/console.h"
#include "app/settings.h"
#include "image/hex_loader.h"
#include "image/image_store.h"
#include "image/update_file.h"
#include "net/receive_channel.h"
#include "net/transfer.h"
#include "platform/platform.h"

// Loads g_szFileName as the settings say.  Returns 1 when the store holds
// an image that can be sent.
static bool loadUpdate(void) {
  if (!g_bEncrypted && g_bFileType == FILE_TYPE_MAIN)
    return readHexFile(g_szFileName) && prepareMainImage(g_szFileName);
  if (readUpdateFile(g_szFileName) == 0) return false;
  if (g_bEncrypted && g_bFileType == FILE_TYPE_MAIN &&
      nMaxHexAddress - nMinHexAddress < IMAGE_HEADER_SIZE) {
    // Fewer bytes than the image header: no page range to send.
    consolePrintf("Update file too short for its image header: %s\n",
                  g_szFileName);
    return false;
  }
  return true;
}

void UpdateThread(void) {
  PlatSocket s = platUdpSocket();
  if (s == PLAT_NO_SOCKET) {
    printError("socket failed");
    return;
  }
  if (!platBind(s, 0, 0)) {
    printError("bind:");
    platCloseSocket(s);
    return;
  }
  PlatAddress dest;
  dest.ulAddr = platInetAddr(g_szIpAddress);
  dest.usPort = g_usUpdatePort;
  if (!bindReceiveEvent(s)) {
    printError("WSAEventSelect failed in UpdateThread()");
    platExit(1);
  }

  if (!loadUpdate()) platExit(1);
  consolePrintf("Sending the new microcode to the remote system\n");
  if (g_bFileType == FILE_TYPE_MAIN &&
      !transferFile(s, &dest, FILE_TYPE_MODEL_QUERY))
    platExit(1);
  if (!transferFile(s, &dest, g_bFileType)) platExit(1);
  consolePrintf(
      "Do not remove the power until you get a reply from pinging the "
      "device.\n");
  platExit(1);
}
