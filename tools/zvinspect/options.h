// SPDX-License-Identifier: Apache-2.0
// zvinspect's command line: the input, the key and model to check it with,
// the source to compare it against, where to extract it, and the output
// form; and the usage text.
#ifndef ZV_INSPECT_OPTIONS_H
#define ZV_INSPECT_OPTIONS_H

#include <stdint.h>

struct InspectOptions {
  const char *pszInput;    // the file to inspect, as named ("-": standard input)
  int bKey;                // -K given
  uint8_t abKey[16];       // its text, zero-filled; the first 8 bytes count
  int nModel;              // -M, -1 when not given
  const char *pszAgainst;  // --against, or null
  const char *pszExtract;  // --extract, or null
  int bJson;               // --json
};

// Parses the arguments after the program name.  Returns 1 when they are
// valid, -1 for the help, -2 for the version, 0 on an error with its text in pszError.
int parseInspectOptions(int argc, char **argv, InspectOptions *pOptions,
                        char *pszError, int nErrorSize);

// The whole usage text (-h), and its first line alone (a wrong command
// line).
extern const char g_szInspectUsage[];
extern const char g_szInspectSynopsis[];

#endif
