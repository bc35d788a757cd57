// SPDX-License-Identifier: Apache-2.0
// Reading and checking the site list (see site_list.h).
#include "tools/zvfleet/site_list.h"

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "app/command_line.h"
#include "base/console.h"
#include "image/file_type.h"
#include "image/input_file.h"
#include "tools/common/cli.h"
#include "tools/common/output_path.h"
#include "tools/zvfleet/file_plan.h"
#include "tools/zvfleet/fleet.h"

#define LIST_LINE_SIZE 2048
#define MAX_FIELDS 4

// The current line's number and whether it was refused; every refusal of
// the list is printed as it is found.
struct ListReader {
  const char *pszList;
  int nLine;
  int nBadLines;
};

static bool badLine(ListReader *pReader, const char *pszFormat, ...) ZV_PRINTF(2, 3);
static bool badLine(ListReader *pReader, const char *pszFormat, ...) {
  char szWhy[FLEET_PATH_SIZE];
  va_list args;
  va_start(args, pszFormat);
  vsnprintf(szWhy, sizeof(szWhy), pszFormat, args);
  va_end(args);
  errorPrintf("zvfleet: %s line %d: %s\n", pReader->pszList, pReader->nLine, szWhy);
  pReader->nBadLines++;
  return false;
}

static bool isBlank(char c) { return c == ' ' || c == '\t'; }

// The header's first field: "address" in any case.
static bool isHeaderField(const char *pszField) {
  static const char szWord[] = "address";
  for (int i = 0; szWord[i] != '\0'; i++)
    if ((pszField[i] | 0x20) != szWord[i]) return false;
  return pszField[sizeof(szWord) - 1] == '\0';
}

// Splits the line in place into at most MAX_FIELDS fields.  Returns their
// number, -1 for too many, -2 for a quote that is not closed or is
// followed by more text.
static int splitFields(char *pszLine, char **apszField) {
  int nFields = 0;
  char *pRead = pszLine;
  for (;;) {
    if (nFields == MAX_FIELDS) return -1;
    while (isBlank(*pRead)) pRead++;
    char *pWrite = pRead;
    apszField[nFields++] = pWrite;
    if (*pRead == '"') {
      for (pRead++;; pRead++) {
        if (*pRead == '\0') return -2;
        if (*pRead == '"' && pRead[1] != '"') break;
        if (*pRead == '"') pRead++;  // "" stands for one quote
        *pWrite++ = *pRead;
      }
      for (pRead++; isBlank(*pRead); pRead++) {
      }
      if (*pRead != ',' && *pRead != '\0') return -2;
    } else {
      while (*pRead != ',' && *pRead != '\0') pRead++;
      pWrite = pRead;
      while (pWrite > apszField[nFields - 1] && isBlank(pWrite[-1])) pWrite--;
    }
    char cEnd = *pRead;
    *pWrite = '\0';  // may stand on the comma, which cEnd keeps
    if (cEnd == '\0') return nFields;
    pRead++;
  }
}

// A device's address: four decimal numbers 0 to 255 without leading zeros,
// joined by dots, and nothing else.  Returns true with the address in
// network byte order, or false with the reason in pszWhy.
static bool readAddress(const char *pszText, uint32_t *pulAddr, char *pszWhy, int nSize) {
  unsigned char abAddr[4];
  const char *p = pszText;
  for (int i = 0; i < 4; i++) {
    if (i > 0 && *p++ != '.') break;
    int nDigits = 0, nValue = 0;
    while (p[nDigits] >= '0' && p[nDigits] <= '9' && nDigits < 4)
      nValue = nValue * 10 + (p[nDigits++] - '0');
    if (nDigits == 0 || nValue > 255 || (nDigits > 1 && p[0] == '0')) {
      p = NULL;
      break;
    }
    abAddr[i] = (unsigned char)nValue;
    p += nDigits;
    if (i == 3 && *p == '\0') {
      memcpy(pulAddr, abAddr, 4);  // the bytes in their order: network order
      if (abAddr[0] == 0 && abAddr[1] == 0 && abAddr[2] == 0 && abAddr[3] == 0)
        snprintf(pszWhy, (size_t)nSize, "0.0.0.0 is no device's address");
      else if (abAddr[0] == 255 && abAddr[1] == 255 && abAddr[2] == 255 && abAddr[3] == 255)
        snprintf(pszWhy, (size_t)nSize, "255.255.255.255 is the broadcast address, no device's");
      else if (abAddr[0] >= 224 && abAddr[0] <= 239)
        snprintf(pszWhy, (size_t)nSize, "%s is a multicast address, no device's", pszText);
      else
        return true;
      return false;
    }
  }
  snprintf(pszWhy, (size_t)nSize,
           "not a device's IPv4 address (four numbers 0 to 255, no leading zeros): %s", pszText);
  return false;
}

