// Fuzzes the update file reader.  The first input byte chooses the mode and
// the file type, the rest is the file:
//   bit 0     encrypted mode (an update file) when set, raw mode when clear
//   bits 1-2  file type: logo, HTML, main, or bits 5-7 as the type code
//   bit 3     append a 0x7000-byte idata block (main files need one)
//   bits 4-7  all set: append filler that brings the file near the store's
//             size (rare on purpose: such runs are slow)
// A successful read is checked against the file's bytes, independently of
// the reader: image, length prefix, idata block, header values and CRC.
#include <string>

#include "app/settings.h"
#include "fuzz/fuzz_support.h"
#include "image/crc16.h"
#include "image/image_store.h"
#include "image/update_file.h"

static std::string s_path;
static uint8_t s_abIdataBefore[IDATA_SIZE];

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  quietStdout();
  s_path = scratchDir() + "/input.enc";
  for (uint32_t i = 0; i < IDATA_SIZE; i++)
    s_abIdataBefore[i] = (uint8_t)(i * 13 + 5);
  return 0;
}

static void appendPattern(Bytes *pFile, size_t n, uint8_t bSeed) {
  for (size_t i = 0; i < n; i++) pFile->push_back((uint8_t)(i * bSeed + 1));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pbData, size_t nSize) {
  if (nSize == 0) return 0;
  static const uint8_t s_abTypes[3] = {FILE_TYPE_LOGO, FILE_TYPE_HTML,
                                       FILE_TYPE_MAIN};
  uint8_t bMode = pbData[0];
  int bEncrypted = bMode & 1;
  int nChoice = (bMode >> 1) & 3;
  uint8_t bType = nChoice == 3 ? bMode >> 5 : s_abTypes[nChoice];
  Bytes file(pbData + 1, pbData + nSize);
  if ((bMode & 0xF0) == 0xF0) appendPattern(&file, IMAGE_SIZE - 0x20, 7);
  if (bMode & 0x08) appendPattern(&file, IDATA_SIZE, 3);
  writeBytes(s_path, file.data(), file.size());

  g_bEncrypted = bEncrypted;
  g_bFileType = bType;
  g_bModel = 0x5A;
  memcpy(g_abIdata, s_abIdataBefore, IDATA_SIZE);
  int32_t n = readUpdateFile(s_path.c_str());
  FUZZ_CHECK(n >= 0);
  if (n == 0) return 0;

  // What the store must hold, worked out from the file's bytes.
  Bytes body = file;
  if (bEncrypted) {
    FUZZ_CHECK(file.size() > UPDATE_FILE_HEADER_SIZE);
    FUZZ_CHECK(file[0] == UPDATE_FILE_MAGIC);
    FUZZ_CHECK(g_bFileType == (file[1] & 0x0F) && g_bModel == file[1] >> 4);
    FUZZ_CHECK(g_bFileType >= 1 && g_bFileType <= 9);
    if (g_bFileType == FILE_TYPE_MAIN)
      FUZZ_CHECK(g_bModel >= 1 && g_bModel <= 3);
    FUZZ_CHECK(getLe32(&file[2]) == 0);
    body.erase(body.begin(), body.begin() + UPDATE_FILE_HEADER_SIZE);
  } else {
    FUZZ_CHECK(g_bFileType == bType && g_bModel == 0x5A);
  }
  if (g_bFileType == FILE_TYPE_MAIN) {
    FUZZ_CHECK(body.size() >= IDATA_SIZE);
    const uint8_t *pbIdata = &body[body.size() - IDATA_SIZE];
    FUZZ_CHECK(memcmp(g_abIdata, pbIdata, IDATA_SIZE) == 0);
    body.resize(body.size() - IDATA_SIZE);
  } else {
    FUZZ_CHECK(memcmp(g_abIdata, s_abIdataBefore, IDATA_SIZE) == 0);
  }
  if (!bEncrypted && g_bFileType != FILE_TYPE_HTML) {
    uint8_t abLength[2];
    putLe16(abLength, (uint32_t)body.size());
    body.insert(body.begin(), abLength, abLength + 2);
  }

  FUZZ_CHECK((size_t)n == body.size() && n <= (int32_t)IMAGE_SIZE);
  FUZZ_CHECK(nMinHexAddress == 0 && nMaxHexAddress == (uint32_t)n);
  FUZZ_CHECK(memcmp(g_abImage, body.data(), body.size()) == 0);
  FUZZ_CHECK(allZero(g_abImage + n, IMAGE_SIZE - n));
  if (bEncrypted) FUZZ_CHECK(calcCrc16(g_abImage, n) == getLe16(&file[10]));
  return 0;
}
