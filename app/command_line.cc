// SPDX-License-Identifier: Apache-2.0
// Command-line scan and checks.  An option starts with "-" or "/"; its
// name is compared whole, some names ignoring the case of ASCII letters.
// An option that takes a value takes the next argument, whatever it holds.
// A value missing at the end of the line, and a value for -IP, -P or -f
// too long for its 256-character field, end the run with the usage text.
#include "app/command_line.h"

#include <ctype.h>
#include <string.h>

#include "base/console.h"
#include "base/settings.h"
#include "image/file_type.h"

// Prints the usage text; the run then ends with status 1.
static bool usage(void) {
  consolePrintf("%s", USAGE_TEXT);
  return false;
}

// The tool never sets a locale: in the "C" locale only A to Z fold.
static char foldAscii(char c) { return (char)tolower((unsigned char)c); }

static bool sameIgnoringCase(const char *pszA, const char *pszB) {
  for (; *pszA != '\0'; pszA++, pszB++)  // B's end differs from every character of A
    if (foldAscii(*pszA) != foldAscii(*pszB)) return false;
  return *pszB == '\0';
}

// Copies a value into a text field; one that would fill it with no room
// left for the terminator is refused.
static bool copyText(char *pszField, const char *pszValue) {
  size_t n = strlen(pszValue);
  if (n >= SETTING_TEXT_SIZE) return usage();
  memset(pszField, 0, SETTING_TEXT_SIZE);
  memcpy(pszField, pszValue, n);
  return true;
}

uint8_t modelValue(const char *pszText) {
  while (*pszText == ' ' || (*pszText >= '\t' && *pszText <= '\r')) pszText++;
  int bNegative = 0;
  if (*pszText == '+' || *pszText == '-') bNegative = *pszText++ == '-';
  uint32_t ulValue = 0;
  for (; *pszText >= '0' && *pszText <= '9'; pszText++)
    ulValue = ulValue * 10u + (uint32_t)(*pszText - '0');
  return (uint8_t)(bNegative ? 0u - ulValue : ulValue);
}

enum { NAME_EXACT, NAME_ANY_CASE };

enum OptionId { OPT_IP, OPT_P, OPT_V, OPT_NO, OPT_T, OPT_M, OPT_F, OPT_NE,
                OPT_EA, OPT_K };

struct OptionName {
  const char *pszName;
  int nCompare;
  bool bTakesValue;
  OptionId id;
};

// Tried in this order; the first match counts.
static const OptionName s_aOptions[] = {
    {"IP", NAME_ANY_CASE, true, OPT_IP}, {"P", NAME_EXACT, true, OPT_P},
    {"v", NAME_ANY_CASE, false, OPT_V},  {"no", NAME_ANY_CASE, false, OPT_NO},
    {"T", NAME_EXACT, true, OPT_T},      {"M", NAME_EXACT, true, OPT_M},
    {"f", NAME_EXACT, true, OPT_F},      {"NE", NAME_EXACT, false, OPT_NE},
    {"EA", NAME_EXACT, false, OPT_EA},   {"K", NAME_ANY_CASE, true, OPT_K},
};

static const OptionName *findOption(const char *pszName) {
  for (const OptionName &option : s_aOptions) {
    int bMatch = option.nCompare == NAME_EXACT
                     ? strcmp(pszName, option.pszName) == 0
                     : sameIgnoringCase(pszName, option.pszName);
    if (bMatch) return &option;
  }
  return NULL;
}

static bool applyOption(OptionId id, const char *pszValue,
                        bool *pbListenOnly) {
  switch (id) {
    case OPT_IP: return copyText(g_szIpAddress, pszValue);
    case OPT_P: return copyText(g_szPassword, pszValue);
    case OPT_V: consolePrintf("%s\n", VERSION_TEXT); break;
    case OPT_NO: *pbListenOnly = true; break;
    case OPT_T: g_bFileType = (uint8_t)pszValue[0]; break;
    case OPT_M: g_bModel = modelValue(pszValue); break;
    case OPT_F: return copyText(g_szFileName, pszValue);
    case OPT_NE: g_bEncrypted = 0; break;
    case OPT_EA: g_bFirstBlockOnly = 0; break;
    case OPT_K:
      // Up to 16 raw bytes, zero-filled; no terminator needed.
      memset(g_szKey, 0, sizeof(g_szKey));
      memcpy(g_szKey, pszValue, strnlen(pszValue, sizeof(g_szKey)));
      break;
  }
  return true;
}

bool parseCommandLine(int argc, char **argv, bool *pbListenOnly) {
  for (int i = 1; i < argc; i++) {
    const char *pszArg = argv[i];
    if (pszArg[0] != '-' && pszArg[0] != '/') return usage();
    const OptionName *pOption = findOption(pszArg + 1);
    if (pOption == NULL) return usage();
    const char *pszValue = NULL;
    if (pOption->bTakesValue) {
      if (i + 1 >= argc) return usage();
      pszValue = argv[++i];
    }
    if (!applyOption(pOption->id, pszValue, pbListenOnly)) return false;
  }

  if (argc < 2) return usage();
  if (!g_bEncrypted) {
    uint8_t bType = fileTypeOfLetter((char)g_bFileType);
    if (bType == 0) {
      consolePrintf("You have chosen an unavailable file type:%c", g_bFileType);
      return usage();
    }
    g_bFileType = bType;
  }
  return g_bFileType != FILE_TYPE_MAIN || mainModelAccepted(g_bModel);
}
