// SPDX-License-Identifier: Apache-2.0
// Fuzzes zvfleet's reading of a child's log, which holds whatever the
// child printed: the input is the log, read in two parts.  The pages sent
// never exceed the plan, and every attempt ends with one of the results.
#include <string.h>

#include "fuzz/fuzz_support.h"
#include "tools/zvfleet/file_plan.h"
#include "tools/zvfleet/fleet.h"
#include "tools/zvfleet/tool_output.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pb, size_t n) {
  static bool s_bEntered = (enterScratchDir(), true);
  (void)s_bEntered;
  Transcript transcript;
  fakeBegin(FakeRun(), &transcript);
  static FleetDevice s_dev;
  memset(&s_dev, 0, sizeof(s_dev));
  strcpy(s_dev.szLog, "device.log");
  s_dev.plan.nIdataPages = 112;
  s_dev.plan.nEndPage = 96;
  size_t nHalf = n / 2;
  writeFile("device.log", Bytes(pb, pb + nHalf));
  beginToolOutput(&s_dev, 0);
  readToolOutput(&s_dev, 0);
  writeFile("device.log", Bytes(pb, pb + n));
  readToolOutput(&s_dev, 1);
  FUZZ_CHECK(pagesSent(&s_dev) >= 0 && pagesSent(&s_dev) <= planPages(&s_dev.plan));
  int nResult = attemptResult(&s_dev, n > 0 ? pb[0] : 1);
  FUZZ_CHECK(nResult >= RESULT_UPDATED && nResult <= RESULT_FAILED);
  FUZZ_CHECK(memchr(s_dev.szLastLine, 0, sizeof(s_dev.szLastLine)) != nullptr);
  return 0;
}
