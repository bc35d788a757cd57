// SPDX-License-Identifier: Apache-2.0
// The companions' command lines: one scanner over the arguments, with a
// table of the options a program takes.  An option is an argument that
// begins with '-' (but is not "-" alone) and is compared whole with the
// table's names; one that takes a value takes the next argument, whatever
// it holds.  "--" ends the options: everything after it is an operand.
#ifndef ZV_COMMON_OPTION_SCAN_H
#define ZV_COMMON_OPTION_SCAN_H

struct ScanOption {
  const char *pszName;  // e.g. "-j", "--report"
  int bTakesValue;
  int nId;              // above 0; returned when the option is met
};

struct OptionScanner {
  int argc;
  char **argv;  // the arguments after the program's name
  int i;
  int bOptionsEnded;
  const ScanOption *pTable;
  int nTable;
};

// What nextOption meets besides an option of the table.
#define SCAN_END 0        // no argument left
#define SCAN_OPERAND (-1) // an argument that is no option: *ppszArg
#define SCAN_UNKNOWN (-2) // an option that the table does not have: *ppszArg
#define SCAN_NO_VALUE (-3)  // an option that takes a value stands last: *ppszArg

void startOptionScan(OptionScanner *pScan, int argc, char **argv, const ScanOption *pTable,
                     int nTable);

// The next argument: the option's id (with its value in *ppszValue, null
// for one that takes none) or one of the SCAN_ results; *ppszArg is the
// argument itself.
int nextOption(OptionScanner *pScan, const char **ppszArg, const char **ppszValue);

#endif
