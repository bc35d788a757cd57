// SPDX-License-Identifier: Apache-2.0
// What the platform layer's sources share across its libraries: the tool's
// services (platform_SYSTEM.cc, console_write.cc), the companions'
// (platform_SYSTEM_companions.cc, console_companions.cc) and the tests'
// (platform_SYSTEM_testing.cc) are built apart, so that a program links
// only the services its users need.  Nothing outside platform/ includes
// this header.
#ifndef ZV_PLATFORM_INTERNAL_H
#define ZV_PLATFORM_INTERNAL_H

#include <stdio.h>

#include <atomic>

#include "platform/platform_testing.h"

// console_write.cc: 1 once a write of standard output has failed.
extern std::atomic<int> g_bPlatConsoleFailed;

// console_write.cc: writes the bytes whole and flushes them.  Returns 1
// when all of them went out.
int platWriteWhole(FILE *pStream, const char *pText, int nLength);

// An output that a child writes into: a file descriptor on POSIX, a handle
// on Windows, or none.
typedef uintptr_t PlatOutput;
#define PLAT_NO_OUTPUT (~(PlatOutput)0)

// platform_SYSTEM_companions.cc: starts the child as platStartChildPiped
// says, its standard output and standard error appended to the file
// pszOutput (created when missing), or else written to output, or else
// left as the caller's.
int platStartChildTo(const char *const *ppszArgv, const char *pszDir, const char *pszOutput,
                     PlatOutput output, PlatChild *pChild);

#endif
