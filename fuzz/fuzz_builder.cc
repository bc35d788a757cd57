// SPDX-License-Identifier: Apache-2.0
// Fuzzes the update file builder: the input, less its first byte, is a
// logo or HTML file (first byte: bit 0), built with or without -EA (bit
// 1).  Every file built reads back as a valid update file of its type.
#include "base/settings.h"
#include "fuzz/fuzz_support.h"
#include "image/update_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pb, size_t n) {
  static bool s_bEntered = (enterScratchDir(), true);
  (void)s_bEntered;
  if (n == 0) return 0;
  writeFile("in.bin", Bytes(pb + 1, pb + n));
  bool bHtml = pb[0] & 1;
  const char *pszOutput = bHtml ? "html.enc" : "logo.enc";
  remove(pszOutput);
  std::vector<std::string> args = {"-NE", "-T", bHtml ? "H" : "L", "-K", "fuzzkey", "-f", "in.bin"};
  if (pb[0] & 2) args.push_back("-EA");
  FUZZ_CHECK(runLoader(args) == 1);
  Bytes file = readFile(pszOutput);
  FUZZ_CHECK(file.empty() == (bHtml && n == 1));
  if (file.empty()) return 0;
  setDefaultSettings();
  FUZZ_CHECK(readUpdateFile(pszOutput) == (int32_t)(file.size() - UPDATE_FILE_HEADER_SIZE));
  FUZZ_CHECK(g_bFileType == (bHtml ? FILE_TYPE_HTML : FILE_TYPE_LOGO));
  return 0;
}
