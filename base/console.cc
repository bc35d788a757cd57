// SPDX-License-Identifier: Apache-2.0
// Console messages and the error report line (see console.h).
#include "base/console.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "base/tool_texts.h"
#include "platform/platform.h"

#define REPORT_LINE_SIZE 10000
#define SYSTEM_TEXT_SIZE 1000
// The longest message: a report line and its line end, or a debug line.
#define MESSAGE_SIZE (REPORT_LINE_SIZE + 2)

void consoleWrite(const char *pText, int nLength) {
  platConsoleWrite(pText, nLength);
}

int formatTextV(char *pszBuffer, int nSize, const char *pszFormat, va_list args) {
  int n = vsnprintf(pszBuffer, (size_t)nSize, pszFormat, args);
  return std::min(std::max(n, 0), nSize - 1);  // nothing on a failure
}

int formatText(char *pszBuffer, int nSize, const char *pszFormat, ...) {
  va_list args;
  va_start(args, pszFormat);
  int n = formatTextV(pszBuffer, nSize, pszFormat, args);
  va_end(args);
  return n;
}

void consolePrintf(const char *pszFormat, ...) {
  char szMessage[MESSAGE_SIZE];
  va_list args;
  va_start(args, pszFormat);
  int n = formatTextV(szMessage, sizeof(szMessage), pszFormat, args);
  va_end(args);
  consoleWrite(szMessage, n);
}

char *getSystemErrorText(char *pszBuffer, int nSize) {
  int nCode = platPendingError();
  if (nCode == 0) return NULL;
  char szText[SYSTEM_TEXT_SIZE];
  int n = platErrorText(nCode, szText, sizeof(szText));
  // The text with its code where both fit, else the code alone.
  if (n == 0 || nSize < n + 14 ||
      snprintf(pszBuffer, (size_t)nSize, "%s (%d)", szText, nCode) >= nSize)
    snprintf(pszBuffer, (size_t)nSize, "Errno = %d", nCode);
  return pszBuffer;
}

void printError(const char *pszFormat, ...) {
  // The pending code first, before any output call can disturb it.
  char szSystem[SYSTEM_TEXT_SIZE];
  char *pszSystem = getSystemErrorText(szSystem, sizeof(szSystem));

  char szLine[MESSAGE_SIZE];
  int n = 0;
  if (pszSystem != NULL)
    n = formatText(szLine, REPORT_LINE_SIZE, TEXT_SYSTEM_ERROR "%s" TEXT_USER_MESSAGE,
                   pszSystem);

  va_list args;
  va_start(args, pszFormat);
  n += formatTextV(szLine + n, REPORT_LINE_SIZE - n, pszFormat, args);
  va_end(args);
  szLine[n++] = '\n';
  consoleWrite(szLine, n);
}
