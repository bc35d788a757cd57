// SPDX-License-Identifier: Apache-2.0
// The process-wide settings of a run.  In the tool, `main` writes them
// while it scans and checks the command line, before any thread starts;
// afterwards only the update file reader replaces the file type and model
// from a file header.  Every other part of the tool only reads them.
// zvfleet runs the tool's libraries in its own process and writes them
// too, on its one thread: its model-query child through the tool's own
// command line, and its file plan (tools/zvfleet/file_plan.cc), which sets
// g_bEncrypted, g_bFileType and g_bModel as the tool would for each file
// it checks.
#ifndef ZV_SETTINGS_H
#define ZV_SETTINGS_H

#include <stdint.h>

#define SETTING_TEXT_SIZE 256  // -IP, -P and -f fields, terminator included
#define SETTING_KEY_SIZE 16    // -K field: raw bytes, no terminator needed

// Written by `main` (-IP); read by the update thread.
extern char g_szIpAddress[SETTING_TEXT_SIZE];
// Written by `main` (-P); read by the transfer (first 16 characters travel).
extern char g_szPassword[SETTING_TEXT_SIZE];
// Written by `main` (-f); read by the builder and the update thread.
extern char g_szFileName[SETTING_TEXT_SIZE];
// Written by `main` (-K); a non-zero first byte asks for a build.  The
// builder takes the first eight bytes as the DES key.
extern uint8_t g_szKey[SETTING_KEY_SIZE];
// Written by `main` (-M), by the update file reader (from the header) and
// by zvfleet's file plan.
extern uint8_t g_bModel;
// Written by `main` (-T, then translated to its file type code when -NE),
// by the update file reader (from the header) and by zvfleet's file plan.
extern uint8_t g_bFileType;
// Written by `main` and by zvfleet's file plan: 1 = the input is an
// encrypted update file, 0 (-NE) = a plain HEX, logo or HTML input.
extern int g_bEncrypted;
// Written by `main`: 1 = only the first 1032 payload bytes are enciphered,
// 0 (-EA) = all of them.
extern uint8_t g_bFirstBlockOnly;
// Fixed ports (no option changes them; tests point them elsewhere).
extern uint16_t g_usDebugPort;   // read by the debug listener
extern uint16_t g_usUpdatePort;  // read by the update thread

// The device address used when -IP is not given.
#define DEFAULT_IP_ADDRESS "192.168.1.100"

// Gives every setting its start-up value; `main` calls it first.
void setDefaultSettings(void);

#endif
