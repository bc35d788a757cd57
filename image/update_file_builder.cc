// SPDX-License-Identifier: Apache-2.0
// Update file builder.  The payload is laid out in g_abImage in place: the
// image moved up behind an 8-byte image header, padded with zeros to whole
// pages, its CRC taken, then enciphered with DES-CBC (the first 1032 bytes
// only, unless -EA) and written behind the file header.  The file is
// written whole beside its name and moved over it only then: a failed
// write is reported and leaves an earlier file of that name as it was, and
// a name taken by something other than a file is refused untouched.
#include "image/update_file_builder.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "base/console.h"
#include "base/settings.h"
#include "crypto/des.h"
#include "image/crc16.h"
#include "image/hex_loader.h"
#include "image/image_store.h"
#include "image/output_file.h"
#include "image/update_file.h"
#include "platform/platform.h"

uint32_t encipheredLength(uint32_t ulPayload, int bFirstBlockOnly) {
  return bFirstBlockOnly ? std::min(ulPayload, (uint32_t)ENCRYPT_FIRST_BLOCK) : ulPayload;
}

// Loads the input named by -f into the store and returns its image length,
// the output name in *ppszOutput; 0 after the loader's or its own message.
// Either loader leaves the image at the start of the store (nMinHexAddress
// is 0): a main image from page 0, a logo or page from its first byte.
static uint32_t loadInput(const char **ppszOutput) {
  switch (g_bFileType) {
    case FILE_TYPE_MAIN:
      if (!mainModelAccepted(g_bModel)) {
        consolePrintf("Cannot make an encrypt file\n");
        return 0;
      }
      consolePrintf("Reading in the Main CPU HEX file to encrypt\n");
      if (!readHexFile(g_szFileName) || !prepareMainImage(g_szFileName)) return 0;
      *ppszOutput = "main.enc";
      return nMaxHexAddress;  // not 0: an image holds code
    case FILE_TYPE_LOGO:
    case FILE_TYPE_HTML: {
      int bLogo = g_bFileType == FILE_TYPE_LOGO;
      consolePrintf(bLogo ? "Reading in the Logo file to encrypt\n"
                          : "Reading in the html file to encrypt\n");
      *ppszOutput = bLogo ? "logo.enc" : "html.enc";
      return (uint32_t)std::max(readUpdateFile(g_szFileName), 0);  // a failure is -1
    }
    default:
      consolePrintf("No file has been specified to encrypt\n");
      return 0;
  }
}

// Writes header, payload and (main files) the idata block.
static void writeUpdateFile(OutputFile *pOut, uint32_t ulPayload) {
  const uint8_t *pPayload = g_abImage;
  UpdateFileHeader header;
  header.bMagic = UPDATE_FILE_MAGIC;
  header.bTypeModel = typeModelByte(g_bFileType, g_bModel);
  header.nMinHexAddress = nMinHexAddress;
  header.nMaxHexAddress = nMaxHexAddress;
  header.wCrc = calcCrc16(pPayload, ulPayload);
  uint8_t abHeader[UPDATE_FILE_HEADER_SIZE];
  encodeUpdateFileHeader(&header, abHeader);
  writeOutputFile(pOut, abHeader, sizeof(abHeader));
  writeOutputFile(pOut, pPayload, ulPayload);
  if (g_bFileType == FILE_TYPE_MAIN) writeOutputFile(pOut, g_abIdata, IDATA_SIZE);
}

void makeEncryptFile(void) {
  const char *pszOutput = "";
  uint32_t ulLength = loadInput(&pszOutput);
  if (ulLength == 0) return;
  if (ulLength > MAX_BUILD_LENGTH) {
    consolePrintf("Input file too large to encrypt:%s\n", g_szFileName);
    return;
  }

  memmove(g_abImage + IMAGE_HEADER_SIZE, g_abImage, ulLength);
  uint32_t ulPayload = putImageHeader(g_abImage, ulLength);
  desCbcEncrypt(g_abImage, encipheredLength(ulPayload, g_bFirstBlockOnly), g_szKey);

  // A directory or a device of the output's name cannot be opened as the
  // update file: it is left alone.
  OutputFile out;
  if (openOutputFile(&out, pszOutput) != OUTPUT_OK) {
    consolePrintf("Could not open: %s", pszOutput);
    return;
  }
  writeUpdateFile(&out, ulPayload);
  if (finishOutputFile(&out) != OUTPUT_OK)
    consolePrintf("Could not write: %s\n", pszOutput);
}
