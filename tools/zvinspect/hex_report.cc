// SPDX-License-Identifier: Apache-2.0
// The report on an Intel HEX image (see hex_report.h): the reading pass
// (hex_pass.cc), then the findings (hex_findings.cc, hex_idata_report.cc).
#include "tools/zvinspect/hex_report.h"

#include <string.h>

#include "image/image_store.h"
#include "tools/zvinspect/hex_findings.h"
#include "tools/zvinspect/hex_pass.h"
#include "tools/zvinspect/report.h"

static HexPass s_pass;

void inspectHexFile(const uint8_t *pb, uint32_t ulSize, int bReport, HexSummary *pSummary) {
  static HexLineReader s_reader;
  startHexLinesInMemory(&s_reader, pb, ulSize);
  inspectHexLines(&s_reader, bReport, pSummary);
}

void inspectHexLines(HexLineReader *pReader, int bReport, HexSummary *pSummary) {
  memset(pSummary, 0, sizeof(*pSummary));
  HexPass *pPass = &s_pass;
  // The listed lines are written before they are read: only the counts
  // start anew.
  pPass->ulEndLine = 0;
  memset(pPass->aulKindCount, 0, sizeof(pPass->aulKindCount));
  pPass->nEntries = 0;
  pPass->bReport = bReport;
  pPass->pSummary = pSummary;
  runHexPass(pReader, pPass);
  pSummary->bBuildable = pSummary->ulRefusedLine == 0 && nMinHexAddress < nMaxHexAddress;
  if (!bReport) return;

  const HexVerdict *pVerdict = &pPass->verdict;
  reportFact(FACT_INFO, "lines", "%u, %u of them blank", pVerdict->ulLine, pVerdict->ulBlank);
  reportValue("lines", pVerdict->ulLine);
  reportHexSummary(pPass, pSummary);
  reportHexLines(pPass);
}
