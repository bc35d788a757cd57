// SPDX-License-Identifier: Apache-2.0
// zvinspect's report: the facts gathered about the input, each with its
// level, a line of text and the numbers a script needs; printed at the end
// as one line per fact (findings marked, coloured on a terminal) or as
// JSON with the same facts.
#ifndef ZV_INSPECT_REPORT_H
#define ZV_INSPECT_REPORT_H

#include <stdint.h>

#include "base/console.h"

// The longest text a fact keeps (a longer one is left out, never cut):
// room for any path a system opens, with its words around it.
#define REPORT_TEXT_MAX 16384

enum FactLevel {
  FACT_INFO,     // what the input holds
  FACT_OK,       // a check that holds
  FACT_NOTE,     // worth knowing before an upload, but not wrong
  FACT_FINDING,  // something wrong: the exit status becomes 1
  FACT_FAILED    // what the run could not do (read the source, write the
                 // extraction): no finding; the exit status is 2
};

// Starts a report on the input (its path) of the kind named.
void reportStart(const char *pszInput, const char *pszKind);

// Adds a fact: its name (a word or two) and its text.
void reportFact(int nLevel, const char *pszName, const char *pszFormat, ...)
    ZV_PRINTF(3, 4);

// Adds a number to the last fact (shown in JSON only; the text says it).
void reportValue(const char *pszName, uint32_t ulValue);

// The last fact says what the run could not do: it becomes FACT_FAILED,
// and the verdict line begins with pszVerdict ("the extraction failed").
void reportFailed(const char *pszVerdict);

int reportFindings(void);

// "s" for a count other than 1, to write "1 byte" and "2 bytes".
const char *pluralS(uint32_t ulCount);

// Prints the report, as JSON or as lines (with colour when bColour).
void reportPrint(int bJson, int bColour);

// Prints "zvinspect: INPUT: WHAT" for an input that gets no report, its
// name escaped as in the report.
void reportProblem(const char *pszInput, const char *pszWhat);

#endif
