// The command line of zvdevsim: its options, their defaults and checks,
// and the usage text (which also documents the report lines).
#ifndef ZV_DEVSIM_OPTIONS_H
#define ZV_DEVSIM_OPTIONS_H

#include <stdint.h>

#include <vector>

#include "tools/zvdevsim/faults.h"

#define SIM_DEBUG_PORT 9029
#define SIM_MAX_DUMP_PREFIX 200

struct SimOptions {
  const char *pszAddress;        // -a, dotted text
  uint32_t ulAddress;            // its value in network byte order
  uint16_t usPort;               // -p
  uint8_t bModel;                // -m
  const char *pszPassword;       // -P
  const char *pszKey;            // -K, or null
  int bAllEncrypted;             // -EA
  std::vector<SimFault> faults;  // -at, in command-line order
  std::vector<std::vector<uint8_t> > debugMessages;  // -dbg, -dbg-hex
  const char *pszDebugTo;                            // -dbg-to, or null
  uint32_t ulDebugTo;
  uint16_t usDebugPort;       // -dbg-port
  long nDebugStartMs;         // -dbg-start, -1 when not given
  uint32_t ulCommits;         // -c, 0 when not given
  uint32_t ulIdleSeconds;     // -t, 0 for no limit
  const char *pszDumpPrefix;  // -dump, or null
  int bQuiet;                 // -q: only the lines that are not per request
};

// Parses the arguments after the program name.  Returns 1 when they are
// valid, -1 for -h, 0 on an error with its text in pszError.
int simParseOptions(int argc, char **argv, SimOptions *pOptions, char *pszError,
                    int nErrorSize);

extern const char g_szSimUsage[];

#endif
