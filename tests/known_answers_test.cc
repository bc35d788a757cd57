// SPDX-License-Identifier: Apache-2.0
// Runs tests/data/known_answers.txt: check values of the CRC-16, DES known answers under the tool's
// key byte order (modes 2 and 255 encrypt like 1, 0 decrypts, in place too), CBC over several
// blocks both ways, SHA-256, and the companions' JSON strings.
#include <errno.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/console.h"
#include "base/settings.h"
#include "crypto/des.h"
#include "image/hex_loader.h"
#include "image/hex_verdict.h"
#include "image/image_kind.h"
#include "image/image_store.h"
#include "image/output_file.h"
#include "image/update_file_builder.h"
#include "image/update_file.h"
#include "image/crc16.h"
#include "image/file_type.h"
#include "monitor/debug_listener.h"
#include "tools/common/json.h"
#include "tools/common/sha256.h"

namespace {

std::vector<uint8_t> bytes(const std::string &text) {
  if (text == "-") return {};
  if (text.compare(0, 6, "zeros:") == 0) return std::vector<uint8_t>(strtoul(text.c_str() + 6, nullptr, 16));
  std::vector<uint8_t> data;
  for (size_t i = 0; i + 1 < text.size(); i += 2) data.push_back((uint8_t)strtoul(text.substr(i, 2).c_str(), nullptr, 16));
  return data;
}

TEST(KnownAnswers, CrcAndCipher) {
  std::ifstream in(ZV_SOURCE_DIR "/tests/data/known_answers.txt");
  std::string line;
  int nChecked = 0;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string kind, a, b, c;
    fields >> kind >> a >> b >> c;
    SCOPED_TRACE(line);
    if (kind == "crc") {
      std::vector<uint8_t> data = bytes(a);
      EXPECT_EQ(strtoul(b.c_str(), nullptr, 16), calcCrc16(data.data(), (uint32_t)data.size()));
    } else if (kind == "des") {
      std::vector<uint8_t> key = bytes(a), plain = bytes(b), cipher = bytes(c), out(8);
      for (uint8_t bMode : {1, 2, 255}) {
        desCrypt(plain.data(), out.data(), key.data(), bMode);
        EXPECT_EQ(cipher, out);
      }
      out = cipher;
      desCrypt(out.data(), out.data(), key.data(), 0);
      EXPECT_EQ(plain, out);
      std::vector<uint8_t> standard = {key[3], key[2], key[1], key[0], key[7], key[6], key[5], key[4]};
      desCrypt(plain.data(), out.data(), standard.data(), 1);
      EXPECT_EQ(key == standard, out == cipher);
    } else if (kind == "cbc") {
      std::vector<uint8_t> key = bytes(a), data = bytes(b);
      desCbcEncrypt(data.data(), (uint32_t)data.size(), key.data());
      EXPECT_EQ(bytes(c), data);
      desCbcDecrypt(data.data(), (uint32_t)data.size(), key.data());
      EXPECT_EQ(bytes(b), data);
    } else if (kind == "sha256") {
      std::vector<uint8_t> data = bytes(a);
      if (a.compare(0, 2, "a*") == 0) data.assign(strtoul(a.c_str() + 2, nullptr, 10), 'a');
      char szText[SHA256_TEXT_SIZE];
      sha256Text(data.data(), data.size(), szText);
      EXPECT_EQ(b, szText);
    } else if (kind == "json") {
      std::vector<uint8_t> text = bytes(a);
      text.push_back(0);
      char szOut[64];
      int nSize = c.empty() ? (int)sizeof(szOut) : atoi(c.c_str());
      EXPECT_EQ((int)b.size(), jsonString((const char *)text.data(), szOut, nSize));
      EXPECT_EQ(b, szOut);
    } else {
      continue;
    }
    nChecked++;
  }
  EXPECT_EQ(49, nChecked);
}

}  // namespace

