// SPDX-License-Identifier: Apache-2.0
// The companions' option tables at work (see option_table.h): the scan,
// the checks of a value by its kind, the wording of a wrong command line,
// and the help text made from the table.
#include "tools/common/option_table.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "platform/platform_companions.h"
#include "tools/common/cli.h"
#include "tools/common/decimal.h"
#include "tools/common/fixed_text.h"

enum { CLI_ID_HELP = -10, CLI_ID_VERSION = -11 };

const CliOption g_aCliStandardOptions[2] = {
    {CLI_ID_HELP, "-h, --help", CLI_FLAG, NULL, 0, 0, NULL, NULL, NULL, "this text"},
    {CLI_ID_VERSION, "-V, --version", CLI_FLAG, NULL, 0, 0, NULL, NULL, NULL,
     "the version and the build's commit"},
};
static const int s_nStandardOptions =
    (int)(sizeof(g_aCliStandardOptions) / sizeof(g_aCliStandardOptions[0]));

// The help is built here and written whole.
#define HELP_SIZE 16384
#define HELP_WIDTH 78
#define NAMES_WIDTH 16

// True when pszArg is one of the names "-a, --bb" of pszNames.
static bool isNamed(const char *pszNames, const char *pszArg) {
  size_t nArg = strlen(pszArg);
  for (const char *p = pszNames; *p != '\0';) {
    size_t n = strcspn(p, ",");
    if (n == nArg && strncmp(p, pszArg, n) == 0) return true;
    p += n;
    while (*p == ',' || *p == ' ') p++;
  }
  return false;
}

// The option of either table named pszArg, or null.
static const CliOption *findOption(const CliProgram *pProgram, const char *pszArg) {
  for (int k = 0; k < pProgram->nOptions + s_nStandardOptions; k++) {
    const CliOption *pOption = k < pProgram->nOptions ? &pProgram->pOptions[k]
                                                      : &g_aCliStandardOptions[k - pProgram->nOptions];
    if (isNamed(pOption->pszNames, pszArg)) return pOption;
  }
  return NULL;
}

// A value's number by its option's kind: true when the kind allows the value.
static bool checkValue(const CliOption *pOption, const char *pszValue, uint32_t *pulNumber) {
  *pulNumber = 0;
  if (pOption->nKind == CLI_NUMBER)
    return readDecimal(pszValue, pOption->ulMax, pulNumber) && *pulNumber >= pOption->ulMin;
  if (pOption->nKind == CLI_CHOICE) {
    size_t nValue = strlen(pszValue);
    for (const char *p = pOption->pszArg;; (*pulNumber)++) {
      size_t n = strcspn(p, "|");
      if (n == nValue && strncmp(p, pszValue, n) == 0) return true;
      if (p[n] == '\0') return false;
      p += n + 1;
    }
  }
  size_t nLength = strlen(pszValue);
  return nLength >= pOption->ulMin && (pOption->ulMax == 0 || nLength <= pOption->ulMax);
}

// What a value of the option must be, for a refusal.
static void takesText(const CliOption *pOption, char *pszText, int nSize) {
  if (pOption->nKind == CLI_NUMBER) {
    snprintf(pszText, (size_t)nSize, "%lu to %lu%s%s", (unsigned long)pOption->ulMin,
             (unsigned long)pOption->ulMax, pOption->pszTakes != NULL ? " " : "",
             pOption->pszTakes != NULL ? pOption->pszTakes : "");
  } else if (pOption->pszTakes != NULL) {
    snprintf(pszText, (size_t)nSize, "%s", pOption->pszTakes);
  } else if (pOption->nKind == CLI_CHOICE) {
    // "a|b|c" as "a, b or c".
    pszText[0] = '\0';
    for (const char *p = pOption->pszArg; *p != '\0';) {
      int nWord = (int)strcspn(p, "|");
      const char *pszJoin = p[nWord] == '\0' ? "" : strchr(p + nWord + 1, '|') ? ", " : " or ";
      textAppend(pszText, nSize, "%.*s%s", nWord, p, pszJoin);
      p += nWord + (p[nWord] != '\0');
    }
  } else if (pOption->ulMax > 0 && pOption->ulMin > 0) {
    snprintf(pszText, (size_t)nSize, "%lu to %lu characters", (unsigned long)pOption->ulMin,
             (unsigned long)pOption->ulMax);
  } else if (pOption->ulMax > 0) {
    snprintf(pszText, (size_t)nSize, "up to %lu characters", (unsigned long)pOption->ulMax);
  } else {
    snprintf(pszText, (size_t)nSize, "a value");
  }
}

