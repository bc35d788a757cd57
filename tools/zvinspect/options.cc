// SPDX-License-Identifier: Apache-2.0
// zvinspect's command line (see options.h).
#include "tools/zvinspect/options.h"

#include <string.h>

enum { OPT_KEY = 1, OPT_MODEL, OPT_AGAINST, OPT_EXTRACT, OPT_JSON };

static const CliOption s_aOptions[] = {
    {OPT_KEY, "-K", CLI_TEXT, "KEY", 1, 0, NULL, NULL, "a key",
     "the key the update file was built with (as given to zvloader -K): deciphers it and checks "
     "its image header, and tells whether it was built with -EA"},
    // The high nibble of the type byte.
    {OPT_MODEL, "-M", CLI_NUMBER, "N", 0, 15, NULL, NULL, NULL,
     "the model the update file must be for"},
    {OPT_AGAINST, "--against", CLI_TEXT, "SOURCE", 1, 0, NULL, NULL, "a file",
     "with -K: whether the update file is exactly the build of SOURCE (the HEX firmware, the "
     "logo or HTML file), and where the first difference lies"},
    {OPT_EXTRACT, "--extract", CLI_TEXT, "OUT", 1, 0, NULL, NULL, "a file",
     "with -K: writes the update file's source to OUT (Intel HEX for main firmware, the raw "
     "logo or HTML file)"},
    {OPT_JSON, "--json", CLI_FLAG, NULL, 0, 0, NULL, NULL, NULL, "the report as JSON"},
};

const CliProgram g_inspectCommandLine = {
    "zvinspect",
    "[-K KEY] [-M N] [--against SOURCE] [--extract OUT] [--json] FILE",
    NULL,
    "file",
    "Tells what an update file (main.enc, logo.enc, html.enc) or an Intel HEX\n"
    "firmware image holds, before it reaches a device.  FILE - reads standard\n"
    "input; -- ends the options.\n",
    s_aOptions,
    (int)(sizeof(s_aOptions) / sizeof(s_aOptions[0])),
    "Exit status: 0 nothing wrong, 1 a finding, 2 the input or the --against\n"
    "source cannot be read, the input is of no known kind, the extraction\n"
    "failed (which the verdict line names; it is no finding), or the command\n"
    "line is wrong.\n",
    2,
};

static bool applyOption(void *pContext, int nId, const char *pszValue, uint32_t ulNumber) {
  InspectOptions *pOpt = (InspectOptions *)pContext;
  switch (nId) {
    case OPT_KEY:
      pOpt->bKey = true;
      memset(pOpt->abKey, 0, sizeof(pOpt->abKey));
      for (size_t k = 0; k < sizeof(pOpt->abKey) && pszValue[k] != '\0'; k++)
        pOpt->abKey[k] = (uint8_t)pszValue[k];
      return true;
    case OPT_MODEL: pOpt->nModel = (int)ulNumber; return true;
    case OPT_AGAINST: pOpt->pszAgainst = pszValue; return true;
    case OPT_EXTRACT: pOpt->pszExtract = pszValue; return true;
    default: pOpt->bJson = true; return true;  // --json
  }
}

int parseInspectOptions(int argc, char **argv, InspectOptions *pOpt) {
  memset(pOpt, 0, sizeof(*pOpt));
  pOpt->nModel = -1;
  int nParsed = cliParse(&g_inspectCommandLine, argc, argv, applyOption, pOpt, &pOpt->pszInput);
  if (nParsed != CLI_RUN) return nParsed;
  if ((pOpt->pszAgainst != NULL || pOpt->pszExtract != NULL) && !pOpt->bKey)
    return cliUsageError(&g_inspectCommandLine, "--against and --extract need the key, -K");
  // Standard input is read once: it cannot be both the file and its source.
  if (pOpt->pszAgainst != NULL && strcmp(pOpt->pszAgainst, "-") == 0 &&
      pOpt->pszInput != NULL && strcmp(pOpt->pszInput, "-") == 0)
    return cliUsageError(&g_inspectCommandLine, "standard input (-) cannot be both the file "
                         "and the --against source");
  return CLI_RUN;
}
