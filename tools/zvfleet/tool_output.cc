// SPDX-License-Identifier: Apache-2.0
// Classifying the tool's lines (see tool_output.h).
#include "tools/zvfleet/tool_output.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "base/tool_texts.h"
#include "net/upload_plan.h"
#include "tools/common/decimal.h"

// What a line of the tool is.
enum LineKind {
  LINE_OTHER,
  LINE_PAGES,         // TEXT_PAGES_FORMAT, before every send
  LINE_MODEL_QUERY,   // the model query is sent
  LINE_CLEARING,      // the last data packet was acknowledged; the clearing goes out
  LINE_TRANSFERED,    // the commit was accepted
  LINE_TIMEOUT,       // fifteen silent waits: the request goes out again
  LINE_RECEIVE_ERROR,
  LINE_REPLY,         // a reply of the device's that the tool did not take
  LINE_REFUSAL,       // the device refused the update
  LINE_BIND_REPORT,   // the tool cannot bind the debug port
  LINE_ERROR_REPORT,  // a system error report (that of a failed bind among them)
  LINE_DEBUG,         // a debug message that the tool itself printed
  LINE_MODEL          // a preflight's child: the model the device named
};

// Every line of the tool that is told apart, in one table.  bStart: the
// line begins so.  nResult: the result of a refusal.
static const struct {
  const char *pszText;
  bool bStart;
  int nKind;
  int nResult;
} s_aLines[] = {
    {TEXT_PAGES_START, true, LINE_PAGES, RESULT_NONE},
    {TEXT_GETTING_MODEL, false, LINE_MODEL_QUERY, RESULT_NONE},
    {TEXT_FINISHING, false, LINE_CLEARING, RESULT_NONE},
    {TEXT_TRANSFERED, false, LINE_TRANSFERED, RESULT_NONE},
    {TEXT_RECV_TIMEOUT, false, LINE_TIMEOUT, RESULT_NONE},
    {TEXT_RECEIVE_ERROR, false, LINE_RECEIVE_ERROR, RESULT_NONE},
    {TEXT_WRONG_PASSWORD, false, LINE_REFUSAL, RESULT_WRONG_PASSWORD},
    {TEXT_WRONG_MODEL_FILE, false, LINE_REFUSAL, RESULT_WRONG_MODEL},
    {TEXT_BAD_CRC, false, LINE_REFUSAL, RESULT_BAD_CRC},
    {TEXT_BAD_VERSION, false, LINE_REFUSAL, RESULT_BAD_VERSION},
    {TEXT_UNKNOWN_MODEL, false, LINE_REPLY, RESULT_NONE},
    {TEXT_WRONG_LENGTH_START, true, LINE_REPLY, RESULT_NONE},
    {TEXT_NACK_FROM_PACKET, true, LINE_REPLY, RESULT_NONE},
    {TEXT_WRONG_ACK_START, true, LINE_REPLY, RESULT_NONE},
    {TEXT_WRONG_COMMAND_START, true, LINE_REPLY, RESULT_NONE},
    {TEXT_DEBUG_PORT_START, true, LINE_BIND_REPORT, RESULT_NONE},
    {TEXT_BIND, false, LINE_BIND_REPORT, RESULT_NONE},
    {TEXT_SYSTEM_ERROR, true, LINE_ERROR_REPORT, RESULT_NONE},
    {TEXT_DEBUG_LINE_START, true, LINE_DEBUG, RESULT_NONE},
    {TEXT_DEVICE_MODEL_START, true, LINE_MODEL, RESULT_NONE},
};

#define BIND_ERROR_END TEXT_USER_MESSAGE TEXT_BIND

static bool startsWith(const char *pszLine, const char *pszStart) {
  return strncmp(pszLine, pszStart, strlen(pszStart)) == 0;
}

// The table's entry for the line, or -1.
static int lineEntry(const char *pszLine) {
  for (int i = 0; i < (int)(sizeof(s_aLines) / sizeof(s_aLines[0])); i++)
    if (s_aLines[i].bStart ? startsWith(pszLine, s_aLines[i].pszText)
                           : strcmp(pszLine, s_aLines[i].pszText) == 0)
      return i;
  return -1;
}

const char *phaseName(int nPhase) {
  static const char *const apszNames[] = {"starting", "model query", "idata",
                                          "image",    "clearing",    "commit"};
  return nPhase >= 0 && nPhase <= PHASE_COMMIT ? apszNames[nPhase] : "?";
}

int pagesSent(const ToolOutput *pOut) { return pOut->nIdataSent + pOut->nImageSent; }

void beginToolOutput(ToolOutput *pOut) {
  memset(pOut, 0, sizeof(*pOut));
  pOut->nPhase = PHASE_STARTING;
  pOut->nLastFirst = pOut->nLastLast = -1;
  pOut->nRefusal = RESULT_NONE;
  pOut->nModel = -1;
}