// The loaders' results as their callers read them: 1 for a loaded HEX file and for a usable main
// image. A second file read in one process (zvinspect reads a source more than once) starts from an
// empty store: no byte of the first is left behind.
TEST(KnownAnswers, LoaderResults) {
  EXPECT_EQ(1, readHexFile(ZV_SOURCE_DIR "/samples/firmware.hex"));
  EXPECT_EQ(1, prepareMainImage("firmware.hex"));
  EXPECT_EQ(0x6000u, nMaxHexAddress);
  std::string path = testing::TempDir() + "known_answers_store.hex";
  std::ofstream(path) << ":01001000BB34\n:020000022000DC\n:01810000AAD4\n:00000001FF\n";
  ASSERT_EQ(1, readHexFile(path.c_str()));
  EXPECT_EQ(0xAA, g_abIdata[IDATA_LOAD_START - IDATA_BASE]);
  EXPECT_EQ(0xBB, g_abImage[0x10]);
  std::ofstream(path) << ":0100000001FE\n:00000001FF\n";
  ASSERT_EQ(1, readHexFile(path.c_str()));
  EXPECT_EQ(0, g_abIdata[IDATA_LOAD_START - IDATA_BASE]);
  EXPECT_EQ(0, g_abImage[0x10]);
  EXPECT_EQ(0u, nMinHexAddress);
  EXPECT_EQ(1u, nMaxHexAddress);
  std::ofstream(path) << ":0000000000\n:00000001FF\n";  // a record of no bytes: no image
  ASSERT_EQ(1, readHexFile(path.c_str()));
  EXPECT_EQ(0u, nMaxHexAddress);
  remove(path.c_str());
}

// A line of any length, cut or whole, read in one piece or across the reader's blocks, stays within
// the line buffer; the file's last line, without its line feed, may be one character longer.
TEST(KnownAnswers, HexLinesStayInTheirBuffer) {
  for (bool bLast : {false, true})
    for (size_t nLength : {254u, 255u, 256u, 300u, 5000u}) {
      SCOPED_TRACE(nLength + bLast * 100000);
      HexLineReader reader;
      std::string text = std::string(sizeof(reader.abBlock) - 100, '\n') + std::string(nLength, '1') +
                         (bLast ? "" : "\n:\n");
      startHexLinesInMemory(&reader, (const uint8_t *)text.data(), (uint32_t)text.size());
      std::vector<char> line(HEX_LINE_SIZE + 64, '#');
      int n = 0;
      HexLineResult result;
      while ((result = readHexLine(&reader, line.data(), &n)) == HEX_LINE_OK && n == 0) {
      }
      EXPECT_EQ(nLength > 254u + bLast ? HEX_LINE_TOO_LONG : HEX_LINE_OK, result);
      EXPECT_EQ(std::string(64, '#'), std::string(line.data() + HEX_LINE_SIZE, 64));
      EXPECT_EQ(bLast ? HEX_LINE_END : HEX_LINE_OK, readHexLine(&reader, line.data(), &n));
      EXPECT_EQ(bLast ? 0 : 1, n);
    }
}

// The image header keeps the length modulo 64 KiB: read from a file's whole payload or found in a
// longer run of pages, it gives the length that was written, a length of 64 KiB included; a damaged
// page fails it.
TEST(KnownAnswers, ImageHeaderReadsWhatWasWritten) {
  EXPECT_EQ(IMAGE_HEADER_SIZE + PAGE_SIZE, payloadLength(0));  // never less than a page
  for (uint32_t ulLength : {1u, 256u, 257u, 0x10000u, 0x10001u, 0x20100u}) {
    SCOPED_TRACE(ulLength);
    std::vector<uint8_t> ab(payloadLength(ulLength) + 3 * PAGE_SIZE);
    for (uint32_t i = 0; i < ulLength; i++) ab[IMAGE_HEADER_SIZE + i] = (uint8_t)(i * 7 + 1);
    uint32_t ulPayload = putImageHeader(ab.data(), ulLength);
    ImageHeaderReading whole, found;
    EXPECT_EQ(1, readImageHeader(ab.data(), ulPayload, 1, &whole));
    EXPECT_EQ(1, readImageHeader(ab.data(), (uint32_t)ab.size(), 0, &found));
    EXPECT_EQ(ulLength, whole.ulLength);
    EXPECT_EQ(ulLength, found.ulLength);
    EXPECT_EQ(ulPayload, found.ulPayload);
    ab[ulPayload - 1] ^= 1;
    EXPECT_EQ(0, readImageHeader(ab.data(), ulPayload, 1, &whole));
    EXPECT_EQ(ulLength, whole.ulLength);
    EXPECT_EQ(0, readImageHeader(ab.data(), (uint32_t)ab.size(), 0, &found));
    EXPECT_EQ(0, readImageHeader(ab.data(), IMAGE_HEADER_SIZE - 1, 0, &found));
  }
}

