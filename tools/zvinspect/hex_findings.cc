// SPDX-License-Identifier: Apache-2.0
// The findings of the HEX report (see hex_findings.h): the summary with
// the gaps of the code extent, and the listed lines.
#include "tools/zvinspect/hex_findings.h"

#include <algorithm>

#include "image/crc16.h"
#include "image/image_store.h"
#include "image/update_file.h"
#include "tools/zvinspect/report.h"

// Name and level of each kind of listed line, in the order of LineKind.
static const struct {
  const char *pszName;
  int nLevel;
} s_aKinds[KIND_COUNT] = {
    {"malformed", FACT_FINDING}, {"linear", FACT_FINDING}, {"end", FACT_FINDING},
    {"ignored", FACT_FINDING},   {"type", FACT_FINDING},   {"start code", FACT_FINDING},
    {"checksum", FACT_FINDING},  {"overlap", FACT_FINDING}, {"window", FACT_FINDING},
    {"start addr", FACT_NOTE},   {"linear", FACT_NOTE},
};

// Runs of the code extent that no record set; bytes sent as zeros.
static void reportGaps(void) {
  uint32_t ulGaps = 0, ulBytes = 0;
  // A record that runs past the code window widens the extent beyond it.
  uint32_t ulEnd = std::min(nMaxHexAddress, (uint32_t)CODE_WINDOW_END);
  for (uint32_t a = nMinHexAddress; a < ulEnd;) {
    if (g_abHexSet[a]) {
      a++;
      continue;
    }
    uint32_t ulStart = a;
    while (a < ulEnd && !g_abHexSet[a]) a++;
    if (++ulGaps <= LIST_CAP)
      reportFact(FACT_INFO, "gap", "0x%05X-0x%05X, %u byte%s, sent as zeros", ulStart,
                 a - 1, a - ulStart, pluralS(a - ulStart));
    ulBytes += a - ulStart;
  }
  if (ulGaps > LIST_CAP)
    reportFact(FACT_INFO, "gap", "%u more", ulGaps - LIST_CAP);
  reportFact(FACT_INFO, "gaps", "%u in the code, %u byte%s in all", ulGaps, ulBytes,
             pluralS(ulBytes));
  reportValue("gaps", ulGaps);
  reportValue("bytes", ulBytes);
}

void reportHexSummary(const HexPass *pPass, const HexSummary *pSummary) {
  const uint32_t *pul = pPass->verdict.aulTypeCount;
  reportFact(FACT_INFO, "records",
             "%u data (00), %u end (01), %u segment (02), %u start (03, 05), %u "
             "linear (04), %u of other types", pul[0], pul[1], pul[2], pul[3] + pul[5],
             pul[4], pul[6]);
  reportValue("data", pul[0]);
  reportValue("end", pul[1]);
  reportValue("segment", pul[2]);
  if (pSummary->ulRefusedLine != 0) {
    reportFact(FACT_FINDING, "loader", "zvloader refuses the file at line %u: %s",
               pSummary->ulRefusedLine, pSummary->szRefusal);
    reportValue("line", pSummary->ulRefusedLine);
  } else if (nMinHexAddress >= nMaxHexAddress) {
    reportFact(FACT_FINDING, "loader", "no code below 0x20000: zvloader refuses to "
               "build or send the file");
  } else {
    reportFact(FACT_OK, "loader", "zvloader reads the whole file");
  }
  if (nMinHexAddress < nMaxHexAddress) {
    reportFact(FACT_INFO, "code", "0x%05X-0x%05X, %u byte%s, in %u data record%s",
               nMinHexAddress, nMaxHexAddress - 1, nMaxHexAddress - nMinHexAddress,
               pluralS(nMaxHexAddress - nMinHexAddress), pPass->verdict.ulDataRecords,
               pluralS(pPass->verdict.ulDataRecords));
    reportValue("first", nMinHexAddress);
    reportValue("end", nMaxHexAddress);
    if (nMinHexAddress > 0)
      reportFact(FACT_NOTE, "code", "begins at 0x%05X: a build sends zeros from "
                 "address 0 up to it", nMinHexAddress);
    reportGaps();
  }
  if (pSummary->bBuildable) {
    uint32_t ulPayload = payloadLength(nMaxHexAddress);  // sent from address 0
    uint32_t ulPages = (ulPayload - IMAGE_HEADER_SIZE) / PAGE_SIZE;
    reportFact(FACT_INFO, "build", "a main.enc of %u bytes: %u page%s, image CRC 0x%04X",
               UPDATE_FILE_HEADER_SIZE + ulPayload + IDATA_SIZE, ulPages, pluralS(ulPages),
               calcCrc16(g_abImage, ulPayload - IMAGE_HEADER_SIZE));
  }
  reportHexIdata();
}

void reportHexLines(const HexPass *pPass) {
  for (int i = 0; i < pPass->nEntries; i++) {
    const Entry *pEntry = &pPass->aEntries[i];
    reportFact(s_aKinds[pEntry->nKind].nLevel, s_aKinds[pEntry->nKind].pszName, "%s",
               pEntry->szText);
    reportValue("line", pEntry->ulLine);
  }
  for (int k = 0; k < KIND_COUNT; k++)
    if (pPass->aulKindCount[k] > LIST_CAP)
      reportFact(s_aKinds[k].nLevel, s_aKinds[k].pszName, "%u more line%s like these",
                 pPass->aulKindCount[k] - LIST_CAP, pluralS(pPass->aulKindCount[k] - LIST_CAP));
}