static int refuseValue(const CliProgram *pProgram, const char *pszArg, const CliOption *pOption,
                       const char *pszValue) {
  char szTakes[200];
  takesText(pOption, szTakes, (int)sizeof(szTakes));
  return cliUsageError(pProgram, "%s takes %s, not %s", pszArg, szTakes,
                       pszValue[0] != '\0' ? pszValue : "an empty text");
}

static int printHelp(const CliProgram *pProgram);

int cliParse(const CliProgram *pProgram, int argc, char **argv, CliHandler pfnHandle,
             void *pContext, const char **ppszOperand) {
  *ppszOperand = NULL;
  uint32_t ulNumber = 0;
  for (int k = 0; k < pProgram->nOptions; k++) {
    const CliOption *pOption = &pProgram->pOptions[k];
    if (pOption->pszDefault == NULL) continue;
    if (!checkValue(pOption, pOption->pszDefault, &ulNumber) ||
        !pfnHandle(pContext, pOption->nId, pOption->pszDefault, ulNumber))
      return refuseValue(pProgram, pOption->pszNames, pOption, pOption->pszDefault);
  }
  bool bOptionsEnded = false;
  for (int i = 0; i < argc; i++) {
    const char *pszArg = argv[i];
    if (!bOptionsEnded && strcmp(pszArg, "--") == 0) {
      bOptionsEnded = true;
      continue;
    }
    if (bOptionsEnded || pszArg[0] != '-' || pszArg[1] == '\0') {
      if (!bOptionsEnded && platIsHelpSwitch(pszArg)) return printHelp(pProgram);
      if (pProgram->pszOperand == NULL)
        return cliUsageError(pProgram, "unexpected argument: %s", pszArg);
      if (*ppszOperand != NULL)
        return cliUsageError(pProgram, "more than one %s: %s", pProgram->pszOperand, pszArg);
      *ppszOperand = pszArg;
      continue;
    }
    const CliOption *pOption = findOption(pProgram, pszArg);
    if (pOption == NULL) return cliUsageError(pProgram, "unknown option: %s", pszArg);
    if (pOption->nId == CLI_ID_HELP) return printHelp(pProgram);
    if (pOption->nId == CLI_ID_VERSION) {
      printVersion(pProgram->pszName);
      return finalStatus(0, pProgram->nOutputFailed);
    }
    const char *pszValue = NULL;
    if (pOption->nKind != CLI_FLAG) {
      if (i + 1 >= argc) return cliUsageError(pProgram, "missing value for %s", pszArg);
      pszValue = argv[++i];
      if (!checkValue(pOption, pszValue, &ulNumber))
        return refuseValue(pProgram, pszArg, pOption, pszValue);
    }
    if (!pfnHandle(pContext, pOption->nId, pszValue, ulNumber))
      return refuseValue(pProgram, pszArg, pOption, pszValue != NULL ? pszValue : "");
  }
  if (pProgram->pszOperand != NULL && *ppszOperand == NULL)
    return cliUsageError(pProgram, "no %s given", pProgram->pszOperand);
  return CLI_RUN;
}

int cliUsageError(const CliProgram *pProgram, const char *pszFormat, ...) {
  char szText[1024];
  va_list args;
  va_start(args, pszFormat);
  vsnprintf(szText, sizeof(szText), pszFormat, args);
  va_end(args);
  errorPrintf("%s: %s (%s -h lists the options)\n", pProgram->pszName, szText, pProgram->pszName);
  return CLI_USAGE_ERROR;
}

// Appends to a text that never runs past its buffer.
struct HelpText {
  char *psz;
  int nSize, nLength, nColumn;
};

