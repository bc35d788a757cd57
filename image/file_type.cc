// SPDX-License-Identifier: Apache-2.0
// The -T letters of the file types, the texts that name the choices, and
// the message for a main-CPU model outside its range (see file_type.h).
#include "image/file_type.h"

#include <stdio.h>

#include "base/console.h"

static const struct {
  char cLetter;
  uint8_t bType;
} s_aLetters[] = {{'M', FILE_TYPE_MAIN}, {'L', FILE_TYPE_LOGO}, {'H', FILE_TYPE_HTML}};

#define LETTER_COUNT (int)(sizeof(s_aLetters) / sizeof(s_aLetters[0]))

uint8_t fileTypeOfLetter(char cLetter) {
  for (int i = 0; i < LETTER_COUNT; i++)
    if (s_aLetters[i].cLetter == cLetter) return s_aLetters[i].bType;
  return 0;
}

// Appends choice i of nCount to the text of *pn bytes: ", " before all but
// the first and the last, " or " before the last.
static void appendChoice(char *pszText, int nSize, int *pn, int i, int nCount,
                         const char *pszItem) {
  const char *pszBefore = i == 0 ? "" : i + 1 == nCount ? " or " : ", ";
  *pn += formatText(pszText + *pn, nSize - *pn, "%s%s", pszBefore, pszItem);
}

void fileTypeLettersText(char *pszText, int nSize) {
  int n = 0;
  pszText[0] = '\0';
  for (int i = 0; i < LETTER_COUNT; i++) {
    char szItem[2] = {s_aLetters[i].cLetter, '\0'};
    appendChoice(pszText, nSize, &n, i, LETTER_COUNT, szItem);
  }
}

void mainModelsText(char *pszText, int nSize) {
  int n = 0, nCount = MAIN_MODEL_HIGHEST - MAIN_MODEL_LOWEST + 1;
  pszText[0] = '\0';
  for (int i = 0; i < nCount; i++) {
    char szItem[16];
    snprintf(szItem, sizeof(szItem), "%d", MAIN_MODEL_LOWEST + i);
    appendChoice(pszText, nSize, &n, i, nCount, szItem);
  }
}

int mainModelText(uint8_t bModel, char *pszText, int nSize) {
  return formatText(pszText, nSize, "Wrong quorvaUnit model: %d\n", bModel);
}

bool mainModelAccepted(uint8_t bModel) {
  if (isMainModel(bModel)) return true;
  char szText[64];
  consoleWrite(szText, mainModelText(bModel, szText, sizeof(szText)));
  return false;
}
