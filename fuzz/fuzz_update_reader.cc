// SPDX-License-Identifier: Apache-2.0
// Fuzzes the update file reader: an update file, or with the first byte's
// low bit set a raw logo (bit 1 clear) or HTML file.  Whatever is read fits
// the store, and the store's extent says how much.
#include "base/settings.h"
#include "fuzz/fuzz_support.h"
#include "image/image_store.h"
#include "image/update_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pb, size_t n) {
  static bool s_bEntered = (enterScratchDir(), true);
  (void)s_bEntered;
  if (n == 0) return 0;
  writeFile("in.bin", Bytes(pb + 1, pb + n));
  Transcript transcript;
  fakeBegin(FakeRun(), &transcript);
  setDefaultSettings();
  g_bEncrypted = !(pb[0] & 1);
  g_bFileType = (pb[0] & 2) ? FILE_TYPE_HTML : FILE_TYPE_LOGO;
  int32_t nRead = readUpdateFile("in.bin");
  FUZZ_CHECK(nRead >= 0 && (uint32_t)nRead <= IMAGE_SIZE);
  if (nRead > 0) FUZZ_CHECK(nMaxHexAddress == (uint32_t)nRead && nMinHexAddress == 0);
  return 0;
}
