// SPDX-License-Identifier: Apache-2.0
// Fuzzes zvinspect: the input from its second byte on is the file to inspect; the first byte's bits
// add the key (bit 0), the comparison with a source, the input itself (bit 1), an extraction (bit
// 2) and JSON (bit 3).  Whatever the bytes, the run ends with status 0, 1 or 2; and the report's
// verdict on a HEX file is the loader's: refused exactly when readHexFile refuses it.
#include "fuzz/fuzz_support.h"
#include "image/hex_loader.h"
#include "tools/zvinspect/hex_report.h"
#include "tools/zvinspect/inspect.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pb, size_t n) {
  static bool s_bEntered = (enterScratchDir(), true);
  (void)s_bEntered;
  if (n == 0) return 0;
  writeFile("in.bin", Bytes(pb + 1, pb + n));
  std::vector<std::string> args = {"zvinspect", "in.bin"};
  if (pb[0] & 1) args.insert(args.end(), {"-K", "key"});
  if (pb[0] & 2) args.insert(args.end(), {"--against", "in.bin"});
  if (pb[0] & 4) args.insert(args.end(), {"--extract", "out.bin"});
  if (pb[0] & 8) args.push_back("--json");
  std::vector<char *> argv;
  for (std::string &arg : args) argv.push_back(&arg[0]);
  argv.push_back(nullptr);
  Transcript transcript;
  fakeBegin(FakeRun(), &transcript);
  int nStatus = runZvinspect((int)args.size(), argv.data());
  FUZZ_CHECK(nStatus >= 0 && nStatus <= 2);

  int bLoads = readHexFile("in.bin");
  HexSummary summary;
  inspectHexFile(pb + 1, (uint32_t)(n - 1 < HEX_FILE_LIMIT + 1 ? n - 1 : HEX_FILE_LIMIT + 1), 1,
                 &summary);
  FUZZ_CHECK(bLoads == (summary.ulRefusedLine == 0));
  return 0;
}