// The pages of the page line (TEXT_PAGES_FORMAT), each 0 to 65535 and A
// not above B.  False for a line that does not read so.
static bool readPageRange(const char *pszLine, int *pnFirst, int *pnLast) {
  static const char szStart[] = TEXT_PAGES_START, szTo[] = TEXT_PAGES_TO;
  const char *pszFirst = pszLine + sizeof(szStart) - 1;
  const char *pszTo = strstr(pszFirst, szTo);
  if (pszTo == NULL) return false;
  uint32_t ulFirst, ulLast;
  if (!readDecimalSpan(pszFirst, (int)(pszTo - pszFirst), 0xFFFF, &ulFirst) ||
      !readDecimal(pszTo + sizeof(szTo) - 1, 0xFFFF, &ulLast) || ulLast < ulFirst)
    return false;
  *pnFirst = (int)ulFirst;
  *pnLast = (int)ulLast;
  return true;
}

// The device acknowledged a request: it answered, and the upload moved on.
static int acknowledged(ToolOutput *pOut) {
  pOut->nAcknowledged++;
  pOut->bAnswered = true;
  return TOOL_SAW_PROGRESS;
}

// A request goes out again.  From the transfer's last data packet on, the
// commit's acceptance may then be the answer to an earlier request: the
// first such resend is told.
static int resent(ToolOutput *pOut) {
  if (!pOut->bAtEnd || pOut->bDoubt) return 0;
  pOut->bDoubt = true;
  return TOOL_SAW_DOUBT;
}

// A request line for the pages nFirst to nLast.  The device acknowledged
// the request before it when this is a new one (the tool sends the next
// request only then); the same pages again are a resend.
static int takePages(ToolOutput *pOut, const FilePlan *pPlan, int nFirst, int nLast) {
  int nSaw = 0;
  if (nFirst == pOut->nLastFirst && nLast == pOut->nLastLast)
    nSaw |= resent(pOut);
  else if (pOut->nLastFirst >= 0 || pOut->bQueried)
    nSaw |= acknowledged(pOut);
  pOut->nLastFirst = nFirst;
  pOut->nLastLast = nLast;
  pOut->bNoReply = false;
  int nPhase = pOut->nPhase;
  if (pPlan->nIdataPages > 0 && nPhase <= PHASE_IDATA && nFirst >= IDATA_FIRST_PAGE &&
      nLast < IDATA_END_PAGE) {
    pOut->nPhase = PHASE_IDATA;
    int nSent = nLast - IDATA_FIRST_PAGE + 1;
    if (nSent > pOut->nIdataSent) pOut->nIdataSent = nSent;
    if (nLast == IDATA_END_PAGE - 1) pOut->bAtEnd = true;
  } else {
    if (nPhase == PHASE_IDATA) {  // the idata commit was accepted
      pOut->bIdataCommitted = true;
      pOut->bAtEnd = false;
    }
    pOut->nPhase = PHASE_IMAGE;
    int nSent = std::min(nLast - pPlan->nFirstPage + 1, pPlan->nEndPage - pPlan->nFirstPage);
    if (nSent > pOut->nImageSent) pOut->nImageSent = nSent;
    if (nLast >= pPlan->nEndPage - 1) pOut->bAtEnd = true;
    // A logo or HTML upload commits after its last page; a main image
    // clears old idata first, which the tool announces.
    if (pPlan->nIdataPages == 0 && pOut->bAtEnd) pOut->nPhase = PHASE_COMMIT;
  }
  if (pOut->nPhase != nPhase) nSaw |= TOOL_SAW_PHASE;
  return nSaw;
}

