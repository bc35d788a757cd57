// SPDX-License-Identifier: Apache-2.0
// zvfleet: the program is its library's run.
#include "tools/zvfleet/run.h"

int main(int argc, char **argv) { return runZvfleet(argc, argv); }
