// SPDX-License-Identifier: Apache-2.0
// The companions' conduct as command-line programs (see cli.h).
#include "tools/common/cli.h"

#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#include "base/console.h"
#include "platform/platform_companions.h"
#include "zv_version.h"

void printVersion(const char *pszProgram) {
  consolePrintf("%s %s (commit %s)\n", pszProgram, ZV_VERSION, ZV_COMMIT);
}

int pendingErrorText(char *pszText, int nSize) {
  int nCode = platPendingError();
  if (platErrorText(nCode, pszText, nSize) == 0) pszText[0] = '\0';
  return nCode;
}

void errorPrintf(const char *pszFormat, ...) {
  char szMessage[2048];
  va_list args;
  va_start(args, pszFormat);
  int n = formatTextV(szMessage, sizeof(szMessage), pszFormat, args);
  va_end(args);
  platErrorWrite(szMessage, n);
}

bool colourWanted(void) {
  const char *pszNoColour = getenv("NO_COLOR");
  const char *pszTerm = getenv("TERM");
  if (pszNoColour != NULL && pszNoColour[0] != '\0') return false;
  if (pszTerm != NULL && strcmp(pszTerm, "dumb") == 0) return false;
  return platIsTerminal();
}

int finalStatus(int nStatus, int nFailed) { return platConsoleFailed() ? nFailed : nStatus; }
