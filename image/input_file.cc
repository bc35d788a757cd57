// SPDX-License-Identifier: Apache-2.0
// Input files (see input_file.h).
#include "image/input_file.h"

#include "base/console.h"
#include "platform/platform.h"

FILE *openInputFile(const char *pszPath) {
  // POSIX opens a directory for reading and fails only its reads.
  if (platIsDirectory(pszPath)) return NULL;
  return fopen(pszPath, "rb");
}

long readInputFile(FILE *pFile, void *pBuffer, size_t nSize,
                   const char *pszPath) {
  size_t nRead = fread(pBuffer, 1, nSize, pFile);
  if (ferror(pFile)) {
    consolePrintf("Could not read: %s\n", pszPath);
    return -1;
  }
  return (long)nRead;
}
