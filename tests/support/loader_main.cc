// SPDX-License-Identifier: Apache-2.0
// zvloader's main under another name, so that the in-process driver can
// run it like the process would.
#define main zvloaderMain
#include "app/main.cc"
