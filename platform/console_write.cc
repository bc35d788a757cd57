// SPDX-License-Identifier: Apache-2.0
// The console write of the platform layer, the same on every system the
// C runtime's streams serve: a message goes to standard output whole and
// is flushed at once, and a failed write is noted for the companions to
// report (console_companions.cc).  Built into the tool's platform library
// beside platform_posix.cc or platform_win32.cc; the tests' stand-in
// writes into its transcript instead.
#include "platform/platform_internal.h"

std::atomic<int> g_bPlatConsoleFailed;

int platWriteWhole(FILE *pStream, const char *pText, int nLength) {
  int bOk = nLength <= 0 || fwrite(pText, 1, (size_t)nLength, pStream) == (size_t)nLength;
  return fflush(pStream) == 0 && bOk;
}

void platConsoleWrite(const char *pText, int nLength) {
  if (!platWriteWhole(stdout, pText, nLength)) g_bPlatConsoleFailed = 1;
}
