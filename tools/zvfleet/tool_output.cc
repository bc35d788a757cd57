// SPDX-License-Identifier: Apache-2.0
// Reading the tool's output from the log (see tool_output.h).
#include "tools/zvfleet/tool_output.h"

#include <stdio.h>
#include <string.h>

#include "app/tool_texts.h"
#include "net/upload_plan.h"
#include "tools/common/decimal.h"
#include "tools/zvfleet/debug_port.h"
#include "tools/zvfleet/device_log.h"
#include "tools/zvfleet/progress.h"

#define DEBUG_PREFIX TEXT_DEBUG_LINE_START
#define BIND_REPORT TEXT_DEBUG_PORT_START
#define ERROR_REPORT TEXT_SYSTEM_ERROR

// The lines that end an upload with a refusal of the device.
static const struct {
  const char *pszLine;
  int nResult;
} s_aRefusals[] = {
    {TEXT_WRONG_PASSWORD, RESULT_WRONG_PASSWORD},
    {TEXT_WRONG_MODEL_FILE, RESULT_WRONG_MODEL},
    {TEXT_BAD_CRC, RESULT_BAD_CRC},
    {TEXT_BAD_VERSION, RESULT_BAD_VERSION},
};

const char *phaseName(int nPhase) {
  static const char *const apszNames[] = {"starting", "model query", "idata",
                                          "image",    "clearing",    "commit"};
  return nPhase >= 0 && nPhase <= PHASE_COMMIT ? apszNames[nPhase] : "?";
}

int pagesSent(const FleetDevice *pDev) { return pDev->nIdataSent + pDev->nImageSent; }

void beginToolOutput(FleetDevice *pDev, long lLogStart) {
  pDev->lLogStart = lLogStart;
  pDev->lRead = pDev->lOwn = pDev->lToolBytes = 0;
  pDev->nPartial = 0;
  pDev->nPhase = PHASE_STARTING;
  pDev->nIdataSent = pDev->nImageSent = 0;
  pDev->bNoReply = pDev->bTransfered = pDev->bReceiveError = 0;
  pDev->bBindMarked = pDev->bStalled = 0;
  pDev->nRefusal = RESULT_NONE;
  pDev->szLastLine[0] = '\0';
}

static int startsWith(const char *pszLine, const char *pszStart) {
  return strncmp(pszLine, pszStart, strlen(pszStart)) == 0;
}

// The report of a child that could not bind the debug port: "bind:"
// through the error report, then the advice line.  It is no fault of the
// device's; where zvfleet holds the port, it is marked as expected.
static int isBindReport(const char *pszLine) {
  static const char szEnd[] = TEXT_USER_MESSAGE TEXT_BIND;
  size_t n = strlen(pszLine), nEnd = sizeof(szEnd) - 1;
  return startsWith(pszLine, BIND_REPORT) || strcmp(pszLine, TEXT_BIND) == 0 ||
         (startsWith(pszLine, ERROR_REPORT) && n >= nEnd && strcmp(pszLine + n - nEnd, szEnd) == 0);
}

// The pages of the page line (TEXT_PAGES_FORMAT), each 0 to 65535 and A
// not above B.  Returns 1, or 0 for any other line.
static int readPageRange(const char *pszLine, int *pnFirst, int *pnLast) {
  static const char szStart[] = TEXT_PAGES_START, szTo[] = TEXT_PAGES_TO;
  if (!startsWith(pszLine, szStart)) return 0;
  const char *pszFirst = pszLine + sizeof(szStart) - 1;
  const char *pszTo = strstr(pszFirst, szTo);
  if (pszTo == NULL) return 0;
  uint32_t ulFirst, ulLast;
  if (!readDecimalSpan(pszFirst, (int)(pszTo - pszFirst), 0xFFFF, &ulFirst) ||
      !readDecimal(pszTo + sizeof(szTo) - 1, 0xFFFF, &ulLast) || ulLast < ulFirst)
    return 0;
  *pnFirst = (int)ulFirst;
  *pnLast = (int)ulLast;
  return 1;
}

// The pages up to nLast have gone out.
static void takePages(FleetDevice *pDev, int nFirst, int nLast) {
  const FilePlan *pPlan = &pDev->plan;
  pDev->bNoReply = 0;
  if (pPlan->nIdataPages > 0 && nFirst >= IDATA_FIRST_PAGE && nLast < IDATA_END_PAGE) {
    pDev->nPhase = PHASE_IDATA;
    if (nLast - IDATA_FIRST_PAGE + 1 > pDev->nIdataSent)
      pDev->nIdataSent = nLast - IDATA_FIRST_PAGE + 1;
    return;
  }
  pDev->nPhase = PHASE_IMAGE;
  int nSent = nLast - pPlan->nFirstPage + 1;
  int nDue = pPlan->nEndPage - pPlan->nFirstPage;
  if (nSent > nDue) nSent = nDue;
  if (nSent > pDev->nImageSent) pDev->nImageSent = nSent;
  // A logo or HTML upload commits after its last page; a main image clears
  // old idata first, which the tool announces.
  if (pPlan->nIdataPages == 0 && pDev->nImageSent == nDue) pDev->nPhase = PHASE_COMMIT;
}