// A logo's header keeps its length modulo 64 KiB: 0 judges the whole payload, and a length beyond
// the payload judges no byte past it.
TEST(KnownAnswers, LogoHeaderLengthBoundsTheTextJudged) {
  std::vector<uint8_t> ab(IMAGE_HEADER_SIZE + IMAGE_TEXT_SPAN + PAGE_SIZE, 'a');
  uint32_t ulPayload = IMAGE_HEADER_SIZE + PAGE_SIZE;
  ab[ulPayload + 8] = 0;  // past the payload
  struct { uint32_t ulLength; uint8_t bAt100; PayloadKind kind; } cases[] = {
      {0x10000, 0, PAYLOAD_LOGO}, {0x6163, 0, PAYLOAD_LOGO}, {0x6163, 'a', PAYLOAD_TEXT_LENGTH}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.ulLength);
    ab[IMAGE_HEADER_LENGTH_AT] = (uint8_t)c.ulLength;
    ab[IMAGE_HEADER_LENGTH_AT + 1] = (uint8_t)(c.ulLength >> 8);
    ab[IMAGE_HEADER_SIZE] = (uint8_t)(c.ulLength - 2);
    ab[IMAGE_HEADER_SIZE + 1] = (uint8_t)((c.ulLength - 2) >> 8);
    ab[IMAGE_HEADER_SIZE + 100] = c.bAt100;
    EXPECT_EQ(c.kind, payloadKind(ab.data(), ulPayload));
  }
  // A logo's first word must be in the payload: one byte short, a page.
  ab[IMAGE_HEADER_LENGTH_AT] = 4, ab[IMAGE_HEADER_LENGTH_AT + 1] = 0;
  ab[IMAGE_HEADER_SIZE] = 2, ab[IMAGE_HEADER_SIZE + 1] = 0;
  EXPECT_EQ(PAYLOAD_LOGO, payloadKind(ab.data(), IMAGE_HEADER_SIZE + 2));
  EXPECT_EQ(PAYLOAD_PAGE, payloadKind(ab.data(), IMAGE_HEADER_SIZE + 1));
}

// Text is what prints, and tab, line feed, form feed and carriage return; only the first
// IMAGE_TEXT_SPAN bytes are judged.
TEST(KnownAnswers, TextIsPrintableOrLayout) {
  for (int b = 0; b < 256; b++) {
    uint8_t ab[2] = {(uint8_t)b, 'a'};
    bool bText = (b >= 0x20 && b != 0x7F) || b == '\t' || b == '\n' || b == '\f' || b == '\r';
    EXPECT_EQ(bText, imageIsText(ab, 2) == 1) << b;
  }
  std::vector<uint8_t> ab(IMAGE_TEXT_SPAN + 1, 'a');
  ab[IMAGE_TEXT_SPAN] = 0;
  EXPECT_EQ(1, imageIsText(ab.data(), (uint32_t)ab.size()));
  ab[IMAGE_TEXT_SPAN - 1] = 0;
  EXPECT_EQ(0, imageIsText(ab.data(), (uint32_t)ab.size()));
}

// A report line longer than its buffer is cut, its line end kept; nothing the tool prints comes
// near it.
TEST(KnownAnswers, OverlongReportLineIsCut) {
  testing::internal::CaptureStdout();
  errno = ENOENT;
  printError("%s", std::string(20000, 'x').c_str());
  // The pending system error prefixes the line; the cut is the same.
  std::string output = testing::internal::GetCapturedStdout();
  ASSERT_EQ(10000u, output.size());
  EXPECT_EQ(std::string(8999, 'x') + "\n", output.substr(1000));
}

