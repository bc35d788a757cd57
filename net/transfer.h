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

// What a model query alone found (queryModel).
enum ModelVerdict {
  MODEL_FITS,               // the device is of the plan's model and took the password
  MODEL_UNKNOWN_TO_DEVICE,  // it took the password but knows no model of its own
  MODEL_OTHER,              // it is of another model (nModel)
  MODEL_PASSWORD_REFUSED,   // it refused the password
  MODEL_NO_ANSWER,          // no reply within the bound
  MODEL_SEND_FAILED,        // the query could not be sent (reported)
  MODEL_ENDED               // another end: the text and status in end
};

struct ModelAnswer {
  int nVerdict;  // MODEL_*
  int nModel;    // the model the device named, or -1
  TransferEnd end;
};

// Runs only the model query of the plan (its password and model) by the
// transfer's own rules and texts, and nothing after it.  Its silent waits
// end after ulBoundMs (0: never, as in a transfer).  Returns the verdict,
// also in pAnswer.
int queryModel(PlatSocket s, const PlatAddress *pDest, const TransferPlan *pPlan,
               unsigned long ulBoundMs, ModelAnswer *pAnswer);

#endif
