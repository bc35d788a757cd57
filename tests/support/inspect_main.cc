// SPDX-License-Identifier: Apache-2.0
// zvinspect's main under another name, so that the in-process driver can
// run it like the process would.
#define main zvinspectMain
#include "tools/zvinspect/main.cc"
