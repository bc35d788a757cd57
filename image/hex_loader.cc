// SPDX-License-Identifier: Apache-2.0
// Intel HEX loader (see hex_loader.h): the file is read line by line and
// judged by the verdict, which stores what it accepts; the first refusal
// ends the load with the loader's message, without a line end.
#include "image/hex_loader.h"

#include <stdio.h>

#include "base/console.h"
#include "image/input_file.h"

int readHexFile(const char *pszPath) {
  static HexVerdict s_verdict;
  static HexLineReader s_reader;
  HexVerdict *pVerdict = &s_verdict;
  startHexVerdict(pVerdict);

  FILE *pFile = openInputFile(pszPath);
  if (pFile == NULL) {
    consolePrintf("Could not open: %s", pszPath);
    return 0;
  }
  startHexLines(&s_reader, pFile, pszPath);
  while (nextHexLine(&s_reader, pVerdict) && pVerdict->nRefusal == HEX_ACCEPTED) {
  }
  if (pVerdict->nRefusal == HEX_ACCEPTED) finishHexVerdict(pVerdict);
  fclose(pFile);
  if (pVerdict->nRefusal == HEX_ACCEPTED) return 1;
  char szText[HEX_LINE_SIZE + 4200];
  hexRefusalText(pVerdict, pszPath, szText, sizeof(szText));
  consolePrintf("%s", szText);
  return 0;
}
