// SPDX-License-Identifier: Apache-2.0
// The operating-system services that only the test suite needs: a child
// process whose output goes to a file, for the whole-program tests that
// start the tool and the device simulator.  Only tests/ includes this
// header; the platform sources implement it beside the rest.
#ifndef ZV_PLATFORM_TESTING_H
#define ZV_PLATFORM_TESTING_H

#include "platform/platform_companions.h"

// Starts the child as platStartChildPiped does, but its standard output and
// standard error are appended to the file pszOutput, created when missing
// (null: they stay the caller's).  Returns 1 with the child in *pChild, 0
// when it cannot be started or its output file cannot be made.
int platStartChild(const char *const *ppszArgv, const char *pszDir,
                   const char *pszOutput, PlatChild *pChild);

#endif
