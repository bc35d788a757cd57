// SPDX-License-Identifier: Apache-2.0
// The transfer session: one transfer of the upload plan sent to the device
// as numbered 256-byte pages, up to four per request, stop-and-wait, ended
// by a commit with the page range and a CRC-16.  Code 9 first asks the
// device for its model and sends the idata block; code 2 clears one page
// of old idata before its commit.
#ifndef ZV_TRANSFER_H
#define ZV_TRANSFER_H

#include "net/upload_plan.h"
#include "platform/platform.h"

#define UPDATE_WAITS 15  // waits of up to 3000 ms before a request is resent

// How long a commit's acceptance is listened to before the transfer goes
// on: a refusal that arrives meanwhile still decides.
#define COMMIT_LISTEN_MS 500

// How a transfer ended.
enum TransferResult {
  TRANSFER_DONE,         // the device took the commit
  TRANSFER_SEND_FAILED,  // a send failed (reported)
  TRANSFER_ENDS_RUN      // a reply or a receive error ends the run: print
                         // the end's text and end with its status
};

#define TRANSFER_TEXT_SIZE 160

struct TransferEnd {
  int nStatus;
  char szText[TRANSFER_TEXT_SIZE];  // the message, line end included
};

// Runs the planned transfer: everything it sends and expects comes from
// the plan, nothing from the settings.  A plan of an unknown code ends the
// run ("Unknown file type", status -1) before anything is sent.
int transferFile(PlatSocket s, const PlatAddress *pDest, const TransferPlan *pPlan,
                 TransferEnd *pEnd);

#endif
