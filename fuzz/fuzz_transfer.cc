// SPDX-License-Identifier: Apache-2.0
// Fuzzes the transfer with whatever reaches the update socket: the input is cut into datagrams
// (each led by its length byte) that arrive one per wait, during the upload of a small main.enc, or
// of a logo when the input starts with an odd byte.  The run must end the described ways only.
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pb, size_t n) {
  static bool s_bBuilt = [] {
    enterScratchDir();
    writeFile("w.hex", Bytes({':', '0', '1', '0', '0', '0', '0', '0', '0', '0', '7', 'F', '8', '\n'}));
    writeFile("logo.bin", Bytes(10, 'L'));
    return runLoader({"-NE", "-T", "M", "-M", "2", "-K", "fuzzkey", "-f", "w.hex"}) == 1 &&
           runLoader({"-NE", "-T", "L", "-K", "fuzzkey", "-f", "logo.bin"}) == 1;
  }();
  FUZZ_CHECK(s_bBuilt);
  if (n == 0) return 0;
  FakeRun run;
  run.replies = pieces(pb + 1, n - 1);
  if (run.replies.empty()) return 0;
  int nStatus = runLoader({"-IP", "10.0.0.1", "-f", (pb[0] & 1) ? "logo.enc" : "main.enc"}, run);
  FUZZ_CHECK(nStatus == 0 || nStatus == 1 || nStatus == -1 || nStatus == FAKE_STOPPED);
  return 0;
}
