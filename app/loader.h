// SPDX-License-Identifier: Apache-2.0
// zvloader's run: the command line, then one of three roads: build an
// update file (-K), upload and listen (the default), or listen only (-no).
#ifndef ZV_LOADER_H
#define ZV_LOADER_H

// The whole run; returns the exit status.  The upload road ends from the
// update thread, and the listen-only road only from outside.
int runZvloader(int argc, char **argv);

// Gives every process-wide variable of the tool the value a fresh process
// finds: the settings, the image store, the receive channel.  For a host
// that runs the tool more than once in one process (the tests' stand-in).
// A folder that gains such a variable resets it here through its own
// reset function.
void resetZvloaderState(void);

#endif
