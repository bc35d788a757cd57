// Fuzzes the update file builder, run in a scratch directory of its own.
// Input byte 0 chooses the build, byte 1 is the model, the rest is the
// input file (HEX image, logo or HTML):
//   bits 0-1  file type: main, logo, HTML, or the model byte's low nibble
//   bit 2     -EA: encipher the whole payload
//   bits 3-7  all set: append filler that brings the input near the
//             largest build (rare on purpose: such runs are slow)
// A build that ends the process must leave no file behind.  A written file
// must read back in encrypted mode with its type and model, and, once
// deciphered, hold the image header, the input's bytes and zero padding.
#include <string>

#include "app/settings.h"
#include "crypto/des.h"
#include "fuzz/fuzz_support.h"
#include "image/crc16.h"
#include "image/hex_loader.h"
#include "image/image_store.h"
#include "image/update_file.h"
#include "image/update_file_builder.h"
#include "tests/fakes/scripted_platform.h"
#include "tests/support/settings_reset.h"

static const char *const s_apszOutputs[3] = {"main.enc", "logo.enc",
                                             "html.enc"};
static const uint8_t s_abKey[8] = {'f', 'u', 'z', 'z', '-', 'k', 'e', 'y'};

static std::filesystem::path s_home;

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  quietStdout();
  s_home = std::filesystem::current_path();
  return 0;
}

// The builder writes to the current directory: each run works in the
// scratch directory and returns, so that libFuzzer's relative paths hold
// (a crash artifact is written from inside it: give -artifact_prefix as an
// absolute path).
struct InScratchDir {
  InScratchDir() { std::filesystem::current_path(scratchDir()); }
  ~InScratchDir() { std::filesystem::current_path(s_home); }
};

// Deciphers the first nLength bytes of pb in place (CBC under s_abKey).
static void decipher(uint8_t *pb, uint32_t nLength) {
  uint8_t abPrevious[8], abCipher[8];
  memcpy(abPrevious, g_abDesIv, 8);
  for (uint32_t i = 0; i + 8 <= nLength; i += 8) {
    memcpy(abCipher, pb + i, 8);
    desCrypt(pb + i, pb + i, s_abKey, 0);
    xorBlock(pb + i, abPrevious);
    memcpy(abPrevious, abCipher, 8);
  }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pbData, size_t nSize) {
  if (nSize < 2) return 0;
  InScratchDir inScratchDir;
  static const uint8_t s_abTypes[3] = {FILE_TYPE_MAIN, FILE_TYPE_LOGO,
                                       FILE_TYPE_HTML};
  uint8_t bMode = pbData[0], bModel = pbData[1];
  uint8_t bType = (bMode & 3) == 3 ? bModel & 0x0F : s_abTypes[bMode & 3];
  Bytes input(pbData + 2, pbData + nSize);
  if ((bMode & 0xF8) == 0xF8)
    input.resize(input.size() + MAX_BUILD_LENGTH - 0x40, 'A');
  writeBytes("input", input.data(), input.size());
  for (const char *pszOutput : s_apszOutputs) remove(pszOutput);

  resetSettings();
  strcpy(g_szFileName, "input");
  memcpy(g_szKey, s_abKey, sizeof(s_abKey));
  g_bEncrypted = 0;
  g_bFileType = bType;
  g_bModel = bModel;
  g_bFirstBlockOnly = (bMode & 4) ? 0 : 1;
  try {
    makeEncryptFile();
  } catch (const ProcessExit &exit) {
    FUZZ_CHECK(exit.nStatus == 1);
    for (const char *pszOutput : s_apszOutputs)
      FUZZ_CHECK(!std::filesystem::exists(pszOutput));
    return 0;
  }

  // Returned: a file of one of the three types was written.
  int nIndex = bType == FILE_TYPE_MAIN ? 0 : bType == FILE_TYPE_LOGO ? 1 : 2;
  FUZZ_CHECK(bType == s_abTypes[nIndex]);
  Bytes file = readBytes(s_apszOutputs[nIndex]);
  g_bEncrypted = 1;
  int32_t nPayload = readUpdateFile(s_apszOutputs[nIndex]);
  FUZZ_CHECK(nPayload > 0 && g_bFileType == bType &&
             g_bModel == (bModel & 0x0F));
  uint32_t ulPayload = (uint32_t)nPayload;
  uint32_t ulIdata = bType == FILE_TYPE_MAIN ? IDATA_SIZE : 0;
  FUZZ_CHECK(file.size() == UPDATE_FILE_HEADER_SIZE + ulPayload + ulIdata);
  Bytes payload(g_abImage, g_abImage + ulPayload);
  Bytes idata(g_abIdata, g_abIdata + IDATA_SIZE);

  // The data that the payload must carry, taken from the input again.
  Bytes data = input;
  if (bType == FILE_TYPE_MAIN) {
    FUZZ_CHECK(readHexFile("input") && prepareMainImage("input"));
    data.assign(g_abImage, g_abImage + nMaxHexAddress);
    FUZZ_CHECK(memcmp(idata.data(), g_abIdata, IDATA_SIZE) == 0);
  } else if (bType == FILE_TYPE_LOGO) {
    uint8_t abLength[2];
    putLe16(abLength, (uint32_t)input.size());
    data.insert(data.begin(), abLength, abLength + 2);
  }
  uint32_t ulLength = (uint32_t)data.size();
  FUZZ_CHECK(getLe32(&file[2]) == 0 && getLe32(&file[6]) == ulLength);
  FUZZ_CHECK(ulPayload == payloadLength(ulLength));

  uint32_t ulEnciphered = ulPayload;
  if (g_bFirstBlockOnly && ulEnciphered > ENCRYPT_FIRST_BLOCK)
    ulEnciphered = ENCRYPT_FIRST_BLOCK;
  decipher(payload.data(), ulEnciphered);
  const uint8_t *pbImage = payload.data() + IMAGE_HEADER_SIZE;
  FUZZ_CHECK(getLe16(&payload[0]) == (ulLength & 0xFFFF));
  FUZZ_CHECK(getLe16(&payload[2]) ==
             calcCrc16(pbImage, ulPayload - IMAGE_HEADER_SIZE));
  for (uint32_t i = 4; i < 8; i++)
    FUZZ_CHECK(payload[i] == (i < ulLength ? data[i] : 0));
  FUZZ_CHECK(ulLength == 0 || memcmp(pbImage, data.data(), ulLength) == 0);
  FUZZ_CHECK(
      allZero(pbImage + ulLength, ulPayload - IMAGE_HEADER_SIZE - ulLength));
  return 0;
}
