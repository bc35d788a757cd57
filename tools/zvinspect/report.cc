// SPDX-License-Identifier: Apache-2.0
// zvinspect's report (see report.h).  Facts are kept in fixed tables and
// printed in one piece each, so that a report is never mixed with other
// output.
#include "tools/zvinspect/report.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "tools/common/json.h"

#define MAX_FACTS 160
#define MAX_VALUES 6
#define FACT_TEXT_SIZE 200
#define NAME_SIZE 16
#define OUT_SIZE 1200  // one printed fact, escaped

struct Fact {
  int nLevel;
  char szName[NAME_SIZE];
  char szText[FACT_TEXT_SIZE];
  int nValues;
  char aszValueName[MAX_VALUES][NAME_SIZE];
  uint32_t aulValue[MAX_VALUES];
};

static Fact s_aFacts[MAX_FACTS];
static int s_nFacts;
static int s_nFindings;
static int s_nLeftOut;  // facts beyond the table
static char s_szInput[FACT_TEXT_SIZE];
static char s_szKind[NAME_SIZE * 2];

static const char *const s_apszLevel[] = {"info", "ok", "note", "finding"};

void reportStart(const char *pszInput, const char *pszKind) {
  s_nFacts = s_nFindings = s_nLeftOut = 0;
  snprintf(s_szInput, sizeof(s_szInput), "%s", pszInput);
  snprintf(s_szKind, sizeof(s_szKind), "%s", pszKind);
}

void reportFact(int nLevel, const char *pszName, const char *pszFormat, ...) {
  if (nLevel == FACT_FINDING) s_nFindings++;
  if (s_nFacts == MAX_FACTS) {
    s_nLeftOut++;
    return;
  }
  Fact *pFact = &s_aFacts[s_nFacts++];
  pFact->nLevel = nLevel;
  pFact->nValues = 0;
  snprintf(pFact->szName, sizeof(pFact->szName), "%s", pszName);
  va_list args;
  va_start(args, pszFormat);
  vsnprintf(pFact->szText, sizeof(pFact->szText), pszFormat, args);
  va_end(args);
}

void reportValue(const char *pszName, uint32_t ulValue) {
  if (s_nFacts == 0 || s_nLeftOut > 0) return;
  Fact *pFact = &s_aFacts[s_nFacts - 1];
  if (pFact->nValues == MAX_VALUES) return;
  snprintf(pFact->aszValueName[pFact->nValues], NAME_SIZE, "%s", pszName);
  pFact->aulValue[pFact->nValues++] = ulValue;
}

int reportFindings(void) { return s_nFindings; }

const char *pluralS(uint32_t ulCount) { return ulCount == 1 ? "" : "s"; }

// Appends to a buffer of OUT_SIZE, cutting what does not fit.
static void append(char *pszOut, int *pn, const char *pszFormat, ...)
    ZV_PRINTF(3, 4);
static void append(char *pszOut, int *pn, const char *pszFormat, ...) {
  va_list args;
  va_start(args, pszFormat);
  int n = vsnprintf(pszOut + *pn, (size_t)(OUT_SIZE - *pn), pszFormat, args);
  va_end(args);
  if (n > 0) *pn = *pn + n < OUT_SIZE ? *pn + n : OUT_SIZE - 1;
}

// A JSON string, appended as far as it fits.
static void appendJsonText(char *pszOut, int *pn, const char *pszText) {
  *pn += jsonString(pszText, pszOut + *pn, OUT_SIZE - *pn);
}

static void printJson(void) {
  char szOut[OUT_SIZE];
  int n = 0;
  append(szOut, &n, "{\n  \"input\": ");
  appendJsonText(szOut, &n, s_szInput);
  append(szOut, &n, ",\n  \"kind\": ");
  appendJsonText(szOut, &n, s_szKind);
  append(szOut, &n, ",\n  \"facts\": [\n");
  consoleWrite(szOut, n);
  for (int i = 0; i < s_nFacts; i++) {
    const Fact *pFact = &s_aFacts[i];
    n = 0;
    append(szOut, &n, "    {\"name\": ");
    appendJsonText(szOut, &n, pFact->szName);
    append(szOut, &n, ", \"level\": \"%s\", \"text\": ", s_apszLevel[pFact->nLevel]);
    appendJsonText(szOut, &n, pFact->szText);
    for (int v = 0; v < pFact->nValues; v++) {
      append(szOut, &n, ", ");
      appendJsonText(szOut, &n, pFact->aszValueName[v]);
      append(szOut, &n, ": %lu", (unsigned long)pFact->aulValue[v]);
    }
    append(szOut, &n, "}%s\n", i + 1 < s_nFacts ? "," : "");
    consoleWrite(szOut, n);
  }
  consolePrintf("  ],\n  \"findings\": %d,\n  \"facts_left_out\": %d\n}\n",
                s_nFindings, s_nLeftOut);
}

#define COLOUR_FINDING "\x1b[1;31m"
#define COLOUR_NOTE "\x1b[33m"
#define COLOUR_OK "\x1b[32m"
#define COLOUR_END "\x1b[0m"

static void printLines(int bColour) {
  char szOut[OUT_SIZE];
  int n = 0;
  append(szOut, &n, "%s: %s\n", s_szInput, s_szKind);
  consoleWrite(szOut, n);
  for (int i = 0; i < s_nFacts; i++) {
    const Fact *pFact = &s_aFacts[i];
    static const char *const apszMark[] = {"  ", "  ", " *", "!!"};
    static const char *const apszColour[] = {"", "", COLOUR_NOTE, COLOUR_FINDING};
    const char *pszColour = bColour ? apszColour[pFact->nLevel] : "";
    n = 0;
    append(szOut, &n, "%s%s %-10s %s%s\n", pszColour, apszMark[pFact->nLevel],
           pFact->szName, pFact->szText, *pszColour != '\0' ? COLOUR_END : "");
    consoleWrite(szOut, n);
  }
  if (s_nLeftOut > 0) consolePrintf("   (%d more facts left out)\n", s_nLeftOut);
  const char *pszColour = !bColour ? "" : s_nFindings > 0 ? COLOUR_FINDING : COLOUR_OK;
  if (s_nFindings == 0)
    consolePrintf("%sverdict: nothing wrong%s\n", pszColour, bColour ? COLOUR_END : "");
  else
    consolePrintf("%sverdict: %d finding%s%s\n", pszColour, s_nFindings,
                  s_nFindings == 1 ? "" : "s", bColour ? COLOUR_END : "");
}

void reportPrint(int bJson, int bColour) {
  if (bJson)
    printJson();
  else
    printLines(bColour);
}
