// SPDX-License-Identifier: Apache-2.0
// The transfer session: one update sent to the device as numbered 256-byte
// pages, up to four per request, stop-and-wait, ended by a commit with the
// page range and a CRC-16.  Code 9 first asks the device for its model and
// sends the idata block; code 2 clears one page of old idata before its
// commit.
#ifndef ZV_TRANSFER_H
#define ZV_TRANSFER_H

#include "image/upload_layout.h"
#include "platform/platform.h"

#define UPDATE_WAITS 15  // waits of up to 3000 ms before a request is resent


// Runs the transfer with code nCode (2, 4, 6 or 9).  Returns 1 when the
// device took the commit, 0 when a send failed; every other failure ends
// the process with its message and status.
int transferFile(PlatSocket s, const PlatAddress *pDest, int nCode);

#endif
