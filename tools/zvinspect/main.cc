// SPDX-License-Identifier: Apache-2.0
// zvinspect: the program is its library's run.
#include "tools/zvinspect/inspect.h"

int main(int argc, char **argv) { return runZvinspect(argc, argv); }
