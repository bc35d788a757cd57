// SPDX-License-Identifier: Apache-2.0
// The report on an Intel HEX image (see hex_report.h): the reading pass
// (hex_pass.cc), then the findings (hex_findings.cc, hex_idata_report.cc).
#include "tools/zvinspect/hex_report.h"

#include <string.h>

#include "image/hex_loader.h"
#include "image/image_store.h"
#include "tools/zvinspect/hex_findings.h"
#include "tools/zvinspect/hex_pass.h"
#include "tools/zvinspect/report.h"

static HexPass s_pass;

int inspectHexFile(const char *pszPath, int bReport, HexSummary *pSummary) {
  memset(pSummary, 0, sizeof(*pSummary));
  memset(&s_pass, 0, sizeof(s_pass));
  if (bReport) memset(g_abHexSet, 0, sizeof(g_abHexSet));
  HexPass *pPass = &s_pass;
  pPass->bReport = bReport;
  pPass->pSummary = pSummary;
  clearHexStore();
  if (!runHexPass(pszPath, pPass)) return 0;
  sealIdataBlock(g_abIdata);
  pSummary->bBuildable = pSummary->ulRefusedLine == 0 && nMinHexAddress < nMaxHexAddress;
  if (!bReport) return 1;

  reportFact(FACT_INFO, "lines", "%u, %u of them blank", pPass->ulLine, pPass->ulBlank);
  reportValue("lines", pPass->ulLine);
  reportHexSummary(pPass, pSummary);
  reportHexLines(pPass);
  return 1;
}
