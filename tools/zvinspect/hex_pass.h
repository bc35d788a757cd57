// SPDX-License-Identifier: Apache-2.0
// The pass of zvinspect's HEX report that reads a file line by line
// through the tool's own verdict (image/hex_verdict.h), which judges and
// stores each record, and notes on the way what the loader does not look
// at or lets pass: the lines it lists, and which line set each address;
// and the summary of a file that the report and a check against it read.
#ifndef ZV_INSPECT_HEX_PASS_H
#define ZV_INSPECT_HEX_PASS_H

#include <stdint.h>

#include "image/hex_verdict.h"
#include "image/image_store.h"

#define REFUSAL_SIZE 120

struct HexSummary {
  int bBuildable;                 // zvloader reads it and finds code
  uint32_t ulRefusedLine;         // the line where the loader stops, or 0
  char szRefusal[REFUSAL_SIZE];   // why it refuses the file
};

// The line of the last HEX file inspected that last set the byte at the
// device address; 0 when none did.  After a pass that marked no address,
// a file that can be read again is read again, storing nothing: it must
// still be open.
uint32_t hexLineOf(uint32_t ulAddress);

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
  HexVerdict verdict;  // the tool's
  uint32_t ulEndLine;  // an end record not yet followed by another line
  uint32_t aulKindCount[KIND_COUNT];
  HexSummary *pSummary;
  int nEntries;
  Entry aEntries[KIND_COUNT * LIST_CAP];
};

// Which device addresses a record of the last file reported set (by a
// pass with pPass->bReport): the code window, then the idata block.
extern uint8_t g_abHexSet[CODE_WINDOW_END + IDATA_SIZE];

// Judges the lines of the reader (started) as the loader does, going on
// past what the loader refuses, with the store holding what it loads; the
// findings go into *pPass (listed, and the addresses set marked, only when
// pPass->bReport).
void runHexPass(HexLineReader *pReader, HexPass *pPass);

#endif
