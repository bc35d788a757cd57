// SPDX-License-Identifier: Apache-2.0
// The report on an update file: header fields and their checks, the
// payload's CRC, the idata block, and with the key the image header, the
// image CRC and whether the file was built with -EA.
#ifndef ZV_INSPECT_UPDATE_REPORT_H
#define ZV_INSPECT_UPDATE_REPORT_H

#include <stdint.h>

#include "image/update_file.h"
#include "tools/zvinspect/options.h"

// What the report found, for the upload plan, the comparison and the
// extraction.
struct UpdateView {
  const char *pszPath;
  UpdateFileVerdict verdict;  // the tool's reader's
  UpdateFileHeader header;
  uint8_t bType;    // file type code (low nibble of the type byte)
  uint8_t bModel;   // high nibble
  int bKnownType;   // main, logo or HTML
  uint8_t *pbPayload;        // the payload as stored; with the key, as
                             // deciphered (pbPlain) after the report
  uint32_t ulPayload;
  const uint8_t *pbIdata;    // main files: the idata block; otherwise null
  int bLayout;      // the payload is an image header and whole pages
  int bExtentFits;  // the header's extent gives the payload's length
  int bCrcHolds;    // wCrc is the CRC of the payload
  uint32_t ulImageLength;  // L: from the image header when deciphered,
                           // else from the header's extent
  bool bDeciphered;        // the key makes the image CRC hold
  int bAllEnciphered;      // ... when the whole payload is deciphered
  const uint8_t *pbPlain;  // the payload deciphered (bDeciphered)
  uint32_t ulBeyond;       // deciphered: bytes behind the image that are
                           // not the builder's zero padding ...
  uint32_t ulBeyondSpan;   // ... and the bytes behind it up to the last
};

// Whether the bytes look like an update file whose magic number was
// damaged: their header's type and extent fit the file's length.  (The
// magic number alone makes a file an update file: the caller asks first.)
bool looksLikeUpdateFile(const uint8_t *pb, uint32_t ulSize);

// Reports on the update file of ulSize bytes at pbFile (which stays valid
// while *pView is used, and is deciphered in place when the key is
// given).  pbSourceImage, when not null, is the image of ulSourceLength
// bytes that the file should hold (from device address 0): a hint for
// which decipherment to try first, and what tells an HTML page that
// begins as a logo image does from a logo.  pbSourceIdata, when not null,
// is the idata block, sealed, that a main file should hold.  Returns 1, or
// 0 when the file is too short for more than its header checks.
int inspectUpdateFile(const InspectOptions *pOpt, uint8_t *pbFile, uint32_t ulSize,
                      const uint8_t *pbSourceImage, uint32_t ulSourceLength,
                      const uint8_t *pbSourceIdata, UpdateView *pView);

// The name of a file type code ("main firmware", "logo", "HTML").
const char *fileTypeName(uint8_t bType);

#endif
