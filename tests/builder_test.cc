// The update file builder and the reader together: layouts and sizes of
// built files, what they read back as, the encrypted span, and the refusals
// that keep oversized or empty inputs from overrunning the store.
#include <gtest/gtest.h>

#include <string>

#include "app/settings.h"
#include "crypto/des.h"
#include "image/crc16.h"
#include "image/image_store.h"
#include "image/update_file.h"
#include "image/update_file_builder.h"
#include "tests/fakes/scripted_platform.h"
#include "tests/support/hex_text.h"
#include "tests/support/settings_reset.h"
#include "tests/support/temp_dir.h"

namespace {

const char *const KEY = "k3y-TEXT";

struct Build {
  int nStatus;  // 1 when the builder returned (main then exits with 1)
  std::string output;
  Bytes file;
};

class Builder : public testing::Test {
 protected:
  void SetUp() override {
    resetSettings();
    resetScriptedPlatform();
    m_dir.enter();
  }
  // Builds from an input of the given type letter's code.
  Build build(int nType, const Bytes &input, int nModel = 0,
              bool bAll = false, const char *pszOutput = nullptr) {
    writeFile("input.bin", input);
    strcpy(g_szFileName, "input.bin");
    memcpy(g_szKey, KEY, strlen(KEY));
    g_bEncrypted = 0;
    g_bFileType = (uint8_t)nType;
    g_bModel = (uint8_t)nModel;
    g_bFirstBlockOnly = bAll ? 0 : 1;
    Build result{1, "", {}};
    testing::internal::CaptureStdout();
    try {
      makeEncryptFile();
    } catch (const ProcessExit &e) {
      result.nStatus = e.nStatus;
    }
    result.output = testing::internal::GetCapturedStdout();
    const char *pszName = pszOutput ? pszOutput
                          : nType == FILE_TYPE_MAIN ? "main.enc"
                          : nType == FILE_TYPE_LOGO ? "logo.enc"
                                                    : "html.enc";
    if (fileExists(pszName)) result.file = readFile(pszName);
    return result;
  }
  TempDir m_dir;
};

// The payload as it was before encryption (CBC decryption of E bytes).
Bytes plainPayload(const Bytes &file, uint32_t ulEncrypted) {
  Bytes payload(file.begin() + UPDATE_FILE_HEADER_SIZE, file.end());
  uint8_t abPrevious[8];
  memcpy(abPrevious, g_abDesIv, 8);
  for (uint32_t i = 0; i + 8 <= ulEncrypted; i += 8) {
    uint8_t abCipher[8];
    memcpy(abCipher, &payload[i], 8);
    desCrypt(&payload[i], &payload[i], (const uint8_t *)KEY, 0);
    xorBlock(&payload[i], abPrevious);
    memcpy(abPrevious, abCipher, 8);
  }
  return payload;
}

TEST_F(Builder, HtmlWorkedExample) {
  Build b = build(FILE_TYPE_HTML, {0x61, 0x62, 0x63});
  EXPECT_EQ("Reading in the html file to encrypt\n", b.output);
  ASSERT_EQ(276u, b.file.size());
  Bytes header(b.file.begin(), b.file.begin() + 10);
  EXPECT_EQ(Bytes({0x41, 0x06, 0, 0, 0, 0, 3, 0, 0, 0}), header);
  Bytes payload(b.file.begin() + 12, b.file.end());
  EXPECT_EQ(calcCrc16(payload.data(), 264), getLe16(&b.file[10]));
  Bytes plain = plainPayload(b.file, 264);
  Bytes expected(264, 0);
  const uint8_t abStart[] = {3, 0, 0xEA, 0x7A, 0, 0, 0, 0, 0x61, 0x62, 0x63};
  memcpy(expected.data(), abStart, sizeof(abStart));
  EXPECT_EQ(expected, plain);
}

TEST_F(Builder, SizesAndEncryptedSpan) {
  struct Case {
    int nType;
    uint32_t ulInput;
    uint32_t ulPayload;
    uint16_t wLength;
  } cases[] = {
      {FILE_TYPE_HTML, 256, 264, 256},    {FILE_TYPE_HTML, 257, 520, 257},
      {FILE_TYPE_HTML, 300, 520, 300},    {FILE_TYPE_HTML, 1024, 1032, 1024},
      {FILE_TYPE_HTML, 1025, 1288, 1025}, {FILE_TYPE_LOGO, 100, 264, 102},
      {FILE_TYPE_LOGO, 0, 264, 2},        {FILE_TYPE_HTML, 0x3FF00, 0x3FF08, 0xFF00},
  };
  for (const Case &c : cases) {
    Bytes input(c.ulInput);
    for (size_t i = 0; i < input.size(); i++) input[i] = (uint8_t)(i * 7 + 1);
    Build first = build(c.nType, input);
    Build all = build(c.nType, input, 0, true);
    SCOPED_TRACE(std::to_string(c.ulInput));
    ASSERT_EQ(12 + c.ulPayload, first.file.size());
    EXPECT_EQ(c.nType == FILE_TYPE_LOGO ? c.ulInput + 2 : c.ulInput,
              getLe32(&first.file[6]));
    // -EA changes nothing but the payload from byte 1032 on, and wCrc.
    for (size_t i = 0; i < first.file.size(); i++) {
      if (i < 10 || (i >= 12 && i < 12 + 1032)) {
        ASSERT_EQ(first.file[i], all.file[i]) << "offset " << i;
      }
    }
    EXPECT_EQ(c.ulPayload > 1032, first.file != all.file);
    Bytes plain = plainPayload(all.file, c.ulPayload);
    EXPECT_EQ(c.wLength, getLe16(&plain[0]));
    EXPECT_EQ(calcCrc16(&plain[8], c.ulPayload - 8), getLe16(&plain[2]));
    size_t nData = c.nType == FILE_TYPE_LOGO ? 2 : 0;
    if (c.nType == FILE_TYPE_LOGO) {
      EXPECT_EQ(c.ulInput, getLe16(&plain[8]));
    }
    EXPECT_TRUE(std::equal(input.begin(), input.end(), plain.begin() + 8 + nData));
    // abReserved holds the data's own bytes 4 to 7.
    EXPECT_TRUE(std::equal(plain.begin() + 4, plain.begin() + 8, plain.begin() + 12));
    // The first-block build leaves the rest of the payload in the clear.
    if (c.ulPayload > 1032) {
      EXPECT_TRUE(std::equal(plain.begin() + 1032, plain.end(),
                             first.file.begin() + 12 + 1032));
    }
  }
}

TEST_F(Builder, MainImageReadsBack) {
  std::string hex = hexImage(0, 0x20000, [](uint32_t a) { return (uint8_t)(a * 13 + (a >> 8)); });
  hex += hexSegment(0x2000) + hexRecord(0, 0x8100, {1, 2, 3});
  for (int nModel = 1; nModel <= 3; nModel++) {
    Build b = build(FILE_TYPE_MAIN, Bytes(hex.begin(), hex.end()), nModel, true);
    EXPECT_EQ("Reading in the Main CPU HEX file to encrypt\n", b.output);
    ASSERT_EQ(12u + 0x20008 + 0x7000, b.file.size());
    EXPECT_EQ(0x10 * nModel + 2, b.file[1]);
    Bytes plain = plainPayload(b.file, 0x20008);
    EXPECT_EQ(0, getLe16(&plain[0]));  // 0x20000 modulo 65536
  }
  Bytes idataSaved(g_abIdata, g_abIdata + IDATA_SIZE);
  Bytes file = readFile("main.enc");
  memset(g_abIdata, 0, IDATA_SIZE);
  g_bEncrypted = 1;
  g_bFileType = 0;
  EXPECT_EQ(0x20008, readUpdateFile("main.enc"));
  EXPECT_EQ(FILE_TYPE_MAIN, g_bFileType);
  EXPECT_EQ(3, g_bModel);
  EXPECT_EQ(0u, nMinHexAddress);
  EXPECT_EQ(0x20008u, nMaxHexAddress);
  EXPECT_EQ(idataSaved, Bytes(g_abIdata, g_abIdata + IDATA_SIZE));
  EXPECT_EQ(1, g_abIdata[0x100]);
  EXPECT_TRUE(std::equal(g_abImage, g_abImage + 0x20008, file.begin() + 12));
}

TEST_F(Builder, MainImageNotAtZeroIsLaidOutFromZero) {
  std::string hex = hexRecord(0, 0x0300, {0xAB});
  Build b = build(FILE_TYPE_MAIN, Bytes(hex.begin(), hex.end()), 1);
  ASSERT_EQ(12u + 1032 + 0x7000, b.file.size());
  EXPECT_EQ(0u, getLe32(&b.file[2]));
  EXPECT_EQ(0x301u, getLe32(&b.file[6]));
  Bytes plain = plainPayload(b.file, 1032);
  EXPECT_EQ(0x301, getLe16(&plain[0]));
  EXPECT_EQ(0xAB, plain[8 + 0x300]);
  EXPECT_EQ(0, plain[8]);
}

TEST_F(Builder, Refusals) {
  std::string noCode = hexSegment(0x2000) + hexRecord(0, 0x8100, {1});
  std::string badHex = ":zz\n";
  struct Case {
    const char *pszName;
    int nType;
    Bytes input;
    int nModel;
    std::string output;
  } cases[] = {
      {"no type", 0, {1}, 0, "No file has been specified to encrypt\n"},
      {"untranslated letter", 'M', {1}, 1, "No file has been specified to encrypt\n"},
      {"main model 4", FILE_TYPE_MAIN, {1}, 4,
       "Wrong quorvaUnit model: 4\nCannot make an encrypt file\n"},
      {"no code", FILE_TYPE_MAIN, Bytes(noCode.begin(), noCode.end()), 1,
       "Reading in the Main CPU HEX file to encrypt\n"
       "Input file holds no code below address 0x20000:input.bin\n"},
      {"bad hex", FILE_TYPE_MAIN, Bytes(badHex.begin(), badHex.end()), 1,
       "Reading in the Main CPU HEX file to encrypt\n"
       "Input file not Intel Hex format:input.bin"},
      {"empty html", FILE_TYPE_HTML, {}, 0, "Reading in the html file to encrypt\n"},
      {"html over the limit", FILE_TYPE_HTML, Bytes(0x3FF01), 0,
       "Reading in the html file to encrypt\nInput file too large to encrypt:input.bin\n"},
      {"logo over the store", FILE_TYPE_LOGO, Bytes(0x3FFFF), 0,
       "Reading in the Logo file to encrypt\nFile too large to load: input.bin\n"},
  };
  for (const Case &c : cases) {
    remove("main.enc");
    remove("html.enc");
    remove("logo.enc");
    Build b = build(c.nType, c.input, c.nModel);
    EXPECT_EQ(1, b.nStatus) << c.pszName;
    EXPECT_EQ(c.output, b.output) << c.pszName;
    EXPECT_TRUE(b.file.empty()) << c.pszName;
  }
}

TEST_F(Builder, SameInputAndKeyGiveTheSameFile) {
  Bytes input(700, 0x55);
  Build a = build(FILE_TYPE_LOGO, input, 17);
  Build b = build(FILE_TYPE_LOGO, input, 17);
  EXPECT_EQ(a.file, b.file);
  EXPECT_EQ(0x14, a.file[1]);  // only the model's low four bits
  // Only the first eight key characters count.
  memcpy(g_szKey + 8, "ignored!", 8);
  EXPECT_EQ(a.file, build(FILE_TYPE_LOGO, input, 17).file);
}

TEST_F(Builder, UnwritableOutputIsReported) {
  // A directory in the way of the output file.
  std::filesystem::create_directory("html.enc");
  Build b = build(FILE_TYPE_HTML, {1, 2, 3}, 0, false, "none");
  EXPECT_EQ("Reading in the html file to encrypt\nCould not open: html.enc", b.output);
}

TEST_F(Builder, FailedWriteLeavesNoFile) {
  std::error_code ec;
  std::filesystem::create_symlink("/dev/full", "html.enc", ec);
  if (ec || !fileExists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  Build b = build(FILE_TYPE_HTML, {1, 2, 3}, 0, false, "none");
  EXPECT_EQ("Reading in the html file to encrypt\nCould not write: html.enc\n",
            b.output);
  EXPECT_FALSE(std::filesystem::is_symlink("html.enc"));
}

}  // namespace
