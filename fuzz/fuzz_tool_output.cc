// SPDX-License-Identifier: Apache-2.0
// Fuzzes zvfleet's reading of a child's output, which holds whatever the child printed: the input
// is split into lines as the pipe's reader splits them.  The pages sent never exceed the plan, and
// every attempt ends with one of the results and stages.
#include <string.h>

#include "fuzz/fuzz_support.h"
#include "tools/zvfleet/file_plan.h"
#include "tools/zvfleet/fleet.h"
#include "tools/zvfleet/tool_output.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pb, size_t n) {
  static ToolOutput s_out;
  FilePlan plan;
  memset(&plan, 0, sizeof(plan));
  plan.nIdataPages = 112;
  plan.nEndPage = 96;
  beginToolOutput(&s_out);
  char szLine[FLEET_LINE_SIZE];
  size_t nLine = 0;
  for (size_t i = 0; i <= n; i++) {
    if (i == n || pb[i] == '\n') {
      szLine[nLine] = '\0';
      takeToolLine(&s_out, &plan, szLine);
      nLine = 0;
    } else if (nLine < sizeof(szLine) - 1) {
      szLine[nLine++] = (char)pb[i];
    }
  }
  FUZZ_CHECK(pagesSent(&s_out) >= 0 && pagesSent(&s_out) <= planPages(&plan));
  int nResult = attemptResult(&s_out, n > 0 ? pb[0] : 1);
  FUZZ_CHECK(nResult >= RESULT_UPDATED && nResult <= RESULT_NOT_STARTED);
  int nStage = attemptStage(&s_out, &plan);
  FUZZ_CHECK(nStage >= STAGE_NONE && nStage <= STAGE_UNCONFIRMED);
  FUZZ_CHECK(memchr(s_out.szLastLine, 0, sizeof(s_out.szLastLine)) != nullptr);
  return 0;
}
