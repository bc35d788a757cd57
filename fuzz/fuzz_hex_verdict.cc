// SPDX-License-Identifier: Apache-2.0
// Fuzzes the verdict on an Intel HEX file with the input as the file: the loader reading it from
// disk, the verdict judging it in memory and zvinspect's report on it agree on whether it is
// refused, on which line and why, and on what a load leaves in the image store.  A refused file is
// named a finding by zvinspect, which exits with 1 or 2, never 0; a file the loader takes is one
// that zvinspect reads (never status 2).
#include <string.h>

#include "fuzz/fuzz_support.h"
#include "image/hex_loader.h"
#include "image/image_store.h"
#include "tools/zvinspect/hex_report.h"
#include "tools/zvinspect/inspect.h"

static uint8_t s_abImage[IMAGE_SIZE], s_abIdata[IDATA_SIZE];

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pb, size_t n) {
  static bool s_bEntered = (enterScratchDir(), true);
  (void)s_bEntered;
  if (n > HEX_FILE_LIMIT) return 0;
  writeFile("in.hex", Bytes(pb, pb + n));
  Transcript transcript;
  fakeBegin(FakeRun(), &transcript);
  int bLoads = readHexFile("in.hex");
  uint32_t ulMin = nMinHexAddress, ulMax = nMaxHexAddress;
  memcpy(s_abImage, g_abImage, sizeof(s_abImage));
  memcpy(s_abIdata, g_abIdata, sizeof(s_abIdata));

  static HexLineReader s_reader;
  static HexVerdict s_verdict;
  startHexVerdict(&s_verdict);
  startHexLinesInMemory(&s_reader, pb, (uint32_t)n);
  while (nextHexLine(&s_reader, &s_verdict)) {
  }
  finishHexVerdict(&s_verdict);
  FUZZ_CHECK(bLoads == (s_verdict.nRefusal == HEX_ACCEPTED));
  FUZZ_CHECK(s_verdict.nRefusal != HEX_REFUSED_READ);
  if (bLoads) {
    FUZZ_CHECK(ulMin == nMinHexAddress && ulMax == nMaxHexAddress);
    FUZZ_CHECK(memcmp(s_abImage, g_abImage, sizeof(s_abImage)) == 0);
    FUZZ_CHECK(memcmp(s_abIdata, g_abIdata, sizeof(s_abIdata)) == 0);
    FUZZ_CHECK(s_verdict.bEndSeen && s_verdict.ulRefusedLine == 0);
  } else {
    FUZZ_CHECK(s_verdict.ulRefusedLine >= 1 && s_verdict.ulRefusedLine <= s_verdict.ulLine + 1);
  }

  HexSummary summary;
  inspectHexFile(pb, (uint32_t)n, 0, &summary);
  FUZZ_CHECK(summary.ulRefusedLine == s_verdict.ulRefusedLine);
  FUZZ_CHECK(bLoads == (summary.ulRefusedLine == 0));

  std::vector<std::string> args = {"zvinspect", "in.hex"};
  std::vector<char *> argv;
  for (std::string &arg : args) argv.push_back(&arg[0]);
  argv.push_back(nullptr);
  int nStatus = runZvinspect((int)args.size(), argv.data());
  FUZZ_CHECK(nStatus >= 0 && nStatus <= 2);
  FUZZ_CHECK(bLoads || nStatus != 0 || pb[0] == 0x41);  // 0x41: an update file's magic
  FUZZ_CHECK(!bLoads || nStatus != 2);
  return 0;
}
