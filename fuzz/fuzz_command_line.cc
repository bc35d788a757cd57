// SPDX-License-Identifier: Apache-2.0
// Fuzzes the command line and the debug listener: the input is cut into pieces (each led by its
// length byte); those before an empty piece are the arguments, those after it the debug datagrams.
// No argument list reads past its end, and every ending is one of the described statuses.
#include <algorithm>

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pb, size_t n) {
  static bool s_bEntered = (enterScratchDir(), true);
  (void)s_bEntered;
  std::vector<std::string> args;
  FakeRun run;
  bool bDatagrams = false;
  for (const Bytes &piece : pieces(pb, n)) {
    if (bDatagrams)
      run.debugDatagrams.push_back(piece);
    else if (piece.empty())
      bDatagrams = true;
    else
      args.emplace_back(piece.begin(), std::find(piece.begin(), piece.end(), 0));
  }
  int nStatus = runLoader(args, run);
  FUZZ_CHECK(nStatus == 0 || nStatus == 1 || nStatus == -1 || nStatus == FAKE_STOPPED);
  return 0;
}
