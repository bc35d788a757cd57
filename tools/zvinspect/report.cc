// SPDX-License-Identifier: Apache-2.0
// zvinspect's report (see report.h).  Facts are kept in fixed tables and
// printed in one piece each, so that a report is never mixed with other
// output.  No text is cut: a fact is kept whole or counted as left out,
// and the input's name is printed as given, escaped in either form.
#include "tools/zvinspect/report.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "base/console.h"
#include "platform/platform_companions.h"
#include "tools/common/json.h"

#define MAX_FACTS 160
#define MAX_VALUES 6
#define NAME_SIZE 16
// A fact's text is kept whole or not at all: one longer than
// REPORT_TEXT_MAX, or one that no longer fits the pool, is left out (and
// counted), never cut.
#define FACT_TEXT_MAX REPORT_TEXT_MAX
#define TEXT_POOL_SIZE (64 * 1024)
// One printed fact: its text escaped (at most 6 bytes a byte in JSON, 4 in
// the human form), its name and values.
#define OUT_SIZE (JSON_STRING_SIZE(FACT_TEXT_MAX) + 1024)

struct Fact {
  int nLevel;
  char szName[NAME_SIZE];
  const char *pszText;  // in the pool
  int nValues;
  char aszValueName[MAX_VALUES][NAME_SIZE];
  uint32_t aulValue[MAX_VALUES];
};

static Fact s_aFacts[MAX_FACTS];
static int s_nFacts;
static int s_nFindings;
static int s_nLeftOut;       // facts beyond the table or the pool
static int s_bLastLeftOut;   // the last fact added was left out
static int s_nLastLevel;
static const char *s_pszFailed;  // what the run could not do, or null
static char s_acPool[TEXT_POOL_SIZE];
static int s_nPoolUsed;
static const char *s_pszInput;  // the caller's, valid for the run
static const char *s_pszKind;
static char s_acOut[OUT_SIZE];

static const char *const s_apszLevel[] = {"info", "ok", "note", "finding", "failed"};

void reportStart(const char *pszInput, const char *pszKind) {
  s_nFacts = s_nFindings = s_nLeftOut = s_bLastLeftOut = s_nPoolUsed = 0;
  s_pszFailed = NULL;
  s_pszInput = pszInput;
  s_pszKind = pszKind;
}

void reportFact(int nLevel, const char *pszName, const char *pszFormat, ...) {
  if (nLevel == FACT_FINDING) s_nFindings++;
  s_nLastLevel = nLevel;
  va_list args;
  va_start(args, pszFormat);
  char *pszText = s_acPool + s_nPoolUsed;
  int nRoom = TEXT_POOL_SIZE - s_nPoolUsed;
  int n = vsnprintf(pszText, (size_t)nRoom, pszFormat, args);
  va_end(args);
  s_bLastLeftOut = s_nFacts == MAX_FACTS || n < 0 || n >= nRoom || n > FACT_TEXT_MAX;
  if (s_bLastLeftOut) {
    s_nLeftOut++;
    return;
  }
  s_nPoolUsed += n + 1;
  Fact *pFact = &s_aFacts[s_nFacts++];
  pFact->nLevel = nLevel;
  pFact->nValues = 0;
  pFact->pszText = pszText;
  snprintf(pFact->szName, sizeof(pFact->szName), "%s", pszName);
}

void reportValue(const char *pszName, uint32_t ulValue) {
  if (s_nFacts == 0 || s_bLastLeftOut) return;
  Fact *pFact = &s_aFacts[s_nFacts - 1];
  if (pFact->nValues == MAX_VALUES) return;
  snprintf(pFact->aszValueName[pFact->nValues], NAME_SIZE, "%s", pszName);
  pFact->aulValue[pFact->nValues++] = ulValue;
}

void reportFailed(const char *pszVerdict) {
  if (s_nLastLevel == FACT_FINDING) s_nFindings--;
  s_nLastLevel = FACT_FAILED;
  if (s_nFacts > 0 && !s_bLastLeftOut) s_aFacts[s_nFacts - 1].nLevel = FACT_FAILED;
  s_pszFailed = pszVerdict;
}

int reportFindings(void) { return s_nFindings; }

const char *pluralS(uint32_t ulCount) { return ulCount == 1 ? "" : "s"; }

// Appends to a buffer of OUT_SIZE, cutting what does not fit.
static void append(char *pszOut, int *pn, const char *pszFormat, ...)
    ZV_PRINTF(3, 4);
static void append(char *pszOut, int *pn, const char *pszFormat, ...) {
  va_list args;
  va_start(args, pszFormat);
  *pn += formatTextV(pszOut + *pn, OUT_SIZE - *pn, pszFormat, args);
  va_end(args);
}

// A JSON string, appended as far as it fits (the buffer has room for
// every text that a fact keeps).
static void appendJsonText(char *pszOut, int *pn, const char *pszText) {
  *pn += jsonString(pszText, pszOut + *pn, OUT_SIZE - *pn);
}

