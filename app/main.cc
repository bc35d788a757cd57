// SPDX-License-Identifier: Apache-2.0
// zvloader: the program is its library's run.
#include "app/loader.h"

int main(int argc, char **argv) { return runZvloader(argc, argv); }
