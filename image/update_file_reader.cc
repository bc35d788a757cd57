// SPDX-License-Identifier: Apache-2.0
// Update file reader: loads an update file, or a raw logo or HTML file,
// into the image store.  Inputs that would not fit the store, a main file
// too short for its idata block, and an update file whose image does not
// start at address 0 are refused before any buffer could overrun.
#include <stdio.h>
#include <string.h>

#include "app/console.h"
#include "app/settings.h"
#include "image/crc16.h"
#include "image/image_store.h"
#include "image/input_file.h"
#include "image/update_file.h"

// Reads up to nWidth bytes over the little-endian value *pulValue: the
// bytes that are present replace the low bytes, the missing ones keep
// their previous value.  Returns 1, 0 when no byte at all was left, or -1
// when the read failed (reported).
static int readField(FILE *pFile, int nWidth, uint32_t *pulValue,
                     const char *pszPath) {
  uint8_t ab[4];
  putLe32(ab, *pulValue);
  long nRead = readInputFile(pFile, ab, (size_t)nWidth, pszPath);
  if (nRead <= 0) return nRead < 0 ? -1 : 0;
  *pulValue = getLe32(ab);
  return 1;
}

// Ends a read with result 0, after the message (null: none, the failed read
// was reported already); every message takes the path as its one argument.
static int32_t fail(FILE *pFile, const char *pszFormat, const char *pszPath) {
  if (pszFormat != NULL) consolePrintf(pszFormat, pszPath);
  if (pFile != NULL) fclose(pFile);
  return 0;
}

// The field's message when nothing was left of it; none after a failed
// read, which readField reported.
static int32_t failField(FILE *pFile, int nRead, const char *pszFormat,
                         const char *pszPath) {
  return fail(pFile, nRead < 0 ? NULL : pszFormat, pszPath);
}

static bool readHeader(FILE *pFile, const char *pszPath,
                       uint16_t *pwStoredCrc) {
  uint32_t ulValue = 0;
  int nRead = readField(pFile, 1, &ulValue, pszPath);
  if (nRead <= 0)
    return failField(pFile, nRead, "Could not read Magic Number from: %s",
                     pszPath);
  if (ulValue != UPDATE_FILE_MAGIC)
    return fail(pFile,
                "Wrong Magic Number, This is not an QRVX microcode update "
                "file: %s",
                pszPath);

  ulValue = g_bFileType;
  nRead = readField(pFile, 1, &ulValue, pszPath);
  if (nRead <= 0)
    return failField(pFile, nRead, "Could not read File Type from: %s",
                     pszPath);
  g_bModel = (uint8_t)(ulValue >> 4);
  g_bFileType = (uint8_t)(ulValue & 0x0F);
  if (g_bFileType < 1 || g_bFileType > 9)
    return fail(pFile,
                "Bad File Type, This is not an QRVX microcode update file: %s",
                pszPath);
  if (g_bFileType == FILE_TYPE_MAIN && !mainModelAccepted(g_bModel))
    return fail(pFile, NULL, pszPath);

  nRead = readField(pFile, 4, &nMinHexAddress, pszPath);
  if (nRead <= 0)
    return failField(pFile, nRead, "Could not read nMinHexAddress from: %s",
                     pszPath);
  nRead = readField(pFile, 4, &nMaxHexAddress, pszPath);
  if (nRead <= 0)
    return failField(pFile, nRead, "Could not read nMaxHexAddress from: %s",
                     pszPath);
  ulValue = 0;
  nRead = readField(pFile, 2, &ulValue, pszPath);
  if (nRead <= 0)
    return failField(pFile, nRead, "Could not read crc from: %s", pszPath);
  *pwStoredCrc = (uint16_t)ulValue;
  return true;
}

int32_t readUpdateFile(const char *pszPath) {
  nMinHexAddress = 0;
  memset(g_abImage, 0, sizeof(g_abImage));

  FILE *pFile = openInputFile(pszPath);
  if (pFile == NULL) return fail(NULL, "Could not open: %s", pszPath);

  uint16_t wStoredCrc = 0;
  if (g_bEncrypted && !readHeader(pFile, pszPath, &wStoredCrc)) return 0;

  // The rest of the file must fit the store; for a raw logo the 2-byte
  // length goes in front as well.
  uint32_t ulRoom = IMAGE_SIZE;
  if (!g_bEncrypted && g_bFileType != FILE_TYPE_HTML) ulRoom -= 2;
  long nRead = readInputFile(pFile, g_abImage, ulRoom, pszPath);
  if (nRead < 0) return fail(pFile, NULL, pszPath);
  uint32_t n = (uint32_t)nRead;
  uint8_t bExtra;
  if (n == ulRoom) {
    nRead = readInputFile(pFile, &bExtra, sizeof(bExtra), pszPath);
    if (nRead != 0)
      return fail(pFile, nRead < 0 ? NULL : "File too large to load: %s\n",
                  pszPath);
  }

  if (g_bFileType == FILE_TYPE_MAIN) {
    if (n < IDATA_SIZE)
      return fail(pFile, "File too short to hold the idata block: %s\n",
                  pszPath);
    n -= IDATA_SIZE;
    memcpy(g_abIdata, g_abImage + n, IDATA_SIZE);
    memset(g_abImage + n, 0, IDATA_SIZE);
  }

  if (!g_bEncrypted && g_bFileType != FILE_TYPE_HTML) {
    memmove(g_abImage + 2, g_abImage, n);
    putLe16(g_abImage, n);
    n += 2;
  }
  fclose(pFile);

  if (g_bEncrypted) {
    if (calcCrc16(g_abImage, n) != wStoredCrc)
      return fail(NULL, "Bad crc from: %s, this file appears corrupted",
                  pszPath);
    // The payload stands at offset 0; builders only ever write images that
    // start at device address 0.
    if (nMinHexAddress != 0)
      return fail(NULL,
                  "Update file image does not start at address 0: %s\n",
                  pszPath);
  }

  nMaxHexAddress = n;
  return (int32_t)n;
}
