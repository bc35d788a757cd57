// SPDX-License-Identifier: Apache-2.0
// The simulated device behind zvdevsim: its page memory, model and set
// password, the state of the transfer in progress, and the handling of one
// update request into one reply.  No sockets here, so it can be tested alone.
#ifndef ZV_DEVSIM_DEVICE_H
#define ZV_DEVSIM_DEVICE_H

#include <stdint.h>

#include <vector>

#include "image/image_store.h"
#include "net/upload_plan.h"

// The device's memory: 65536 pages (the range of a page number), held in
// chunks of 64 pages made on their first write, so that a process of 1,024
// devices holds only what was sent to them.
#define SIM_PAGES 65536
#define SIM_CHUNK_PAGES 64

struct SimDevice {
  uint8_t bModel;
  uint8_t abPassword[PASSWORD_FIELD_SIZE];  // first 16 characters, zero padded
  std::vector<std::vector<uint8_t> > memory;  // chunks of 256-byte pages, empty: all zero
  // The transfer: begun by a data packet after a commit or a model query, or
  // by any data packet carrying the image header.  A commit ends it but keeps
  // its header, so that a resent commit gets the same verdict.
  bool bInTransfer = false;  // (set here too: a slot may be moved before simInitDevice)
  int bHasHeader;
  uint8_t abHeader[IMAGE_HEADER_SIZE];
  // With a key the device checks what an encrypted transfer brings: each
  // page packet's FLAG_ENCRYPTED against the span that the update file
  // holds enciphered (the first packet, or every one when the file was
  // built with -EA), and the image CRC after deciphering that span.
  int bHasKey;
  uint8_t abKey[8];
  int bAllEncrypted;
  uint16_t usBadFlagsPage;  // first page packet whose flags were wrong
  bool bBadFlags = false;
  bool bBadPlainFlags = false;  // a flag wrong for a file built without -EA
  // -1, or the page that the ACKs to the old idata clearing and to accepted
  // commits name instead of the request's (a device whose answers name
  // another page).
  long nAckPage;
  // A logo image (its own length in front, and not text) in the HTML pages
  // is refused too (a guess that no device is known to make; -html-not-logo).
  int bHtmlNotLogo;
};

// What the device made of one request.
enum SimKind {
  SIM_KIND_IGNORED = 0,  // no answer
  SIM_KIND_MODEL,
  SIM_KIND_DATA,
  SIM_KIND_COMMIT
};

struct SimOutcome {
  int nKind;
  bool bReply;  // abReply holds the answer
  uint8_t abReply[REPLY_SIZE];
  int bCommitOk;            // commit: the CRC matched
  uint16_t usFirst, usEnd;  // commit: its page range
  char szLine[96];          // report line, without a line end
};

// pszKey null: no decipher checks.
void simInitDevice(SimDevice *pDev, uint8_t bModel, const char *pszPassword,
                   const char *pszKey, int bAllEncrypted);

// Handles one received datagram of nLength bytes (any length, any content).
void simHandleRequest(SimDevice *pDev, const uint8_t *pRequest, int nLength,
                      SimOutcome *pOut);

// The source stream of the last transfer as the device reassembled it: the
// image header when its first packet carried one, then pages first to
// end - 1 (none when end <= first).
void simTransferStream(const SimDevice *pDev, uint16_t usFirst, uint16_t usEnd,
                       std::vector<uint8_t> *pStream);

// A reply: command, byte 1, page little-endian at bytes 3 and 4, rest zero.
void simMakeReply(uint8_t bCommand, uint8_t bCode, uint16_t usPage,
                  uint8_t *pReply);

#endif
