// SPDX-License-Identifier: Apache-2.0
// Fuzzes the Intel HEX loader with the input as the file.  After a load the store holds code only
// inside the extent and the idata block carries its own CRC; an image without code is refused for
// building and sending.  A file is only ever loaded whole: within the size limit and with its end
// record.
#include "fuzz/fuzz_support.h"
#include "image/crc16.h"
#include "image/hex_loader.h"
#include "image/image_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pb, size_t n) {
  static bool s_bEntered = (enterScratchDir(), true);
  (void)s_bEntered;
  writeFile("in.hex", Bytes(pb, pb + n));
  Transcript transcript;
  fakeBegin(FakeRun(), &transcript);
  if (!readHexFile("in.hex")) return 0;
  FUZZ_CHECK(n <= HEX_FILE_LIMIT);
  bool bEnd = false;
  for (size_t i = 0; i + 8 < n && !bEnd; i++)
    bEnd = (i == 0 || pb[i - 1] == '\n') && pb[i + 7] == '0' && pb[i + 8] == '1';
  FUZZ_CHECK(bEnd);
  bool bEmpty = nMinHexAddress == IMAGE_SIZE && nMaxHexAddress == 0;
  FUZZ_CHECK(bEmpty || (nMinHexAddress <= nMaxHexAddress && nMaxHexAddress <= CODE_WINDOW_END));
  for (uint32_t i = 0; i < IMAGE_SIZE; i++)
    FUZZ_CHECK(g_abImage[i] == 0 || (i >= nMinHexAddress && i < nMaxHexAddress));
  FUZZ_CHECK(getLe16(g_abIdata) == calcCrc16(g_abIdata + IDATA_CRC_START, IDATA_SIZE - IDATA_CRC_START));
  FUZZ_CHECK(prepareMainImage("in.hex") == (nMinHexAddress < nMaxHexAddress));
  return 0;
}
