// SPDX-License-Identifier: Apache-2.0
// The command line: options into the process-wide settings, then the
// checks that come before any road is taken.
#ifndef ZV_COMMAND_LINE_H
#define ZV_COMMAND_LINE_H

#include <stdint.h>

#define VERSION_TEXT "V2.2"

#define USAGE_TEXT                                                          \
  "usage: zelvaUnit Loader ZVloader\n"                                      \
  "-IP <IP Address>       Set the ip address of the zelvaUnit that is "     \
  "being updated\n"                                                         \
  "-P <Password>          The Password for the zelvaUnit\n"                 \
  "-v                     Print the version\n"                              \
  "-no                    Listen for debug messages only. No download\n"    \
  "-f <FileName>          The file name to download\n"

// Scans the arguments into the settings, translates the -T letter when
// -NE was given and checks type and model.  Returns true when a road may
// be taken; false after the usage text or a message, and the run then ends
// with status 1.  Sets *pbListenOnly for -no.
bool parseCommandLine(int argc, char **argv, bool *pbListenOnly);

// The model that -M gives: the decimal reading of atoi (white space, sign,
// digits) reduced to the low eight bits, computed without overflow for any
// number of digits.  A program that passes -M on reads it by this.
uint8_t modelValue(const char *pszText);

#endif
