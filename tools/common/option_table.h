// SPDX-License-Identifier: Apache-2.0
// The companions' command lines, each named in one table: for every option
// its names, value, kind, range, default and help line.  From the table
// come the scan of the arguments, the checks of numbers and choices, the
// wording of a wrong command line and its exit status, --help, -h and the
// system's own help switch (/? on Windows), --version and -V, and the help
// text.  What an option means stays with its program, in a handler.
//
// An option is an argument that begins with '-' (but is not "-" alone) and
// is compared whole with the table's names; one that takes a value takes
// the next argument, whatever it holds.  "--" ends the options.
#ifndef ZV_COMMON_OPTION_TABLE_H
#define ZV_COMMON_OPTION_TABLE_H

#include <stdint.h>

#include "base/console.h"

// The kinds of option.
enum {
  CLI_FLAG,    // no value
  CLI_TEXT,    // a text whose length lies from ulMin to ulMax (ulMax 0: any length)
  CLI_NUMBER,  // a whole decimal number from ulMin to ulMax
  CLI_CHOICE   // one of the words of pszArg, "table|lines"; its index is its number
};

// What cliParse returns when the program is to run; anything else is the
// exit status to end with at once.
#define CLI_RUN (-1)

// The exit status of a wrong command line, the same in every companion.
#define CLI_USAGE_ERROR 2

struct CliOption {
  int nId;                     // above 0, handed to the program's handler
  const char *pszNames;        // "-j", "--stall" or "-q, --quiet"
  int nKind;                   // CLI_FLAG, _TEXT, _NUMBER or _CHOICE
  const char *pszArg;          // the value's name in the help ("N"), null for a flag
  uint32_t ulMin, ulMax;       // the range (see the kinds)
  const char *pszDefault;      // a value applied before the scan, or null
  const char *pszDefaultText;  // a default in words for the help ("no limit"), or null
  const char *pszTakes;        // what a value the handler refuses should be, or null; for
                               // a number, the unit its refusal names after the range
  const char *pszHelp;         // its help, one sentence or more, without range or default
};

struct CliProgram {
  const char *pszName;       // "zvfleet"
  const char *pszUsage;      // what follows the name: "[options] SITE.csv"
  const char *pszMoreUsage;  // another form of the command line, or null
  const char *pszOperand;    // what its one operand is ("site list"), null for none
  const char *pszAbout;      // the help's text above the options
  const CliOption *pOptions;
  int nOptions;
  const char *pszMore;       // the help's text below the options
  int nOutputFailed;         // the exit status when the help cannot be written
};

// The options every companion takes besides those of its table: -h and
// --help, -V and --version.
extern const CliOption g_aCliStandardOptions[2];

// Called with each option met (and first with every option's pszDefault):
// its id, its value (null for a flag) and, for a number or a choice, its
// number.  Returns true when it takes the value, false when the value is
// wrong.
typedef bool (*CliHandler)(void *pContext, int nId, const char *pszValue, uint32_t ulNumber);

// Scans argv[0..argc) (the arguments after the program's name).  Returns
// CLI_RUN with the operand in *ppszOperand (null when none was given), or,
// having printed the help, the version or what is wrong, the exit status.
int cliParse(const CliProgram *pProgram, int argc, char **argv, CliHandler pfnHandle,
             void *pContext, const char **ppszOperand);

// A wrong command line that the program finds itself: "PROGRAM: TEXT" and
// where the options are listed, on standard error.  Returns
// CLI_USAGE_ERROR.
int cliUsageError(const CliProgram *pProgram, const char *pszFormat, ...) ZV_PRINTF(2, 3);

#endif
