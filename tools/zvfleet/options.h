// SPDX-License-Identifier: Apache-2.0
// zvfleet's command line: the options of a run and the usage text.
#ifndef ZV_FLEET_OPTIONS_H
#define ZV_FLEET_OPTIONS_H

// Reads the arguments after the program name into g_fleet.  Returns 1 when
// they are valid, -1 after printing the usage text (-h), 0 after a message.
int parseFleetOptions(int argc, char **argv);

#endif
