// SPDX-License-Identifier: Apache-2.0
// zvinspect's command line (see options.h).
#include "tools/zvinspect/options.h"

#include <stdio.h>
#include <string.h>

const char g_szInspectSynopsis[] =
    "usage: zvinspect [-K KEY] [-M N] [--against SOURCE] [--extract OUT] [--json] "
    "FILE\n";

const char g_szInspectUsage[] =
    "usage: zvinspect [-K KEY] [-M N] [--against SOURCE] [--extract OUT] [--json] "
    "FILE\n"
    "Tells what an update file (main.enc, logo.enc, html.enc) or an Intel HEX\n"
    "firmware image holds, before it reaches a device.\n"
    "  -K KEY            the key the update file was built with (as given to\n"
    "                    zvloader -K): deciphers it and checks its image\n"
    "                    header, and tells whether it was built with -EA\n"
    "  -M N              the model (0 to 15) the update file must be for\n"
    "  --against SOURCE  with -K: whether the update file is exactly the build\n"
    "                    of SOURCE (the HEX firmware, the logo or HTML file),\n"
    "                    and where the first difference lies\n"
    "  --extract OUT     with -K: writes the update file's source to OUT (Intel\n"
    "                    HEX for main firmware, the raw logo or HTML file)\n"
    "  --json            the report as JSON\n"
    "  -h                this text\n"
    "Exit status: 0 nothing wrong, 1 a finding, 2 the input cannot be read or\n"
    "is of no known kind, or the command line is wrong.\n";

static int error(char *pszError, int nSize, const char *pszText,
                 const char *pszArg) {
  snprintf(pszError, (size_t)nSize, "%s%s", pszText, pszArg);
  return 0;
}

// A decimal model number, 0 to 15: the high nibble of the type byte.
static int parseModel(const char *pszText, int *pnModel) {
  int n = 0;
  if (*pszText == '\0') return 0;
  for (; *pszText != '\0'; pszText++) {
    if (*pszText < '0' || *pszText > '9') return 0;
    n = n * 10 + (*pszText - '0');
    if (n > 15) return 0;
  }
  *pnModel = n;
  return 1;
}

int parseInspectOptions(int argc, char **argv, InspectOptions *pOpt,
                        char *pszError, int nSize) {
  memset(pOpt, 0, sizeof(*pOpt));
  pOpt->nModel = -1;
  for (int i = 0; i < argc; i++) {
    const char *pszArg = argv[i];
    if (strcmp(pszArg, "-h") == 0 || strcmp(pszArg, "--help") == 0) return -1;
    if (strcmp(pszArg, "--json") == 0) {
      pOpt->bJson = 1;
      continue;
    }
    if (pszArg[0] != '-' || pszArg[1] == '\0') {
      if (pOpt->pszInput != NULL)
        return error(pszError, nSize, "more than one file: ", pszArg);
      pOpt->pszInput = pszArg;
      continue;
    }
    int bKey = strcmp(pszArg, "-K") == 0, bModel = strcmp(pszArg, "-M") == 0;
    int bAgainst = strcmp(pszArg, "--against") == 0;
    int bExtract = strcmp(pszArg, "--extract") == 0;
    if (!bKey && !bModel && !bAgainst && !bExtract)
      return error(pszError, nSize, "unknown option: ", pszArg);
    if (i + 1 >= argc) return error(pszError, nSize, "no value for ", pszArg);
    const char *pszValue = argv[++i];
    if (bKey) {
      if (pszValue[0] == '\0') return error(pszError, nSize, "empty key", "");
      pOpt->bKey = 1;
      memset(pOpt->abKey, 0, sizeof(pOpt->abKey));
      for (size_t k = 0; k < sizeof(pOpt->abKey) && pszValue[k] != '\0'; k++)
        pOpt->abKey[k] = (uint8_t)pszValue[k];
    } else if (bModel) {
      if (!parseModel(pszValue, &pOpt->nModel))
        return error(pszError, nSize, "not a model from 0 to 15: ", pszValue);
    } else if (pszValue[0] == '\0') {
      return error(pszError, nSize, "empty file name for ", pszArg);
    } else {
      (bAgainst ? pOpt->pszAgainst : pOpt->pszExtract) = pszValue;
    }
  }
  if (pOpt->pszInput == NULL) return error(pszError, nSize, "no file to inspect", "");
  if ((pOpt->pszAgainst != NULL || pOpt->pszExtract != NULL) && !pOpt->bKey)
    return error(pszError, nSize, "--against and --extract need the key (-K)", "");
  return 1;
}