// A build whose output name leads to a device refuses it and leaves the name as it was: nothing is
// written, replaced or removed (where /dev/full exists to fill).
TEST(KnownAnswers, OutputOnADeviceIsLeftAlone) {
  std::error_code error;
  std::filesystem::remove("html.enc", error);
  std::filesystem::create_symlink("/dev/full", "html.enc", error);
  if (error || !std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  FILE *pFile = fopen("in.html", "wb");
  ASSERT_NE(nullptr, pFile);
  fputs("abc", pFile);
  fclose(pFile);
  setDefaultSettings();
  g_bEncrypted = 0;
  g_bFileType = FILE_TYPE_HTML;
  strcpy(g_szFileName, "in.html");
  g_szKey[0] = 'k';
  testing::internal::CaptureStdout();
  makeEncryptFile();
  EXPECT_EQ("Reading in the html file to encrypt\nCould not open: html.enc",
            testing::internal::GetCapturedStdout());
  EXPECT_TRUE(std::filesystem::is_symlink("html.enc"));
  EXPECT_TRUE(std::filesystem::exists("/dev/full"));
  remove("html.enc");
  remove("in.html");
}

// The builder reached with a main model other than 1, 2 or 3 (the command line refuses one first)
// names it, reads nothing and writes nothing.
TEST(KnownAnswers, BuilderRefusesAnUnknownMainModel) {
  setDefaultSettings();
  g_bFileType = FILE_TYPE_MAIN;
  g_bModel = 4;
  testing::internal::CaptureStdout();
  makeEncryptFile();
  EXPECT_EQ("Wrong quorvaUnit model: 4\nCannot make an encrypt file\n", testing::internal::GetCapturedStdout());
  EXPECT_FALSE(std::filesystem::exists("main.enc"));
}

// An output whose every new name is taken fails to open and leaves nothing for a later abandon to
// remove; a refusal cut to a short buffer says how much of it was written.
TEST(KnownAnswers, FailuresLeaveOthersAlone) {
  for (int i = 1; i <= 100; i++) fclose(fopen(("taken.enc." + std::to_string(i) + ".new").c_str(), "wb"));
  OutputFile out;
  EXPECT_EQ(OUTPUT_CANNOT_OPEN, openOutputFile(&out, "taken.enc"));
  abandonOutputFile(&out);
  for (int i = 1; i <= 100; i++) EXPECT_EQ(0, remove(("taken.enc." + std::to_string(i) + ".new").c_str()));
  strcpy(out.szNew, "v");  // what an earlier use left
  fclose(fopen("v", "wb"));
  EXPECT_EQ(OUTPUT_NOT_REGULAR, openOutputFile(&out, "."));
  abandonOutputFile(&out);
  EXPECT_EQ(0, remove("v"));
  EXPECT_EQ(OUTPUT_OK, saveOutputFile("one.enc", "x", 1));
  EXPECT_EQ(1u, std::filesystem::file_size("one.enc"));
  remove("one.enc");
}

// A message text given a buffer too short for it is cut there, ends in a NUL inside the buffer and
// says the length that stands there: whole with one byte to spare, cut by one without, cut to one
// character at two.
template <class Text> void expectCutsTruthfully(Text text) {
  char szWhole[512];
  int nWhole = text(szWhole, (int)sizeof(szWhole));
  ASSERT_GT(nWhole, 2);
  ASSERT_EQ((size_t)nWhole, strlen(szWhole));
  for (int nSize : {nWhole + 1, nWhole, 2}) {
    std::string buffer(nSize + 4, '#');
    int nWant = nSize > nWhole ? nWhole : nSize - 1;
    EXPECT_EQ(nWant, text(&buffer[0], nSize)) << szWhole;
    EXPECT_EQ(std::string(szWhole, nWant), buffer.c_str()) << nSize;
    EXPECT_EQ("####", buffer.substr(nSize)) << szWhole;
  }
}

TEST(KnownAnswers, MessagesCutToShortBuffersSayTheirLength) {
  UpdateFileVerdict update = {};
  for (int nRefusal : {UPDATE_FILE_WRONG_MAGIC, UPDATE_FILE_WRONG_MODEL, UPDATE_FILE_TOO_LARGE}) {
    update.nRefusal = nRefusal;
    expectCutsTruthfully([&](char *p, int n) { return updateFileRefusalText(&update, "x.enc", p, n); });
  }
  HexVerdict hex = {};
  for (int nRefusal : {HEX_REFUSED_FORMAT, HEX_REFUSED_BOUNDS, HEX_REFUSED_TOO_LARGE}) {
    hex.nRefusal = nRefusal;
    expectCutsTruthfully([&](char *p, int n) { return hexRefusalText(&hex, "x.hex", p, n); });
  }
  PlatTime time = {9, 8, 7, 6};
  for (const char *pszSender : {"10.0.0.1", (const char *)NULL})
    expectCutsTruthfully([&](char *p, int n) { return formatDebugLine(p, n, &time, pszSender, "up"); });
  expectCutsTruthfully([](char *p, int n) { return mainModelText(9, p, n); });
  expectCutsTruthfully([](char *p, int n) { fileTypeLettersText(p, n); return (int)strlen(p); });
  expectCutsTruthfully([](char *p, int n) { mainModelsText(p, n); return (int)strlen(p); });
}
