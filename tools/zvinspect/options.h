// SPDX-License-Identifier: Apache-2.0
// zvinspect's command line: the input, the key and model to check it with,
// the source to compare it against, where to extract it, and the output
// form.
#ifndef ZV_INSPECT_OPTIONS_H
#define ZV_INSPECT_OPTIONS_H

#include <stdint.h>

#include "tools/common/option_table.h"

struct InspectOptions {
  const char *pszInput;    // the file to inspect, as named ("-": standard input)
  bool bKey;               // -K given
  uint8_t abKey[16];       // its text, zero-filled; the first 8 bytes count
  int nModel;              // -M, -1 when not given
  const char *pszAgainst;  // --against, or null
  const char *pszExtract;  // --extract, or null
  bool bJson;              // --json
};

// Reads the arguments after the program name.  Returns CLI_RUN when the
// program is to run, else the exit status (after the help, the version or
// the message of a wrong command line).
int parseInspectOptions(int argc, char **argv, InspectOptions *pOptions);

// The command line's table.
extern const CliProgram g_inspectCommandLine;

#endif
