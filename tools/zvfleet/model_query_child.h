// SPDX-License-Identifier: Apache-2.0
// A preflight's child: the model query of one device alone, by the tool's
// own exchange, its output read by zvfleet as a tool's (see the .cc).
#ifndef ZV_FLEET_MODEL_QUERY_CHILD_H
#define ZV_FLEET_MODEL_QUERY_CHILD_H

// The first argument that makes zvfleet such a child.
#define MODEL_QUERY_SWITCH "--model-query-only"

// argv[0] is MODEL_QUERY_SWITCH, argv[1] the bound of the query's silent
// waits in seconds, then the tool's own options (-IP, -P, -f, ...).
// Returns the exit status.
int runModelQueryChild(int argc, char **argv);

#endif