// One line that is the tool's own, not empty.
static int takeOneLine(ToolOutput *pOut, const FilePlan *pPlan, const char *pszLine) {
  int nEntry = lineEntry(pszLine);
  int nKind = nEntry >= 0 ? s_aLines[nEntry].nKind : LINE_OTHER;
  size_t nLength = strlen(pszLine), nEnd = strlen(BIND_ERROR_END);
  if (nKind == LINE_ERROR_REPORT && nLength >= nEnd &&
      strcmp(pszLine + nLength - nEnd, BIND_ERROR_END) == 0)
    nKind = LINE_BIND_REPORT;
  if (nKind == LINE_DEBUG) return 0;
  if (nKind == LINE_BIND_REPORT) {
    // It is no fault of the device's; the caller marks it once.
    if (pOut->bBindSeen || !startsWith(pszLine, s_aLines[nEntry].pszText)) return 0;
    pOut->bBindSeen = true;
    return TOOL_SAW_BIND_REPORT;
  }
  // Kept for the results: control characters would act on a terminal.
  snprintf(pOut->szLastLine, sizeof(pOut->szLastLine), "%s", pszLine);
  for (char *p = pOut->szLastLine; *p != '\0'; p++)
    if ((unsigned char)*p < 0x20 || *p == 0x7F) *p = '?';
  int nPhase = pOut->nPhase;
  int nSaw = 0;
  switch (nKind) {
    case LINE_PAGES: {
      int nFirst, nLast;
      if (readPageRange(pszLine, &nFirst, &nLast)) return takePages(pOut, pPlan, nFirst, nLast);
      break;
    }
    case LINE_MODEL_QUERY:
      pOut->bQueried = true;
      pOut->nPhase = PHASE_MODEL_QUERY;
      break;
    case LINE_CLEARING:
      nSaw |= acknowledged(pOut);
      pOut->nPhase = PHASE_CLEARING;
      break;
    case LINE_TRANSFERED:
      nSaw |= acknowledged(pOut);
      pOut->bTransfered = true;
      break;
    case LINE_TIMEOUT:
      pOut->bNoReply = true;
      nSaw |= resent(pOut);
      break;
    case LINE_RECEIVE_ERROR:
      pOut->bReceiveError = true;
      break;
    case LINE_ERROR_REPORT:
      pOut->bSystemError = true;
      break;
    case LINE_REFUSAL:
      pOut->nRefusal = s_aLines[nEntry].nResult;
      pOut->bAnswered = true;
      break;
    case LINE_REPLY:
      pOut->bAnswered = true;
      break;
    case LINE_MODEL: {
      uint32_t ulModel = 0;
      if (!readDecimal(pszLine + strlen(TEXT_DEVICE_MODEL_START), 0xFF, &ulModel)) break;
      pOut->nModel = (int)ulModel;
      nSaw |= acknowledged(pOut);
      break;
    }
    default:
      break;
  }
  if (pOut->nPhase != nPhase) nSaw |= TOOL_SAW_PHASE;
  return nSaw;
}

// The tool's two threads write whole messages, but a message without a
// line end (a loader's last words) may be followed on the same line by the
// other thread's report: a line is split where a report starts.
int takeToolLine(ToolOutput *pOut, const FilePlan *pPlan, const char *pszLine) {
  static const char *const apszStarts[] = {TEXT_DEBUG_LINE_START, TEXT_SYSTEM_ERROR,
                                           TEXT_DEBUG_PORT_START};
  if (*pszLine == '\0') return 0;  // an empty line says nothing
  char szLine[FLEET_LINE_SIZE];
  snprintf(szLine, sizeof(szLine), "%s", pszLine);
  int nSaw = 0;
  char *pszPart = szLine;
  for (;;) {
    char *pSplit = NULL;
    for (const char *pszStart : apszStarts) {
      char *pFound = strstr(pszPart + 1, pszStart);
      if (pFound != NULL && (pSplit == NULL || pFound < pSplit)) pSplit = pFound;
    }
    if (pSplit == NULL) return nSaw | takeOneLine(pOut, pPlan, pszPart);
    char cSaved = *pSplit;
    *pSplit = '\0';
    nSaw |= takeOneLine(pOut, pPlan, pszPart);
    *pSplit = cSaved;
    pszPart = pSplit;
  }
}

int attemptResult(const ToolOutput *pOut, int nStatus) {
  if (g_fleet.bPreflight) {
    // The child's status 1 is the tool's: the upload would have gone on.
    if (pOut->nRefusal != RESULT_NONE) return pOut->nRefusal;
    if (nStatus == 1 && pOut->bAnswered) return RESULT_READY;
    // A query that could not be sent got no answer because it failed.
    return pOut->bAnswered || pOut->bSystemError ? RESULT_FAILED : RESULT_NO_ANSWER;
  }
  if (nStatus == 1 && pOut->bTransfered) return pOut->bDoubt ? RESULT_UNCONFIRMED : RESULT_UPDATED;
  if (pOut->nRefusal != RESULT_NONE) return pOut->nRefusal;
  return RESULT_FAILED;
}

int attemptStage(const ToolOutput *pOut, const FilePlan *pPlan) {
  if (pOut->bTransfered) return pOut->bDoubt ? STAGE_UNCONFIRMED : STAGE_NONE;
  if (pOut->nRefusal == RESULT_WRONG_MODEL) return STAGE_MODEL_REFUSED;
  if (pOut->nAcknowledged == 0) return STAGE_NOTHING_SENT;
  if (pPlan->nIdataPages == 0) return STAGE_PAGES;
  if (pOut->nPhase >= PHASE_CLEARING) return STAGE_CLEARED;
  return pOut->bIdataCommitted ? STAGE_IMAGE_PAGES : STAGE_IDATA_PAGES;
}
