// SPDX-License-Identifier: Apache-2.0
// The tests' services (platform_testing.h) on Windows: a child whose
// output goes to a file, started as the companions' children are.
#include "platform/platform_internal.h"

int platStartChild(const char *const *ppszArgv, const char *pszDir,
                   const char *pszOutput, PlatChild *pChild) {
  return platStartChildTo(ppszArgv, pszDir, pszOutput, PLAT_NO_OUTPUT, pChild);
}
