// SPDX-License-Identifier: Apache-2.0
// Console output: every message is formatted whole, written to standard
// output in one piece and flushed at once, so that a piped copy survives
// Ctrl+C and lines of the two worker threads never mix.  printError adds
// the system's text for the calling thread's pending error code.
#ifndef ZV_CONSOLE_H
#define ZV_CONSOLE_H

#if defined(__GNUC__)
#define ZV_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define ZV_PRINTF(f, a)
#endif

#include <stdarg.h>

// printf into a buffer of nSize bytes (nSize > 0): a text longer than the
// buffer is cut, and the length that stands there is returned.
int formatText(char *pszBuffer, int nSize, const char *pszFormat, ...) ZV_PRINTF(3, 4);
int formatTextV(char *pszBuffer, int nSize, const char *pszFormat, va_list args);

// printf-style message to standard output, written whole and flushed.
void consolePrintf(const char *pszFormat, ...) ZV_PRINTF(1, 2);

// Writes exactly nLength bytes (which may hold zero bytes) and flushes.
void consoleWrite(const char *pText, int nLength);

// The text of the calling thread's pending error code, "text (code)" or
// "Errno = code", in pszBuffer; null when no code is pending.
char *getSystemErrorText(char *pszBuffer, int nSize);

// One report line: "System Error: <text> User Message: " when a code is
// pending, then the caller's message and a line end.
void printError(const char *pszFormat, ...) ZV_PRINTF(1, 2);

#endif
