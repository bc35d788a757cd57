// SPDX-License-Identifier: Apache-2.0
// Update file reader: reads an update file, or a raw logo or HTML file, as
// far as the reader ever looks, judges it (update_file_verdict.cc) and,
// when the verdict accepts it, loads it into the image store.  Inputs that
// would not fit the store, a main file too short for its idata block, and
// an update file whose image does not start at address 0 are refused
// before any buffer could overrun.
#include <stdio.h>
#include <string.h>

#include "base/console.h"
#include "base/settings.h"
#include "image/image_store.h"
#include "image/input_file.h"
#include "image/update_file.h"

// The file as read, until the next read; used on one thread at a time.
static uint8_t s_abFile[UPDATE_FILE_READ_LIMIT];

int judgeUpdateFileAt(const char *pszPath, int bEncrypted, uint8_t bRawType,
                      UpdateFileVerdict *pVerdict) {
  FILE *pFile = openInputFile(pszPath);
  if (pFile == NULL) return 0;
  long nRead = readInputFile(pFile, s_abFile, sizeof(s_abFile), pszPath);
  fclose(pFile);
  if (nRead < 0) return -1;
  judgeUpdateFile(s_abFile, (uint32_t)nRead, bEncrypted, bRawType, pVerdict);
  return 1;
}

int32_t readUpdateFile(const char *pszPath) {
  UpdateFileVerdict verdict;
  int nRead = judgeUpdateFileAt(pszPath, g_bEncrypted, g_bFileType, &verdict);
  if (nRead == 0) consolePrintf("Could not open: %s", pszPath);
  if (nRead <= 0) return 0;  // a failed read is reported
  if (verdict.nRefusal != UPDATE_FILE_ACCEPTED) {
    char szText[SETTING_TEXT_SIZE + 96];
    consoleWrite(szText, updateFileRefusalText(&verdict, pszPath, szText, sizeof(szText)));
    return 0;
  }
  return loadUpdateFileVerdict(&verdict);
}

int32_t loadUpdateFileVerdict(const UpdateFileVerdict *pVerdict) {
  memset(g_abImage, 0, sizeof(g_abImage));
  if (pVerdict->bEncrypted) {
    // An update file's header decides the type and the model.
    g_bFileType = pVerdict->bType;
    g_bModel = pVerdict->bModel;
  }
  uint32_t ulAt = pVerdict->ulLength - pVerdict->ulPayload;  // a raw logo's length first
  memcpy(g_abImage + ulAt, pVerdict->pbData, pVerdict->ulPayload);
  if (ulAt != 0) putLe16(g_abImage, pVerdict->ulPayload);
  if (pVerdict->pbIdata != NULL) memcpy(g_abIdata, pVerdict->pbIdata, IDATA_SIZE);
  nMinHexAddress = 0;  // where every accepted image starts
  nMaxHexAddress = pVerdict->ulLength;
  return (int32_t)pVerdict->ulLength;
}
