// Intel HEX loader: address windows, extents, segment records, malformed
// lines and the idata CRC, each with the exact message it prints.
#include <gtest/gtest.h>

#include <string>

#include "image/crc16.h"
#include "image/hex_loader.h"
#include "image/image_store.h"
#include "tests/support/hex_text.h"
#include "tests/support/temp_dir.h"

namespace {

struct Load {
  int nResult;
  std::string output;
};

Load loadText(const std::string &text) {
  TempDir dir;
  std::string path = dir.path("image.hex");
  writeText(path, text);
  testing::internal::CaptureStdout();
  int nResult = readHexFile(path.c_str());
  std::string output = testing::internal::GetCapturedStdout();
  // Messages name the path; tests compare against "<path>".
  for (size_t at; (at = output.find(path)) != std::string::npos;)
    output.replace(at, path.size(), "<path>");
  return {nResult, output};
}

std::vector<uint8_t> bytes(int n, uint8_t first) {
  std::vector<uint8_t> v;
  for (int i = 0; i < n; i++) v.push_back((uint8_t)(first + i));
  return v;
}

TEST(HexLoader, AddressWindowsAndMessages) {
  const std::string notHex = "Input file not Intel Hex format:<path>";
  struct Case {
    const char *pszName;
    std::string text;
    int nResult;
    std::string output;
  } cases[] = {
      {"code window", hexRecord(0, 0x100, bytes(16, 1)), 1, ""},
      {"idata window", hexRecord(0, 0x8100, bytes(4, 1)).insert(0, hexSegment(0x2000)), 1, ""},
      {"record crossing 0x20000", hexSegment(0x1000) + hexRecord(0, 0xFFF0, bytes(32, 0)),
       0, "Input file address out of bounds:0x20000"},
      {"record crossing 0x2F000", hexSegment(0x2000) + hexRecord(0, 0xEFF0, bytes(32, 0)),
       0, "Input file address out of bounds:0x2f000"},
      {"gap below idata", hexSegment(0x2000) + hexRecord(0, 0x80FF, {}), 0,
       "Input file address out of bounds:0x280ff"},
      {"gap at 0x20000", hexSegment(0x2000) + hexRecord(0, 0x0000, {1}), 0,
       "Input file address out of bounds:0x20000"},
      {"above idata", hexSegment(0x2F00) + hexRecord(0, 0, {1}), 0,
       "Input file address out of bounds:0x2f000"},
      {"count 33", hexRecord(1, 0, bytes(33, 0)), 0, notHex},
      {"records after end record", hexEnd() + hexRecord(0, 0, {7}), 1, ""},
      {"linear address record 0 ignored", hexRecord(4, 0, {0, 0}) + hexRecord(0, 0, {7}), 1, ""},
      {"linear address record above 0 refused", hexRecord(4, 0, {0, 1}) + hexRecord(0, 0, {7}), 0, notHex},
      {"bad checksum loads", ":0100000007AA\n", 1, ""},
      {"lower-case digits", ":02000000abcd00\n", 1, ""},
      {"blank and CR LF lines", "\n  \r\n" + hexRecord(0, 0, {7}, "\r\n"), 1, ""},
      {"empty file", "", 1, ""},
      {"too short for the type", ":0100000\n", 0, notHex},
      {"too short for its data", ":02000000AA\n", 0, notHex},
      {"count not hexadecimal", ":G100000000\n", 0, notHex},
      {"address not hexadecimal", ":010X000000FF\n", 0, notHex},
      {"data not hexadecimal", ":020000000Z00FF\n", 0, notHex},
      {"segment data not hexadecimal", ":020000021Z0000\n", 0, notHex},
      {"line longer than the buffer", ":00000001FF" + std::string(250, ' ') + "\n", 0, notHex},
      {"longest line that fits", ":00000001FF" + std::string(243, ' ') + "\n", 1, ""},
  };
  for (const Case &c : cases) {
    Load load = loadText(c.text);
    EXPECT_EQ(c.nResult, load.nResult) << c.pszName;
    EXPECT_EQ(c.output, load.output) << c.pszName;
  }
}

// One byte at each side of every address window boundary.
TEST(HexLoader, WindowBoundaries) {
  struct Case {
    uint32_t ulAddress;
    int nResult;
  } cases[] = {
      {0x00000, 1}, {0x1FFFF, 1}, {0x20000, 0}, {0x280FF, 0},
      {0x28100, 1}, {0x2EFFF, 1}, {0x2F000, 0}, {0xFFFFF, 0},
  };
  for (const Case &c : cases) {
    std::string text = hexSegment((uint16_t)((c.ulAddress >> 16) << 12)) +
                       hexRecord(0, c.ulAddress & 0xFFFF, {0x5A});
    Load load = loadText(text);
    EXPECT_EQ(c.nResult, load.nResult) << std::hex << c.ulAddress;
    char szMessage[64];
    snprintf(szMessage, sizeof(szMessage), "Input file address out of bounds:0x%x",
             c.ulAddress);
    EXPECT_EQ(c.nResult ? "" : szMessage, load.output);
    if (!c.nResult) continue;
    uint8_t bStored = c.ulAddress < 0x20000 ? g_abImage[c.ulAddress]
                                            : g_abIdata[c.ulAddress - 0x28000];
    EXPECT_EQ(0x5A, bStored) << std::hex << c.ulAddress;
  }
}

TEST(HexLoader, StoresBytesAndExtent) {
  std::string text =
      hexImage(0x100, 0x100, [](uint32_t a) { return (uint8_t)a; }) +
      hexRecord(0, 0x0100, {0xEE}) +  // a later value wins
      hexRecord(0, 0x1000, {});       // count 0 widens the extent
  ASSERT_EQ(1, loadText(text).nResult);
  EXPECT_EQ(0x100u, nMinHexAddress);
  EXPECT_EQ(0x1000u, nMaxHexAddress);
  EXPECT_EQ(0xEE, g_abImage[0x100]);
  EXPECT_EQ(0x01, g_abImage[0x101]);
  EXPECT_EQ(0xFF, g_abImage[0x1FF]);
  EXPECT_EQ(0, g_abImage[0x200]);
}

TEST(HexLoader, PartialRecordKeepsBytesBeforeTheRefusedAddress) {
  ASSERT_EQ(0, loadText(hexSegment(0x1000) +
                        hexRecord(0, 0xFFF0, bytes(32, 1))).nResult);
  EXPECT_EQ(16, g_abImage[0x1FFFF]);
}

TEST(HexLoader, SegmentRecordsMoveLaterRecords) {
  ASSERT_EQ(1, loadText(hexSegment(0x1000) + hexRecord(0, 0, {0x5A}) +
                        hexSegment(0x2810) + hexRecord(0, 0x0010, {0xA5}))
                   .nResult);
  EXPECT_EQ(0x5A, g_abImage[0x10000]);
  EXPECT_EQ(0x10000u, nMinHexAddress);
  EXPECT_EQ(0x10001u, nMaxHexAddress);
  EXPECT_EQ(0xA5, g_abIdata[0x110]);
}

TEST(HexLoader, IdataCrcAndClearedStore) {
  g_abImage[5] = 9;
  g_abIdata[0x200] = 9;
  ASSERT_EQ(1, loadText("").nResult);
  EXPECT_EQ(IMAGE_SIZE, nMinHexAddress);
  EXPECT_EQ(0u, nMaxHexAddress);
  EXPECT_EQ(0, g_abImage[5]);
  EXPECT_EQ(0xFE, g_abIdata[0]);
  EXPECT_EQ(0x37, g_abIdata[1]);
  EXPECT_EQ(0, g_abIdata[0x200]);

  ASSERT_EQ(1, loadText(hexSegment(0x2000) +
                        hexRecord(0, 0x8100, bytes(32, 1)) +
                        hexRecord(0, 0xEFE0, bytes(32, 7)))
                   .nResult);
  uint16_t wCrc = calcCrc16(g_abIdata + 0x100, 0x6F00);
  EXPECT_EQ(wCrc, getLe16(g_abIdata));
  EXPECT_EQ(1, g_abIdata[0x100]);
  EXPECT_EQ(38, g_abIdata[0x6FFF]);
}

TEST(HexLoader, MissingFile) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(0, readHexFile("no/such/file.hex"));
  EXPECT_EQ("Could not open: no/such/file.hex",
            testing::internal::GetCapturedStdout());
}

TEST(HexLoader, MainImagePreparation) {
  ASSERT_EQ(1, loadText(hexRecord(0, 0x0100, bytes(4, 1))).nResult);
  EXPECT_EQ(1, prepareMainImage("x"));
  EXPECT_EQ(0u, nMinHexAddress);  // laid out from device address 0
  EXPECT_EQ(0x104u, nMaxHexAddress);

  ASSERT_EQ(1, loadText(hexSegment(0x2000) + hexRecord(0, 0x8100, {1})).nResult);
  testing::internal::CaptureStdout();
  EXPECT_EQ(0, prepareMainImage("x.hex"));
  EXPECT_EQ("Input file holds no code below address 0x20000:x.hex\n",
            testing::internal::GetCapturedStdout());
}

}  // namespace