// Whether a path is absolute, by the signs of either system.
static bool isAbsolute(const char *pszPath) {
  return isPathSeparator(pszPath[0]) || (pszPath[0] != '\0' && pszPath[1] == ':');
}

// The file's path from the list's folder, in pDev->szPath.
static bool placeFile(ListReader *pReader, const char *pszFile, FleetDevice *pDev) {
  if (*pszFile == '\0') return badLine(pReader, "no file given");
  const char *pszList = pReader->pszList;
  int nFolder = isAbsolute(pszFile) ? 0 : (int)pathFolderLength(pszList);
  int n = snprintf(pDev->szPath, sizeof(pDev->szPath), "%.*s%s", nFolder, pszList,
                   pszFile);
  if (strlen(pszFile) >= sizeof(pDev->szFile) || n >= (int)sizeof(pDev->szPath))
    return badLine(pReader, "the file's path is longer than the tool takes: %s", pszFile);
  strcpy(pDev->szFile, pszFile);
  return true;
}

// The extra options, each kept in pDev->szExtras with a zero after it:
// -NE, -EA, -T letter, -M model (read as the tool reads it, and one that
// main-CPU firmware exists for).  *pbPlain and *pcType tell how the tool
// will load the file.
static bool readExtras(ListReader *pReader, char *pszOptions, FleetDevice *pDev,
                       bool *pbPlain, char *pcType) {
  char *pWrite = pDev->szExtras;
  size_t nRoom = sizeof(pDev->szExtras);
  for (char *pszToken = strtok(pszOptions, " \t"); pszToken != NULL;
       pszToken = strtok(NULL, " \t")) {
    size_t nLength = strlen(pszToken);
    if (pDev->nExtras == FLEET_MAX_EXTRAS || nLength >= nRoom)
      return badLine(pReader, "too many options");
    memcpy(pWrite, pszToken, nLength + 1);
    pWrite += nLength + 1;
    nRoom -= nLength + 1;
    pDev->nExtras++;
  }
  bool bModel = false;
  char szLetters[16], szModels[32];
  fileTypeLettersText(szLetters, sizeof(szLetters));
  mainModelsText(szModels, sizeof(szModels));
  const char *pszOption = pDev->szExtras;
  for (int i = 0; i < pDev->nExtras; i++, pszOption += strlen(pszOption) + 1) {
    const char *pszValue = pszOption + strlen(pszOption) + 1;
    bool bValued = strcmp(pszOption, "-T") == 0 || strcmp(pszOption, "-M") == 0;
    if (bValued && i + 1 == pDev->nExtras)
      return badLine(pReader, "no value after %s", pszOption);
    if (strcmp(pszOption, "-NE") == 0) {
      *pbPlain = true;
    } else if (strcmp(pszOption, "-T") == 0) {
      if (strlen(pszValue) != 1 || fileTypeOfLetter(pszValue[0]) == 0)
        return badLine(pReader, "-T takes %s, not %s", szLetters, pszValue);
      *pcType = pszValue[0];
    } else if (strcmp(pszOption, "-M") == 0) {
      if (!isMainModel(modelValue(pszValue)))
        return badLine(pReader, "-M takes the model %s, not %s", szModels, pszValue);
      bModel = true;
    } else if (strcmp(pszOption, "-EA") != 0) {
      return badLine(pReader, "%s is not an option zvfleet passes on (-NE, -EA, -T, -M)",
                     pszOption);
    }
    if (bValued) {
      i++;
      pszOption = pszValue;
    }
  }
  if (*pbPlain && *pcType == 0) return badLine(pReader, "-NE needs -T %s", szLetters);
  if (*pbPlain && fileTypeOfLetter(*pcType) == FILE_TYPE_MAIN && !bModel)
    return badLine(pReader, "a plain HEX firmware needs -M %s", szModels);
  return true;
}

