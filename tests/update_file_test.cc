// The update file reader: header checks with their messages, truncated
// headers, raw logo and HTML layouts, and the refusals of inputs that do
// not fit the store.
#include <gtest/gtest.h>

#include <string>

#include "app/settings.h"
#include "image/crc16.h"
#include "image/image_store.h"
#include "image/update_file.h"
#include "tests/support/settings_reset.h"
#include "tests/support/temp_dir.h"
#include "tests/support/update_file_bytes.h"

namespace {

struct Read {
  int32_t nResult;
  std::string output;
};

Read readBytes(const Bytes &file, int bEncrypted = 1, int nType = 0) {
  TempDir dir;
  std::string path = dir.path("f.enc");
  writeFile(path, file);
  g_bEncrypted = bEncrypted;
  g_bFileType = (uint8_t)nType;
  testing::internal::CaptureStdout();
  int32_t n = readUpdateFile(path.c_str());
  std::string output = testing::internal::GetCapturedStdout();
  for (size_t at; (at = output.find(path)) != std::string::npos;)
    output.replace(at, path.size(), "P");
  return {n, output};
}

class Reader : public testing::Test {
 protected:
  void SetUp() override { resetSettings(); }
};

TEST_F(Reader, HeaderChecks) {
  Bytes payload(264, 0x33);
  Bytes idata(0x7000, 0x44);
  Bytes corrupted = updateFile(0x06, payload);
  corrupted[100] ^= 1;
  Bytes idataChanged = updateFile(0x12, payload, idata);
  idataChanged.back() ^= 1;
  struct Case {
    const char *pszName;
    Bytes file;
    int32_t nResult;
    std::string output;
  } cases[] = {
      {"html", updateFile(0x06, payload), 264, ""},
      {"main", updateFile(0x32, payload, idata), 264, ""},
      {"empty file", {}, 0, "Could not read Magic Number from: P"},
      {"wrong magic", {0x42, 0x06}, 0,
       "Wrong Magic Number, This is not an QRVX microcode update file: P"},
      {"no type byte", {0x41}, 0, "Could not read File Type from: P"},
      {"type 0", {0x41, 0x10}, 0,
       "Bad File Type, This is not an QRVX microcode update file: P"},
      {"type 10", {0x41, 0x1A}, 0,
       "Bad File Type, This is not an QRVX microcode update file: P"},
      {"main model 0", {0x41, 0x02}, 0, "Wrong quorvaUnit model: 0\n"},
      {"main model 4", {0x41, 0x42}, 0, "Wrong quorvaUnit model: 4\n"},
      {"ends before nMinHexAddress", {0x41, 0x06}, 0,
       "Could not read nMinHexAddress from: P"},
      {"ends before nMaxHexAddress", {0x41, 0x06, 0, 0, 0, 0}, 0,
       "Could not read nMaxHexAddress from: P"},
      {"ends before crc", {0x41, 0x06, 0, 0, 0, 0, 0, 0, 0, 0}, 0,
       "Could not read crc from: P"},
      {"one crc byte, not zero", {0x41, 0x06, 0, 0, 0, 0, 0, 0, 0, 0, 5}, 0,
       "Bad crc from: P, this file appears corrupted"},
      {"one crc byte, zero", {0x41, 0x06, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0, ""},
      {"nMinHexAddress cut short", {0x41, 0x06, 0}, 0,
       "Could not read nMaxHexAddress from: P"},
      {"payload changed", corrupted, 0,
       "Bad crc from: P, this file appears corrupted"},
      {"idata changed is not covered", idataChanged, 264, ""},
      {"main without room for idata", updateFile(0x12, Bytes(0x6FFF)), 0,
       "File too short to hold the idata block: P\n"},
      {"main with idata only", updateFile(0x12, {}, idata), 0, ""},
      {"image not at address 0", updateFile(0x06, payload, {}, 0x100), 0,
       "Update file image does not start at address 0: P\n"},
      {"payload beyond the store", updateFile(0x06, Bytes(0x40001)), 0,
       "File too large to load: P\n"},
      {"largest payload", updateFile(0x06, Bytes(0x40000, 1)), 0x40000, ""},
  };
  for (const Case &c : cases) {
    Read r = readBytes(c.file);
    EXPECT_EQ(c.nResult, r.nResult) << c.pszName;
    EXPECT_EQ(c.output, r.output) << c.pszName;
  }
}

TEST_F(Reader, TypesThatPassAndWhatTheStoreHolds) {
  for (int nType : {1, 3, 5, 7, 8, 9}) {
    Read r = readBytes(updateFile((uint8_t)(0x50 | nType), {9, 8, 7}));
    EXPECT_EQ(3, r.nResult) << nType;
    EXPECT_EQ(nType, g_bFileType);
    EXPECT_EQ(5, g_bModel);
  }
  // -T and -M have no effect: the header decides.
  g_bModel = 2;
  Bytes idata(0x7000);
  for (size_t i = 0; i < idata.size(); i++) idata[i] = (uint8_t)i;
  ASSERT_EQ(264, readBytes(updateFile(0x22, Bytes(264, 0xAA), idata), 1,
                           FILE_TYPE_HTML).nResult);
  EXPECT_EQ(FILE_TYPE_MAIN, g_bFileType);
  EXPECT_EQ(0u, nMinHexAddress);
  EXPECT_EQ(264u, nMaxHexAddress);
  EXPECT_EQ(0xAA, g_abImage[263]);
  EXPECT_EQ(0, g_abImage[264]);  // the idata's place is cleared
  EXPECT_EQ(idata, Bytes(g_abIdata, g_abIdata + 0x7000));
}

TEST_F(Reader, RawFiles) {
  Bytes logo(300);
  for (size_t i = 0; i < logo.size(); i++) logo[i] = (uint8_t)(i + 1);
  ASSERT_EQ(302, readBytes(logo, 0, FILE_TYPE_LOGO).nResult);
  EXPECT_EQ(0x2C, g_abImage[0]);
  EXPECT_EQ(0x01, g_abImage[1]);
  EXPECT_TRUE(std::equal(logo.begin(), logo.end(), g_abImage + 2));
  EXPECT_EQ(0u, nMinHexAddress);
  EXPECT_EQ(302u, nMaxHexAddress);

  struct Case {
    int nType;
    uint32_t ulSize;
    int32_t nResult;
    std::string output;
  } cases[] = {
      {FILE_TYPE_LOGO, 0, 2, ""},
      {FILE_TYPE_HTML, 0, 0, ""},
      {FILE_TYPE_HTML, 0x40000, 0x40000, ""},
      {FILE_TYPE_HTML, 0x40001, 0, "File too large to load: P\n"},
      {FILE_TYPE_LOGO, 0x3FFFE, 0x40000, ""},
      {FILE_TYPE_LOGO, 0x3FFFF, 0, "File too large to load: P\n"},
  };
  for (const Case &c : cases) {
    Read r = readBytes(Bytes(c.ulSize, 0x11), 0, c.nType);
    EXPECT_EQ(c.nResult, r.nResult) << c.ulSize;
    EXPECT_EQ(c.output, r.output) << c.ulSize;
  }
  EXPECT_EQ("Could not open: nowhere/x", [] {
    testing::internal::CaptureStdout();
    readUpdateFile("nowhere/x");
    return testing::internal::GetCapturedStdout();
  }());
}

}  // namespace
