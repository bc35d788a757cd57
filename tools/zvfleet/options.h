// SPDX-License-Identifier: Apache-2.0
// zvfleet's command line: the options of a run and the help text.
#ifndef ZV_FLEET_OPTIONS_H
#define ZV_FLEET_OPTIONS_H

#include "tools/common/option_table.h"

// Reads the arguments after the program name into g_fleet.  Returns CLI_RUN
// when the run is to go on, else the exit status (after the help, the
// version or the message of a wrong command line).
int parseFleetOptions(int argc, char **argv);

// Checks every file that the run will write (--report, the room beside
// it, --html) by the companions' rule (tools/common/output_path.h) against
// every file it reads (the list, zvloader, --resume, the update files) and
// against each other, once the list is read and before anything is taken
// or sent.  False after a message.
bool checkFleetOutputs(void);

// The command line's table.
extern const CliProgram g_fleetCommandLine;

#endif
