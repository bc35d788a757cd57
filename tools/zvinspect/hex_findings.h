// SPDX-License-Identifier: Apache-2.0
// The findings of zvinspect's HEX report, from what its reading pass
// gathered: the record counts, the loader's verdict, the code extent with
// its gaps, what a build would make, the idata block, and the lines listed
// by kind.
#ifndef ZV_INSPECT_HEX_FINDINGS_H
#define ZV_INSPECT_HEX_FINDINGS_H

#include "tools/zvinspect/hex_pass.h"

// Records, verdict, code and gaps, build, idata (the store holds the load).
void reportHexSummary(const HexPass *pPass, const HexSummary *pSummary);

// The lines the pass listed, by kind, and how many more of each.
void reportHexLines(const HexPass *pPass);

// The idata block: what the records set and the CRC a build writes.
void reportHexIdata(void);

#endif
