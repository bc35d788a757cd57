// SPDX-License-Identifier: Apache-2.0
// The report on an Intel HEX firmware image, read line by line by the
// loader's own rules: records by type, the lines the loader ignores or
// refuses, checksum errors, overlaps, bytes outside the windows, the code
// extent and its gaps, the idata block and the CRC a build would give it.
#ifndef ZV_INSPECT_HEX_REPORT_H
#define ZV_INSPECT_HEX_REPORT_H

#include <stdint.h>

#include "image/hex_verdict.h"
#include "tools/zvinspect/hex_pass.h"

// Loads the file's ulSize bytes at pb into the image store through the
// loader's verdict, going on past what the loader refuses, with every
// finding reported when bReport is set (otherwise only the summary is
// kept).
void inspectHexFile(const uint8_t *pb, uint32_t ulSize, int bReport, HexSummary *pSummary);
// The same for the lines of a reader (started), a file read as it goes.
void inspectHexLines(HexLineReader *pReader, int bReport, HexSummary *pSummary);

#endif
