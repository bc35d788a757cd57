// SPDX-License-Identifier: Apache-2.0
// How the companions behave as command-line programs: the version that
// every one of them prints, errors on standard error and results on
// standard output, colour only where it is wanted, and an exit status that
// tells when the results could not be written.
#ifndef ZV_COMMON_CLI_H
#define ZV_COMMON_CLI_H

#include "base/console.h"

// "PROGRAM 2.2 (commit C)" and a line end, on standard output.
void printVersion(const char *pszProgram);

// A message on standard error, written whole.
void errorPrintf(const char *pszFormat, ...) ZV_PRINTF(1, 2);

// The calling thread's pending error: returns its code and puts the
// system's text for it into pszText (nSize bytes, at least 1; "" when the
// system has none).
int pendingErrorText(char *pszText, int nSize);

// True when colour and cursor sequences may go to standard output: it is
// a terminal that takes them, NO_COLOR is not set and TERM is not "dumb".
bool colourWanted(void);

// The program's exit status: nStatus, or nFailed when a write of its
// results to standard output failed.
int finalStatus(int nStatus, int nFailed);

#endif
