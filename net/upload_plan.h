// SPDX-License-Identifier: Apache-2.0
// The upload plan: what each transfer of an upload sends, worked out
// without sockets before the first request goes out.  The transfer runs
// it; zvinspect reports it and zvfleet checks a site list and counts
// progress by it, so that every program tells the same pages, requests
// and bytes.
#ifndef ZV_UPLOAD_PLAN_H
#define ZV_UPLOAD_PLAN_H

#include <stdint.h>

#include "image/file_type.h"
#include "net/packet.h"

// Fixed page ranges (first page, end page = one past the last); a main
// image fills pages from 0 on.
#define LOGO_FIRST_PAGE 1385
#define LOGO_END_PAGE 1401
#define HTML_FIRST_PAGE 0
#define HTML_END_PAGE 845
#define IDATA_FIRST_PAGE 1690
#define IDATA_END_PAGE 1802
#define IDATA_CLEAR_PAGE 1829  // one page of old idata, cleared before a main commit

// What an upload is made from: the image and its extent, the idata block,
// and the settings that shape the requests.  uploadSourceFromStore takes
// them from the image store and the process-wide settings, as a run does;
// a program that only describes an upload may fill them from its own
// copy of a file.
struct UploadSource {
  const uint8_t *pbImage;  // the image store's g_abImage, or a copy
  uint32_t ulImageSize;    // bytes that stand at pbImage
  uint32_t ulMax;          // nMaxHexAddress: where the image ends (it starts at
                           // pbImage: the loaders leave it at the store's start)
  const uint8_t *pbIdata;  // IDATA_SIZE bytes
  bool bEncrypted;         // an update file (its payload leads with the image header)
  bool bFirstBlockOnly;    // only its first 1032 bytes are enciphered
  uint8_t bType;           // file type code of the upload
  uint8_t bModel;          // the model the device must report
  const char *pszPassword;
};

void uploadSourceFromStore(UploadSource *pSource);

// One transfer: the requests of one call of transferFile.
struct TransferPlan {
  int nCode;  // transfer code: FILE_TYPE_MAIN, _LOGO, _HTML, _MODEL_QUERY
  bool bKnown;  // a transfer has this code (else nothing else is set)
  int bModelQuery;      // asks for the model first
  uint8_t bModel;       // ... which must be this one
  char szPassword[PASSWORD_FIELD_SIZE + 1];  // what travels of it
  const uint8_t *pbSource;  // the data of the pages
  uint32_t ulSourceSize;    // bytes that stand at pbSource
  uint16_t wFirstPage, wEndPage;
  uint32_t ulHeaderBytes;  // the image header leads the first data packet (8), or 0
  uint8_t bFirstFlags;     // flags of the first data packet
  uint8_t bLaterFlags;     // flags of every later data packet
  int bClearsOldIdata;     // the clearing before the commit
  uint8_t bClearFlags;     // its flags: those of the last data packet
  uint8_t bCommitCode;
  uint8_t bCommitFlags;
  int bAnnounces;  // prints TEXT_TRANSFERED once the commit is taken
  // What goes on the wire when nothing is lost.
  uint32_t ulPages, ulDataRequests, ulRequests, ulWireBytes;
  // Bytes of a logo or HTML image that stand beyond its fixed pages and
  // are never sent; 0 for the others.
  uint32_t ulBeyond;
};

// Plans the transfer with code nCode.  Returns false for a code that no
// transfer has.
bool planTransfer(const UploadSource *pSource, int nCode, TransferPlan *pPlan);

// The CRC that the transfer's commit carries: the one of its pages' length
// from the source's start, the image header included (8 bytes short of the
// last byte sent).  Taken when the commit is sent, not by the plan, which
// a report makes for every file it reads.
uint16_t transferCommitCrc(const TransferPlan *pPlan);

// Every transfer of an upload, in their order: the model query with the
// idata block before a main image, one transfer for any other type.
#define MAX_TRANSFERS 2
struct UploadPlan {
  int nTransfers;
  TransferPlan aTransfers[MAX_TRANSFERS];
  bool bKnown;  // every transfer has a plan (else the tool stops at the unknown code)
  uint32_t ulPages, ulRequests, ulWireBytes;  // of all transfers
};

void planUpload(const UploadSource *pSource, UploadPlan *pPlan);

// 1 when an update file's main image is shorter than the image header that
// leads it: it has no page range to send, and the update stops before the
// first request ("Update file too short for its image header").
int imageHeaderMissing(const UploadSource *pSource);

#endif
