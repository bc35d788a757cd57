// SPDX-License-Identifier: Apache-2.0
// The companions' side of the console, the same on every system: their
// errors go to standard error whole and flushed, and they ask whether a
// write of standard output has failed (console_write.cc notes it).
#include "platform/platform_internal.h"

void platErrorWrite(const char *pText, int nLength) { platWriteWhole(stderr, pText, nLength); }

int platConsoleFailed(void) { return g_bPlatConsoleFailed; }
