// SPDX-License-Identifier: Apache-2.0
// zvfleet's whole run, from its command line to its exit status: what the
// program's main calls, and what the in-process tests call.
#ifndef ZV_FLEET_RUN_H
#define ZV_FLEET_RUN_H

// Runs zvfleet with the program's arguments; returns its exit status.
int runZvfleet(int argc, char **argv);

#endif
