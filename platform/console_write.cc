// SPDX-License-Identifier: Apache-2.0
// The console write of the platform layer, the same on every system the
// C runtime's streams serve: a message goes to standard output or standard
// error whole and is flushed at once, and a failed write of standard
// output is noted for the companions to report.  Built into the platform
// library beside platform_posix.cc or platform_win32.cc; the tests'
// stand-in writes into its transcript instead.
#include <stdio.h>

#include <atomic>

#include "platform/platform_companions.h"

static std::atomic<int> s_bConsoleFailed;

// Writes whole and flushed; tells whether all of it went out.
static int writeWhole(FILE *pStream, const char *pText, int nLength) {
  int bOk = nLength <= 0 || fwrite(pText, 1, (size_t)nLength, pStream) == (size_t)nLength;
  return fflush(pStream) == 0 && bOk;
}

void platConsoleWrite(const char *pText, int nLength) {
  if (!writeWhole(stdout, pText, nLength)) s_bConsoleFailed = 1;
}

void platErrorWrite(const char *pText, int nLength) { writeWhole(stderr, pText, nLength); }

int platConsoleFailed(void) { return s_bConsoleFailed; }
