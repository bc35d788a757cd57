// SPDX-License-Identifier: Apache-2.0
// The start of an upload, shared by the tool's update thread and zvfleet's
// model-query child: the socket towards the device opened and bound, its
// receive event bound, the update file loaded and the device's address
// taken from the settings.  Each failure is reported here, with the tool's
// own texts, so that both say the same.
#ifndef ZV_UPLOAD_START_H
#define ZV_UPLOAD_START_H

#include "platform/platform.h"

// Loads g_szFileName as the settings say.  Returns true when the store
// holds an image that can be sent.
bool loadUpdate(void);

// What startUpload made of it.
enum UploadStartResult {
  UPLOAD_STARTED,    // *pSocket is open and bound, *pDest set, the file loaded
  UPLOAD_NO_SOCKET,  // the socket could not be made or bound (reported)
  UPLOAD_NOT_READY   // its receive event or the update file failed (reported)
};

// Opens the upload's socket and loads g_szFileName as the settings say.
// On any result but UPLOAD_STARTED the socket is closed again.
UploadStartResult startUpload(PlatSocket *pSocket, PlatAddress *pDest);

#endif
