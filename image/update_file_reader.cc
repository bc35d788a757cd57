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
#include "image/update_file.h"

// Reads up to nWidth bytes over the little-endian value *pulValue: the
// bytes that are present replace the low bytes, the missing ones keep
// their previous value.  Returns 0 when no byte at all could be read.
static int readField(FILE *pFile, int nWidth, uint32_t *pulValue) {
  uint8_t ab[4];
  putLe32(ab, *pulValue);
  size_t nRead = fread(ab, 1, (size_t)nWidth, pFile);
  if (nRead == 0) return 0;
  *pulValue = getLe32(ab);
  return 1;
}

static int32_t fail(FILE *pFile, const char *pszFormat, const char *pszPath) {
  // Every reader message takes the path as its one argument.
  consolePrintf(pszFormat, pszPath);
  if (pFile != NULL) fclose(pFile);
  return 0;
}

static int32_t readHeader(FILE *pFile, const char *pszPath,
                          uint16_t *pwStoredCrc) {
  uint32_t ulValue = 0;
  if (!readField(pFile, 1, &ulValue))
    return fail(pFile, "Could not read Magic Number from: %s", pszPath);
  if (ulValue != UPDATE_FILE_MAGIC)
    return fail(pFile,
                "Wrong Magic Number, This is not an QRVX microcode update "
                "file: %s",
                pszPath);

  ulValue = g_bFileType;
  if (!readField(pFile, 1, &ulValue))
    return fail(pFile, "Could not read File Type from: %s", pszPath);
  g_bModel = (uint8_t)(ulValue >> 4);
  g_bFileType = (uint8_t)(ulValue & 0x0F);
  if (g_bFileType < 1 || g_bFileType > 9)
    return fail(pFile,
                "Bad File Type, This is not an QRVX microcode update file: %s",
                pszPath);
  if (g_bFileType == FILE_TYPE_MAIN && (g_bModel < 1 || g_bModel > 3)) {
    consolePrintf("Wrong quorvaUnit model: %d\n", g_bModel);
    fclose(pFile);
    return 0;
  }

  if (!readField(pFile, 4, &nMinHexAddress))
    return fail(pFile, "Could not read nMinHexAddress from: %s", pszPath);
  if (!readField(pFile, 4, &nMaxHexAddress))
    return fail(pFile, "Could not read nMaxHexAddress from: %s", pszPath);
  ulValue = 0;
  if (!readField(pFile, 2, &ulValue))
    return fail(pFile, "Could not read crc from: %s", pszPath);
  *pwStoredCrc = (uint16_t)ulValue;
  return 1;
}

int32_t readUpdateFile(const char *pszPath) {
  nMinHexAddress = 0;
  memset(g_abImage, 0, sizeof(g_abImage));

  FILE *pFile = fopen(pszPath, "rb");
  if (pFile == NULL) return fail(NULL, "Could not open: %s", pszPath);

  uint16_t wStoredCrc = 0;
  if (g_bEncrypted && !readHeader(pFile, pszPath, &wStoredCrc)) return 0;

  // The rest of the file must fit the store; for a raw logo the 2-byte
  // length goes in front as well.
  uint32_t ulRoom = IMAGE_SIZE;
  if (!g_bEncrypted && g_bFileType != FILE_TYPE_HTML) ulRoom -= 2;
  uint32_t n = (uint32_t)fread(g_abImage, 1, ulRoom, pFile);
  uint8_t bExtra;
  if (n == ulRoom && fread(&bExtra, 1, 1, pFile) == 1)
    return fail(pFile, "File too large to load: %s\n", pszPath);

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
