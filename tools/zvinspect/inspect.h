// SPDX-License-Identifier: Apache-2.0
// zvinspect's whole run, which its main calls and the in-process tests
// call too.
#ifndef ZV_INSPECT_INSPECT_H
#define ZV_INSPECT_INSPECT_H

// Returns the exit status: 0 nothing wrong, 1 a finding, 2 the input
// cannot be read or is of no known kind, or the command line is wrong.
int runZvinspect(int argc, char **argv);

#endif