// One line of the tool's own output.
static void takeToolLine(FleetDevice *pDev, const char *pszLine) {
  if (*pszLine == '\0') return;
  if (isBindReport(pszLine)) {
    if (!pDev->bBindMarked && debugPortHeld() && startsWith(pszLine, BIND_REPORT)) {
      pDev->bBindMarked = 1;
      logNote(pDev, "expected: the tool cannot bind the debug port, which zvfleet "
                    "holds; the device's debug messages are filed here");
    }
    return;
  }
  // Kept for the results: control characters would act on a terminal.
  int n = 0;
  for (; pszLine[n] != '\0' && n < (int)sizeof(pDev->szLastLine) - 1; n++)
    pDev->szLastLine[n] = (unsigned char)pszLine[n] < 0x20 || pszLine[n] == 0x7F ? '?' : pszLine[n];
  pDev->szLastLine[n] = '\0';
  int nPhase = pDev->nPhase;
  int nFirst = 0, nLast = 0;
  if (readPageRange(pszLine, &nFirst, &nLast))
    takePages(pDev, nFirst, nLast);
  else if (strcmp(pszLine, TEXT_GETTING_MODEL) == 0)
    pDev->nPhase = PHASE_MODEL_QUERY;
  else if (strcmp(pszLine, TEXT_FINISHING) == 0)
    pDev->nPhase = PHASE_CLEARING;
  else if (strcmp(pszLine, TEXT_TRANSFERED) == 0)
    pDev->bTransfered = 1;
  else if (strcmp(pszLine, TEXT_RECV_TIMEOUT) == 0)
    pDev->bNoReply = 1;
  else if (strcmp(pszLine, TEXT_RECEIVE_ERROR) == 0)
    pDev->bReceiveError = 1;
  for (const auto &refusal : s_aRefusals)
    if (strcmp(pszLine, refusal.pszLine) == 0) pDev->nRefusal = refusal.nResult;
  if (pDev->nPhase != nPhase) progressPhase(pDev);
}

// One line of the log.  zvfleet's own lines are passed over.  The tool's
// two threads write whole messages, but a message without a line end (a
// loader's last words) may be followed on the same line by the other
// thread's report, and zvfleet's lines by a near miss: those are split.
static void takeLine(FleetDevice *pDev, char *pszLine) {
  while (!startsWith(pszLine, DEBUG_PREFIX) && !startsWith(pszLine, FLEET_NOTE)) {
    static const char *const apszStarts[] = {DEBUG_PREFIX, FLEET_NOTE, ERROR_REPORT,
                                             BIND_REPORT};
    char *pSplit = NULL;
    for (const char *pszStart : apszStarts) {
      char *pFound = strstr(pszLine + 1, pszStart);
      if (pFound != NULL && (pSplit == NULL || pFound < pSplit)) pSplit = pFound;
    }
    if (pSplit == NULL) {
      takeToolLine(pDev, pszLine);
      return;
    }
    char cSaved = *pSplit;
    *pSplit = '\0';
    takeToolLine(pDev, pszLine);
    *pSplit = cSaved;
    pszLine = pSplit;
  }
}

static void endLine(FleetDevice *pDev) {
  int n = pDev->nPartial < FLEET_LINE_SIZE ? pDev->nPartial : FLEET_LINE_SIZE - 1;
  if (n > 0 && pDev->szPartial[n - 1] == '\r') n--;  // a Windows line end
  pDev->szPartial[n] = '\0';
  pDev->nPartial = 0;
  takeLine(pDev, pDev->szPartial);
}

int readToolOutput(FleetDevice *pDev, int bFinal) {
  FILE *pFile = fopen(pDev->szLog, "rb");
  if (pFile != NULL && fseek(pFile, pDev->lLogStart + pDev->lRead, SEEK_SET) == 0) {
    char abChunk[4096];
    size_t nRead;
    while ((nRead = fread(abChunk, 1, sizeof(abChunk), pFile)) > 0) {
      for (size_t i = 0; i < nRead; i++) {
        if (abChunk[i] == '\n') {
          endLine(pDev);
        } else {
          // A line longer than the buffer keeps its start.
          if (pDev->nPartial < FLEET_LINE_SIZE - 1) pDev->szPartial[pDev->nPartial] = abChunk[i];
          if (pDev->nPartial < FLEET_LINE_SIZE) pDev->nPartial++;
        }
      }
      pDev->lRead += (long)nRead;
    }
  }
  if (pFile != NULL) fclose(pFile);
  if (bFinal && pDev->nPartial > 0) {
    endLine(pDev);
    logAppend(pDev, "\n", 1);  // the next note starts a line of its own
  }
  long lTool = pDev->lRead - pDev->lOwn;
  if (lTool <= pDev->lToolBytes) return 0;
  pDev->lToolBytes = lTool;
  return 1;
}

int attemptResult(const FleetDevice *pDev, int nStatus) {
  if (pDev->bStalled) return RESULT_NO_ANSWER;
  if (nStatus == 1 && pDev->bTransfered) return RESULT_UPDATED;
  if (pDev->nRefusal != RESULT_NONE) return pDev->nRefusal;
  return RESULT_FAILED;
}
