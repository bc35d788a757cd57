// SPDX-License-Identifier: Apache-2.0
// The command line of zvdevsim: its options, their defaults and checks,
// and the help text (which also documents the report lines).
#ifndef ZV_DEVSIM_OPTIONS_H
#define ZV_DEVSIM_OPTIONS_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "tools/common/option_table.h"
#include "tools/zvdevsim/faults.h"

#define SIM_DEBUG_PORT 9029
#define SIM_MAX_DUMP_PREFIX 200
#define SIM_MAX_DEVICES 1024

struct SimOptions {
  const char *pszAddress = NULL;    // -a, dotted text
  uint32_t ulAddress = 0;           // its value in network byte order
  uint32_t ulDevices = 1;           // -n: devices on -a and the addresses after it
  uint16_t usPort = 0;              // -p
  uint8_t bModel = 0;               // -m
  const char *pszPassword = NULL;   // -P
  const char *pszKey = NULL;        // -K, or null
  bool bAllEncrypted = false;       // -EA
  bool bHtmlNotLogo = false;        // -html-not-logo
  std::vector<SimFault> faults;     // -at, in command-line order
  std::vector<std::vector<uint8_t> > debugMessages;  // -dbg, -dbg-hex
  const char *pszDebugTo = NULL;                     // -dbg-to, or null
  uint32_t ulDebugTo = 0;
  uint16_t usDebugPort = 0;           // -dbg-port
  long nDebugStartMs = 0;             // -dbg-start, -1 when not given
  uint32_t ulCommits = 0;             // -c, 0 when not given
  uint32_t ulIdleSeconds = 0;         // -t, 0 for no limit
  uint32_t ulReplyWaitMs = 0;         // -w
  long nAckPage = -1;                 // -ack-page, -1 when not given
  const char *pszDumpPrefix = NULL;   // -dump, or null
  bool bQuiet = false;                // -q: only the lines not per request
};

// Reads the arguments after the program name.  Returns CLI_RUN when the
// simulator is to run, else the exit status (after the help, the version or
// the message of a wrong command line).
int simParseOptions(int argc, char **argv, SimOptions *pOptions);

// The command line's table.
extern const CliProgram g_simCommandLine;

#endif
