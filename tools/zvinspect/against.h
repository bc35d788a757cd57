// SPDX-License-Identifier: Apache-2.0
// The comparison of an update file with its source: whether the file holds
// exactly what zvloader builds from the HEX firmware, the logo or the HTML
// file, and where the first difference lies on the device.
#ifndef ZV_INSPECT_AGAINST_H
#define ZV_INSPECT_AGAINST_H

#include <stdint.h>
#include <stdio.h>

#include "tools/zvinspect/options.h"
#include "tools/zvinspect/report.h"
#include "tools/zvinspect/update_report.h"

// Reads an input of zvinspect whole, once: the file at the path, or
// standard input for "-"; at most nSize bytes.  Returns the number read,
// or -1 when it cannot be opened or read.
long readWholeInput(const char *pszPath, uint8_t *pbBuffer, uint32_t ulSize);

struct SourceLoad {
  long nLength;          // the image length; 0: it cannot be built; -1: it
                         // cannot be read
  char szProblem[REPORT_TEXT_MAX];  // why it cannot be built
  FILE *pHexFile;        // a HEX source, open until closeSource: the line of
                         // a byte that differs is found by reading it again
  int bStandardInput;
};

// Loads the source of an update file of type bType into the image store,
// as zvloader's build would load it.
void loadSource(const char *pszPath, uint8_t bType, SourceLoad *pLoad);

// Closes what loadSource left open.
void closeSource(SourceLoad *pLoad);

// Reports the comparison of the update file with the source loaded.
// Returns 1, or 0 when the source cannot be read.
int compareWithSource(const InspectOptions *pOpt, const UpdateView *pView,
                      const SourceLoad *pLoad);

#endif
