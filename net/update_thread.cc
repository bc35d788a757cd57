// SPDX-License-Identifier: Apache-2.0
// The update thread.  A main-CPU update runs two transfers on one socket:
// the model query with the idata block, then the image; every other file
// type runs one.  Every ending from here has status 1, success included;
// a reply that ends the run ends it with the status the transfer gives.
#include "net/update_thread.h"

#include "base/console.h"
#include "base/settings.h"
#include "base/tool_texts.h"
#include "net/transfer.h"
#include "net/upload_plan.h"
#include "net/upload_start.h"
#include "platform/platform.h"

int UpdateThread(void) {
  PlatSocket s;
  PlatAddress dest;
  UploadStartResult start = startUpload(&s, &dest);
  // Without its socket the update thread ends alone: the listener goes on.
  if (start == UPLOAD_NO_SOCKET) return PLAT_THREAD_ENDS_ALONE;
  if (start != UPLOAD_STARTED) return 1;
  consolePrintf(TEXT_SENDING_NEW "\n");
  UploadSource source;
  uploadSourceFromStore(&source);
  UploadPlan plan;
  planUpload(&source, &plan);
  for (int i = 0; i < plan.nTransfers; i++) {
    TransferEnd end;
    int nResult = transferFile(s, &dest, &plan.aTransfers[i], &end);
    if (nResult == TRANSFER_SEND_FAILED) return 1;
    if (nResult == TRANSFER_ENDS_RUN) {
      consolePrintf("%s", end.szText);
      return end.nStatus;
    }
  }
  consolePrintf(TEXT_POWER_ADVICE "\n");
  return 1;
}
