// SPDX-License-Identifier: Apache-2.0
// zvloader's run: the command line, then one of three roads: build an
// update file (-K), upload and listen (the default), or listen only (-no).
#ifndef ZV_LOADER_H
#define ZV_LOADER_H

// The whole run; returns the exit status.  The upload road ends from the
// update thread, and the listen-only road only from outside.
int runZvloader(int argc, char **argv);

#endif