static void put(HelpText *pText, const char *p, int n) {
  for (int k = 0; k < n && pText->nLength < pText->nSize - 1; k++) {
    pText->psz[pText->nLength++] = p[k];
    pText->nColumn = p[k] == '\n' ? 0 : pText->nColumn + 1;
  }
  pText->psz[pText->nLength] = '\0';
}

static void putText(HelpText *pText, const char *psz) { put(pText, psz, (int)strlen(psz)); }

static void putSpaces(HelpText *pText, int n) {
  while (n-- > 0) put(pText, " ", 1);
}

// The words of psz from the current column on, wrapped to HELP_WIDTH with
// later lines beginning at nIndent.
static void putWrapped(HelpText *pText, const char *psz, int nIndent) {
  for (const char *p = psz; *p != '\0';) {
    while (*p == ' ') p++;
    int n = (int)strcspn(p, " ");
    if (n == 0) break;
    if (pText->nColumn > nIndent && pText->nColumn + 1 + n > HELP_WIDTH) {
      put(pText, "\n", 1);
      putSpaces(pText, nIndent);
    } else if (pText->nColumn > nIndent) {
      put(pText, " ", 1);
    }
    put(pText, p, n);
    p += n;
  }
}

static void putOption(HelpText *pText, const CliOption *pOption) {
  char szCell[120], szHelp[1200], szRange[80] = "", szDefault[120] = "";
  snprintf(szCell, sizeof(szCell), "%s%s%s", pOption->pszNames, pOption->pszArg ? " " : "",
           pOption->pszArg ? pOption->pszArg : "");
  int nIndent = 2 + NAMES_WIDTH + 2;
  putSpaces(pText, 2);
  putText(pText, szCell);
  if (pText->nColumn + 2 > nIndent) put(pText, "\n", 1);
  putSpaces(pText, nIndent - pText->nColumn);
  bool bRange = pOption->nKind == CLI_NUMBER;
  bool bDefault = pOption->pszDefault != NULL || pOption->pszDefaultText != NULL;
  if (bRange)
    snprintf(szRange, sizeof(szRange), "%lu to %lu", (unsigned long)pOption->ulMin,
             (unsigned long)pOption->ulMax);
  if (pOption->pszDefault != NULL)
    snprintf(szDefault, sizeof(szDefault), "default %s",
             pOption->pszDefault[0] != '\0' ? pOption->pszDefault : "empty");
  else if (pOption->pszDefaultText != NULL)
    snprintf(szDefault, sizeof(szDefault), "default: %s", pOption->pszDefaultText);
  if (bRange || bDefault)
    snprintf(szHelp, sizeof(szHelp), "%s (%s%s%s)", pOption->pszHelp, szRange,
             bRange && bDefault ? "; " : "", szDefault);
  else
    snprintf(szHelp, sizeof(szHelp), "%s", pOption->pszHelp);
  putWrapped(pText, szHelp, nIndent);
  put(pText, "\n", 1);
}

// The help text, as -h prints it, made whole (cut where its buffer ends)
// and written at once; returns the exit status.
static int printHelp(const CliProgram *pProgram) {
  static char s_szHelp[HELP_SIZE];
  HelpText text = {s_szHelp, (int)sizeof(s_szHelp), 0, 0};
  putText(&text, "usage: ");
  putText(&text, pProgram->pszName);
  putText(&text, " ");
  putText(&text, pProgram->pszUsage);
  if (pProgram->pszMoreUsage != NULL) {
    putText(&text, "\n       ");
    putText(&text, pProgram->pszName);
    putText(&text, " ");
    putText(&text, pProgram->pszMoreUsage);
  }
  putText(&text, "\n");
  putText(&text, pProgram->pszAbout);
  for (int k = 0; k < pProgram->nOptions; k++) putOption(&text, &pProgram->pOptions[k]);
  for (int k = 0; k < s_nStandardOptions; k++) putOption(&text, &g_aCliStandardOptions[k]);
  putText(&text, pProgram->pszMore);
  consoleWrite(s_szHelp, text.nLength);
  return finalStatus(0, pProgram->nOutputFailed);
}
