// SPDX-License-Identifier: Apache-2.0
// The idata part of the HEX report (see hex_findings.h): the bytes that
// records set in the idata window, in runs, and the block's own CRC.
#include "image/crc16.h"
#include "image/image_store.h"
#include "tools/zvinspect/hex_findings.h"
#include "tools/zvinspect/report.h"

void reportHexIdata(void) {
  uint32_t ulBytes = 0, ulRuns = 0;
  const uint8_t *pbSet = &g_abHexSet[CODE_WINDOW_END];
  for (uint32_t i = IDATA_CRC_START; i < IDATA_SIZE; i++)
    if (pbSet[i]) {
      ulBytes++;
      if (!pbSet[i - 1]) ulRuns++;
    }
  if (ulBytes == 0)
    reportFact(FACT_INFO, "idata", "not used: the block stays zero");
  else
    reportFact(FACT_INFO, "idata", "%u byte%s set in 0x28100-0x2EFFF, in %u run%s",
               ulBytes, pluralS(ulBytes), ulRuns, pluralS(ulRuns));
  reportValue("bytes", ulBytes);
  uint16_t wCrc = idataBlockCrc(g_abIdata);
  reportFact(FACT_INFO, "idata CRC", "0x%04X, which a build writes into the block",
             wCrc);
  reportValue("crc", wCrc);
}
