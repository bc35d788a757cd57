// SPDX-License-Identifier: Apache-2.0
// Fuzzes zvfleet's site list: the input is the CSV file.  Whatever it
// holds, the reader accepts at most its limit of devices, each with a
// terminated address, password and file, or refuses the list.
#include <string.h>

#include "fuzz/fuzz_support.h"
#include "tools/zvfleet/fleet.h"
#include "tools/zvfleet/site_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pb, size_t n) {
  static bool s_bEntered = [] {
    enterScratchDir();
    writeFile("logo.bin", Bytes(10, 'L'));
    return true;
  }();
  (void)s_bEntered;
  writeFile("site.csv", Bytes(pb, pb + n));
  Transcript transcript;
  fakeBegin(FakeRun(), &transcript);
  g_nDevices = 0;
  int nDevices = readSiteList("site.csv");
  FUZZ_CHECK(nDevices >= -1 && nDevices <= FLEET_MAX_DEVICES);
  for (int i = 0; i < (nDevices > 0 ? nDevices : 0); i++) {
    const FleetDevice &dev = g_aDevices[i];
    FUZZ_CHECK(memchr(dev.szAddress, 0, sizeof(dev.szAddress)) != nullptr);
    FUZZ_CHECK(memchr(dev.szPassword, 0, sizeof(dev.szPassword)) != nullptr);
    FUZZ_CHECK(memchr(dev.szPath, 0, sizeof(dev.szPath)) != nullptr);
  }
  return 0;
}