// Checks one device line; a good one becomes the next device.
static void takeLine(ListReader *pReader, char *pszLine, bool *pbHeaderAllowed) {
  char *apszField[MAX_FIELDS];
  int nFields = splitFields(pszLine, apszField);
  bool bHeaderAllowed = *pbHeaderAllowed;
  *pbHeaderAllowed = false;
  if (nFields == -2) {
    badLine(pReader, "a quoted field is not closed where it should be");
    return;
  }
  if (nFields == -1) {
    badLine(pReader, "more than four fields (quote options or a password with commas)");
    return;
  }
  if (nFields < 3) {
    badLine(pReader, "wants address,password,file[,options]");
    return;
  }
  if (bHeaderAllowed && isHeaderField(apszField[0])) return;
  if (g_nDevices == FLEET_MAX_DEVICES) {
    badLine(pReader, "more than %d devices", FLEET_MAX_DEVICES);
    return;
  }
  FleetDevice *pDev = &g_aDevices[g_nDevices];
  memset(pDev, 0, sizeof(*pDev));
  pDev->nLine = pReader->nLine;
  char szWhy[FLEET_TEXT_SIZE + 96];
  if (!readAddress(apszField[0], &pDev->ulAddr, szWhy, sizeof(szWhy))) {
    badLine(pReader, "%s", szWhy);
    return;
  }
  if (!platAddressText(pDev->ulAddr, pDev->szAddress, sizeof(pDev->szAddress))) {
    badLine(pReader, "not a device's IPv4 address: %s", apszField[0]);
    return;
  }
  for (int i = 0; i < g_nDevices; i++)
    if (g_aDevices[i].ulAddr == pDev->ulAddr) {
      badLine(pReader, "the same device as on line %d", g_aDevices[i].nLine);
      return;
    }
  if (strlen(apszField[1]) >= sizeof(pDev->szPassword)) {
    badLine(pReader, "a password of more than 255 characters");
    return;
  }
  strcpy(pDev->szPassword, apszField[1]);
  bool bPlain = false;
  char cType = 0;
  char szNoOptions[1] = "";
  if (!placeFile(pReader, apszField[2], pDev) ||
      !readExtras(pReader, nFields > 3 ? apszField[3] : szNoOptions, pDev, &bPlain, &cType))
    return;
  pDev->plan.cPlainType = bPlain ? cType : 0;  // as planFile sets it
  int nEarlier = earlierSameFile(g_nDevices);
  if (nEarlier >= 0) {
    pDev->plan = g_aDevices[nEarlier].plan;
  } else if (!planFile(pDev->szPath, bPlain, cType, &pDev->plan, szWhy, sizeof(szWhy))) {
    badLine(pReader, "%s: %s", pDev->szPath, szWhy);
    return;
  }
  g_nDevices++;
}

int readSiteList(const char *pszPath) {
  FILE *pFile = openInputFile(pszPath);
  if (pFile == NULL) {
    errorPrintf("zvfleet: cannot open the site list %s\n", pszPath);
    return -1;
  }
  ListReader reader = {pszPath, 0, 0};
  static char s_szLine[LIST_LINE_SIZE];
  bool bHeaderAllowed = true;
  g_nDevices = 0;
  while (fgets(s_szLine, sizeof(s_szLine), pFile) != NULL) {
    reader.nLine++;
    size_t nLength = strlen(s_szLine);
    if (nLength == sizeof(s_szLine) - 1 && s_szLine[nLength - 1] != '\n') {
      badLine(&reader, "longer than %d characters", LIST_LINE_SIZE - 2);
      int c;
      while ((c = fgetc(pFile)) != EOF && c != '\n') {
      }
      continue;
    }
    while (nLength > 0 && (s_szLine[nLength - 1] == '\n' || s_szLine[nLength - 1] == '\r'))
      s_szLine[--nLength] = '\0';
    char *pszLine = s_szLine;
    if (reader.nLine == 1 && strncmp(pszLine, "\xEF\xBB\xBF", 3) == 0)
      pszLine += 3;  // the byte order mark of a list saved as UTF-8
    while (isBlank(*pszLine)) pszLine++;
    if (*pszLine == '\0' || *pszLine == '#') continue;
    takeLine(&reader, pszLine, &bHeaderAllowed);
  }
  int bReadError = ferror(pFile);
  fclose(pFile);
  if (bReadError) {
    errorPrintf("zvfleet: cannot read the site list %s\n", pszPath);
    return -1;
  }
  if (reader.nBadLines > 0) {
    errorPrintf("zvfleet: %d bad line%s in %s; nothing was started\n", reader.nBadLines,
                  reader.nBadLines == 1 ? "" : "s", pszPath);
    return -1;
  }
  if (g_nDevices == 0) {
    errorPrintf("zvfleet: no device in %s; nothing was started\n", pszPath);
    return -1;
  }
  return g_nDevices;
}