// A text for the human form: control characters (a line end in a file
// name, say) shown as \xHH, so that no text can start a line of its own or
// move the terminal's cursor.  The runs of other characters between them
// are copied as they stand, as far as they fit.
static void appendPlainText(char *pszOut, int *pn, const char *pszText) {
  const unsigned char *p = (const unsigned char *)pszText;
  for (;;) {
    size_t nRun = 0;
    while (p[nRun] >= 0x20 && p[nRun] != 0x7F) nRun++;
    size_t nRoom = (size_t)(OUT_SIZE - 1 - *pn);
    size_t nCopy = std::min(nRun, nRoom);
    memcpy(pszOut + *pn, p, nCopy);
    *pn += (int)nCopy;
    pszOut[*pn] = '\0';
    p += nRun;
    if (*p == 0) return;
    append(pszOut, pn, "\\x%02X", *p++);
  }
}

static void printJson(void) {
  char *szOut = s_acOut;
  int n = 0;
  append(szOut, &n, "{\n  \"input\": ");
  appendJsonText(szOut, &n, s_pszInput);
  append(szOut, &n, ",\n  \"kind\": ");
  appendJsonText(szOut, &n, s_pszKind);
  append(szOut, &n, ",\n  \"facts\": [\n");
  consoleWrite(szOut, n);
  for (int i = 0; i < s_nFacts; i++) {
    const Fact *pFact = &s_aFacts[i];
    n = 0;
    append(szOut, &n, "    {\"name\": ");
    appendJsonText(szOut, &n, pFact->szName);
    append(szOut, &n, ", \"level\": \"%s\", \"text\": ", s_apszLevel[pFact->nLevel]);
    appendJsonText(szOut, &n, pFact->pszText);
    for (int v = 0; v < pFact->nValues; v++) {
      append(szOut, &n, ", ");
      appendJsonText(szOut, &n, pFact->aszValueName[v]);
      append(szOut, &n, ": %lu", (unsigned long)pFact->aulValue[v]);
    }
    append(szOut, &n, "}%s\n", i + 1 < s_nFacts ? "," : "");
    consoleWrite(szOut, n);
  }
  int bFailed = s_pszFailed != NULL;
  consolePrintf("  ],\n%s%s%s  \"findings\": %d,\n  \"facts_left_out\": %d\n}\n",
                bFailed ? "  \"failed\": \"" : "", bFailed ? s_pszFailed : "",
                bFailed ? "\",\n" : "", s_nFindings, s_nLeftOut);
}

#define COLOUR_FINDING "\x1b[1;31m"
#define COLOUR_NOTE "\x1b[33m"
#define COLOUR_OK "\x1b[32m"
#define COLOUR_END "\x1b[0m"

static void printLines(int bColour) {
  char *szOut = s_acOut;
  int n = 0;
  appendPlainText(szOut, &n, s_pszInput);
  append(szOut, &n, ": %s\n", s_pszKind);
  consoleWrite(szOut, n);
  for (int i = 0; i < s_nFacts; i++) {
    const Fact *pFact = &s_aFacts[i];
    static const char *const apszMark[] = {"  ", "  ", " *", "!!", "!!"};
    static const char *const apszColour[] = {"", "", COLOUR_NOTE, COLOUR_FINDING,
                                             COLOUR_FINDING};
    const char *pszColour = bColour ? apszColour[pFact->nLevel] : "";
    n = 0;
    append(szOut, &n, "%s%s %-10s ", pszColour, apszMark[pFact->nLevel], pFact->szName);
    appendPlainText(szOut, &n, pFact->pszText);
    append(szOut, &n, "%s\n", *pszColour != '\0' ? COLOUR_END : "");
    consoleWrite(szOut, n);
  }
  if (s_nLeftOut > 0) consolePrintf("   (%d more facts left out)\n", s_nLeftOut);
  int bBad = s_nFindings > 0 || s_pszFailed != NULL;
  const char *pszColour = !bColour ? "" : bBad ? COLOUR_FINDING : COLOUR_OK;
  const char *pszEnd = bColour ? COLOUR_END : "";
  if (s_pszFailed != NULL && s_nFindings == 0)
    consolePrintf("%sverdict: %s; nothing else wrong%s\n", pszColour, s_pszFailed, pszEnd);
  else if (s_pszFailed != NULL)
    consolePrintf("%sverdict: %s, and %d finding%s%s\n", pszColour, s_pszFailed,
                  s_nFindings, pluralS((uint32_t)s_nFindings), pszEnd);
  else if (s_nFindings == 0)
    consolePrintf("%sverdict: nothing wrong%s\n", pszColour, pszEnd);
  else
    consolePrintf("%sverdict: %d finding%s%s\n", pszColour, s_nFindings,
                  pluralS((uint32_t)s_nFindings), pszEnd);
}

void reportProblem(const char *pszInput, const char *pszWhat) {
  int n = 0;
  append(s_acOut, &n, "zvinspect: ");
  appendPlainText(s_acOut, &n, pszInput);
  append(s_acOut, &n, ": %s\n", pszWhat);
  platErrorWrite(s_acOut, n);
}

void reportPrint(int bJson, int bColour) {
  if (bJson)
    printJson();
  else
    printLines(bColour);
}
