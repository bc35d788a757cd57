// SPDX-License-Identifier: Apache-2.0
// The option scanner (see option_scan.h).
#include "tools/common/option_scan.h"

#include <stddef.h>
#include <string.h>

void startOptionScan(OptionScanner *pScan, int argc, char **argv, const ScanOption *pTable,
                     int nTable) {
  pScan->argc = argc;
  pScan->argv = argv;
  pScan->i = 0;
  pScan->bOptionsEnded = 0;
  pScan->pTable = pTable;
  pScan->nTable = nTable;
}

int nextOption(OptionScanner *pScan, const char **ppszArg, const char **ppszValue) {
  *ppszValue = NULL;
  for (;;) {
    if (pScan->i >= pScan->argc) return SCAN_END;
    const char *pszArg = pScan->argv[pScan->i++];
    *ppszArg = pszArg;
    if (pScan->bOptionsEnded || pszArg[0] != '-' || pszArg[1] == '\0') return SCAN_OPERAND;
    if (strcmp(pszArg, "--") == 0) {
      pScan->bOptionsEnded = 1;
      continue;
    }
    for (int k = 0; k < pScan->nTable; k++) {
      const ScanOption *pOption = &pScan->pTable[k];
      if (strcmp(pszArg, pOption->pszName) != 0) continue;
      if (pOption->bTakesValue) {
        if (pScan->i >= pScan->argc) return SCAN_NO_VALUE;
        *ppszValue = pScan->argv[pScan->i++];
      }
      return pOption->nId;
    }
    return SCAN_UNKNOWN;
  }
}
