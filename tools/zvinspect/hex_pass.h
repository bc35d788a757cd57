// SPDX-License-Identifier: Apache-2.0
// The pass of zvinspect's HEX report that reads a file line by line and
// stores its records by the loader's own rules, noting on the way what the
// loader does not look at or lets pass: the lines it lists, the counts of
// record types, and which addresses a record set.
#ifndef ZV_INSPECT_HEX_PASS_H
#define ZV_INSPECT_HEX_PASS_H

#include <stdint.h>

#include "image/image_store.h"
#include "tools/zvinspect/hex_report.h"

#define LIST_CAP 10    // lines listed of each kind
#define ENTRY_TEXT 150

// The kinds of line that the report lists.
enum LineKind {
  KIND_MALFORMED, KIND_LINEAR, KIND_END, KIND_IGNORED, KIND_TYPE, KIND_START,
  KIND_CHECKSUM, KIND_OVERLAP, KIND_WINDOW, KIND_START_RECORD, KIND_LINEAR_ZERO,
  KIND_COUNT
};

struct Entry {
  int nKind;
  uint32_t ulLine;
  char szText[ENTRY_TEXT];
};

struct HexPass {
  int bReport;
  uint32_t ulLine;
  uint32_t ulSegmentBase;
  uint32_t ulEndLine;  // an end record not yet followed by another line
  int bEndSeen;        // the file holds an end record
  uint32_t aulKindCount[KIND_COUNT];
  uint32_t aulTypeCount[7];  // types 00 to 05, and the others
  uint32_t ulBlank, ulDataRecords;
  HexSummary *pSummary;
  int nEntries;
  Entry aEntries[KIND_COUNT * LIST_CAP];
};

// Which device addresses a record of the last file set: the code window,
// then the idata block.
extern uint8_t g_abHexSet[CODE_WINDOW_END + IDATA_SIZE];

// Reads the file into the image store as the loader does, going on past
// what the loader refuses; the findings go into *pPass (listed only when
// pPass->bReport).  Returns 0 when the file cannot be read.
int runHexPass(const char *pszPath, HexPass *pPass);

#endif
