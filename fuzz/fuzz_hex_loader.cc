// Fuzzes the Intel HEX loader.  The input is the HEX file, or, when its
// first byte is 0xFF, binary records that the harness writes out as HEX
// lines (so that the fuzzer's comparison feedback reaches addresses and
// counts directly): type, count, address (2 bytes, high first), then the
// count data bytes as far as the input holds them.  After a successful
// load the store must hold code only inside the extent, the idata block
// only its CRC and the idata window, and the main-image check must agree
// with the extent.
#include <string>

#include "fuzz/fuzz_support.h"
#include "image/crc16.h"
#include "image/hex_loader.h"
#include "image/image_store.h"

static std::string s_path;

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  quietStdout();
  s_path = scratchDir() + "/input.hex";
  return 0;
}

static std::string hexLines(const uint8_t *pb, size_t n) {
  std::string text;
  char sz[16];
  for (size_t i = 0; i + 4 <= n;) {
    uint8_t bType = pb[i], bCount = pb[i + 1];
    snprintf(sz, sizeof(sz), ":%02X%02X%02X%02X", bCount, pb[i + 2],
             pb[i + 3], bType);
    text += sz;
    for (i += 4; bCount > 0 && i < n; bCount--, i++) {
      snprintf(sz, sizeof(sz), "%02X", pb[i]);
      text += sz;
    }
    text += "FF\n";
  }
  return text;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pbData, size_t nSize) {
  if (nSize > 0 && pbData[0] == 0xFF) {
    std::string text = hexLines(pbData + 1, nSize - 1);
    writeBytes(s_path, (const uint8_t *)text.data(), text.size());
  } else {
    writeBytes(s_path, pbData, nSize);
  }
  if (!readHexFile(s_path.c_str())) return 0;

  uint32_t ulMin = nMinHexAddress, ulMax = nMaxHexAddress;
  bool bEmpty = ulMin == IMAGE_SIZE && ulMax == 0;
  FUZZ_CHECK(bEmpty || (ulMin <= ulMax && ulMax <= CODE_WINDOW_END));
  if (bEmpty) {
    FUZZ_CHECK(allZero(g_abImage, IMAGE_SIZE));
  } else {
    FUZZ_CHECK(allZero(g_abImage, ulMin));
    FUZZ_CHECK(allZero(g_abImage + ulMax, IMAGE_SIZE - ulMax));
  }
  FUZZ_CHECK(allZero(g_abIdata + 2, IDATA_CRC_START - 2));
  FUZZ_CHECK(getLe16(g_abIdata) == calcCrc16(g_abIdata + IDATA_CRC_START,
                                             IDATA_SIZE - IDATA_CRC_START));

  int bUsable = prepareMainImage(s_path.c_str());
  FUZZ_CHECK(bUsable == (!bEmpty && ulMin < ulMax));
  if (bUsable) FUZZ_CHECK(nMinHexAddress == 0 && nMaxHexAddress == ulMax);
  return 0;
}
