// SPDX-License-Identifier: Apache-2.0
// The dry run: the plan of a run over a checked site list, printed
// without a datagram sent, a log folder made or a report written.
#ifndef ZV_FLEET_DRY_RUN_H
#define ZV_FLEET_DRY_RUN_H

// Prints the files (size, SHA-256, pages), the devices in the order they
// would start with the requests and bytes of each upload, the waves, and
// the rules in force.  Returns true, or false after a message when a file
// cannot be read again.
bool printDryRun(void);

#endif
