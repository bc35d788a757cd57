// SPDX-License-Identifier: Apache-2.0
// zvinspect's command line (see options.h).
#include "tools/zvinspect/options.h"

#include <stdio.h>
#include <string.h>

#include "platform/platform_companions.h"
#include "tools/common/decimal.h"
#include "tools/common/option_scan.h"

const char g_szInspectSynopsis[] =
    "usage: zvinspect [-K KEY] [-M N] [--against SOURCE] [--extract OUT] [--json] "
    "FILE\n";

const char g_szInspectUsage[] =
    "usage: zvinspect [-K KEY] [-M N] [--against SOURCE] [--extract OUT] [--json] "
    "FILE\n"
    "Tells what an update file (main.enc, logo.enc, html.enc) or an Intel HEX\n"
    "firmware image holds, before it reaches a device.  FILE - reads standard\n"
    "input; -- ends the options.\n"
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
    "  -h, --help        this text\n"
    "  -V, --version     the version and the build's commit\n"
    "Exit status: 0 nothing wrong, 1 a finding, 2 the input cannot be read or\n"
    "is of no known kind, or the command line is wrong.\n";

static int error(char *pszError, int nSize, const char *pszText,
                 const char *pszArg) {
  snprintf(pszError, (size_t)nSize, "%s%s", pszText, pszArg);
  return 0;
}

enum { OPT_KEY = 1, OPT_MODEL, OPT_AGAINST, OPT_EXTRACT, OPT_JSON, OPT_HELP, OPT_VERSION };

static const ScanOption s_aOptions[] = {
    {"-K", 1, OPT_KEY},         {"-M", 1, OPT_MODEL},   {"--against", 1, OPT_AGAINST},
    {"--extract", 1, OPT_EXTRACT}, {"--json", 0, OPT_JSON}, {"-h", 0, OPT_HELP},
    {"--help", 0, OPT_HELP},       {"-V", 0, OPT_VERSION}, {"--version", 0, OPT_VERSION},
};

int parseInspectOptions(int argc, char **argv, InspectOptions *pOpt,
                        char *pszError, int nSize) {
  memset(pOpt, 0, sizeof(*pOpt));
  pOpt->nModel = -1;
  OptionScanner scan;
  startOptionScan(&scan, argc, argv, s_aOptions, (int)(sizeof(s_aOptions) / sizeof(s_aOptions[0])));
  const char *pszArg, *pszValue;
  int nId;
  while ((nId = nextOption(&scan, &pszArg, &pszValue)) != SCAN_END) {
    uint32_t ulModel = 0;
    switch (nId) {
      case OPT_HELP: return -1;
      case OPT_VERSION: return -2;
      case OPT_JSON: pOpt->bJson = 1; break;
      case SCAN_OPERAND:
        if (platIsHelpSwitch(pszArg)) return -1;  // the system's own switch (/?)
        if (pOpt->pszInput != NULL) return error(pszError, nSize, "more than one file: ", pszArg);
        pOpt->pszInput = pszArg;
        break;
      case SCAN_UNKNOWN: return error(pszError, nSize, "unknown option: ", pszArg);
      case SCAN_NO_VALUE: return error(pszError, nSize, "no value for ", pszArg);
      case OPT_KEY:
        if (pszValue[0] == '\0') return error(pszError, nSize, "empty key", "");
        pOpt->bKey = 1;
        memset(pOpt->abKey, 0, sizeof(pOpt->abKey));
        for (size_t k = 0; k < sizeof(pOpt->abKey) && pszValue[k] != '\0'; k++)
          pOpt->abKey[k] = (uint8_t)pszValue[k];
        break;
      case OPT_MODEL:
        // The high nibble of the type byte.
        if (!readDecimal(pszValue, 15, &ulModel))
          return error(pszError, nSize, "not a model from 0 to 15: ", pszValue);
        pOpt->nModel = (int)ulModel;
        break;
      default:  // --against, --extract
        if (pszValue[0] == '\0') return error(pszError, nSize, "empty file name for ", pszArg);
        (nId == OPT_AGAINST ? pOpt->pszAgainst : pOpt->pszExtract) = pszValue;
        break;
    }
  }
  if (pOpt->pszInput == NULL) return error(pszError, nSize, "no file to inspect", "");
  if ((pOpt->pszAgainst != NULL || pOpt->pszExtract != NULL) && !pOpt->bKey)
    return error(pszError, nSize, "--against and --extract need the key (-K)", "");
  return 1;
}
