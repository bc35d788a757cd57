// SPDX-License-Identifier: Apache-2.0
// Files written whole or not at all (see output_file.h).
#include "image/output_file.h"

#include <stdio.h>

#include "platform/platform.h"

// New files are tried under these many names before giving up; one is
// left over only when a program was stopped while writing.
#define NEW_NAME_TRIES 100

OutputResult openOutputFile(OutputFile *pOut, const char *pszTarget) {
  pOut->pFile = NULL;
  pOut->pszTarget = pszTarget;
  pOut->szNew[0] = '\0';
  pOut->bFailed = false;
  PlatPathKind nKind = platPathKind(pszTarget);
  if (nKind == PLAT_PATH_OTHER) return OUTPUT_NOT_REGULAR;
  // A file that may not be written is not replaced either.
  if (nKind == PLAT_PATH_READONLY) return OUTPUT_CANNOT_OPEN;
  // Beside the target, so that the move stays within one file system.
  for (int i = 1; i <= NEW_NAME_TRIES && pOut->pFile == NULL; i++) {
    int n = snprintf(pOut->szNew, sizeof(pOut->szNew), "%s.%d.new", pszTarget, i);
    if (n < 0 || n >= (int)sizeof(pOut->szNew)) break;
    pOut->pFile = platCreateNewFile(pOut->szNew);
    // A name taken by another file is passed over; a folder that takes no
    // new file at all fails every name alike.
    if (pOut->pFile == NULL && platPathKind(pOut->szNew) == PLAT_PATH_NONE) break;
  }
  if (pOut->pFile == NULL) {
    pOut->szNew[0] = '\0';
    return OUTPUT_CANNOT_OPEN;
  }
  return OUTPUT_OK;
}

int writeOutputFile(OutputFile *pOut, const void *pData, size_t nSize) {
  if (pOut->bFailed) return 0;
  if (nSize > 0 && fwrite(pData, 1, nSize, pOut->pFile) != nSize) pOut->bFailed = true;
  return !pOut->bFailed;
}

void abandonOutputFile(OutputFile *pOut) {
  if (pOut->pFile != NULL) fclose(pOut->pFile);
  pOut->pFile = NULL;
  if (pOut->szNew[0] != '\0') remove(pOut->szNew);
  pOut->szNew[0] = '\0';
}

OutputResult finishOutputFile(OutputFile *pOut) {
  int bOk = !pOut->bFailed && fflush(pOut->pFile) == 0 && !ferror(pOut->pFile);
  bOk = fclose(pOut->pFile) == 0 && bOk;
  pOut->pFile = NULL;
  // The target may have become something else while the file was written.
  PlatPathKind nKind = platPathKind(pOut->pszTarget);
  bOk = bOk && nKind != PLAT_PATH_OTHER && nKind != PLAT_PATH_READONLY &&
        platReplaceFile(pOut->szNew, pOut->pszTarget);
  if (!bOk) {
    abandonOutputFile(pOut);
    return OUTPUT_WRITE_FAILED;
  }
  pOut->szNew[0] = '\0';
  return OUTPUT_OK;
}

OutputResult saveOutputFile(const char *pszTarget, const void *pData, size_t nSize) {
  OutputFile out;
  OutputResult result = openOutputFile(&out, pszTarget);
  if (result != OUTPUT_OK) return result;
  writeOutputFile(&out, pData, nSize);
  return finishOutputFile(&out);
}
