// Fuzzes the debug listener's handling of one datagram: the input is the
// datagram, handed over as a receive leaves it (longer than 256 bytes: the
// first 256 bytes and the truncated result).  The printed line is then
// formed again into buffers of every size the input picks, each a heap
// block of its exact size, and compared with the expected text.
#include <string.h>

#include <memory>
#include <string>

#include "fuzz/fuzz_support.h"
#include "monitor/debug_listener.h"
#include "platform/platform.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  quietStdout();
  return 0;
}

// Forms the line into a buffer of exactly nSize bytes and checks it
// against the expected text, cut where the buffer ends.
static void checkLine(int nSize, const PlatTime &time, const char *pszSender,
                      const char *pszText, const std::string &expected) {
  std::unique_ptr<char[]> line(new char[nSize]);
  int n = formatDebugLine(line.get(), nSize, &time, pszSender, pszText);
  size_t nWanted = expected.size();
  if (nWanted > (size_t)nSize - 1) nWanted = (size_t)nSize - 1;
  FUZZ_CHECK((size_t)n == nWanted && line[n] == '\0');
  FUZZ_CHECK(memcmp(line.get(), expected.data(), nWanted) == 0);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pbData, size_t nSize) {
  std::unique_ptr<char[]> buffer(new char[DEBUG_DATAGRAM_SIZE + 1]);
  size_t nCopied = nSize < DEBUG_DATAGRAM_SIZE ? nSize : DEBUG_DATAGRAM_SIZE;
  memcpy(buffer.get(), pbData, nCopied);
  int nReceived =
      nSize > DEBUG_DATAGRAM_SIZE ? PLAT_RECV_TRUNCATED : (int)nSize;
  PlatAddress from = {0x0100007F, 9029};
  printDebugDatagram(buffer.get(), nReceived, &from);
  FUZZ_CHECK(buffer[nCopied] == '\0');

  std::string text(buffer.get());  // up to the first zero byte
  FUZZ_CHECK(text.size() <= nCopied &&
             memcmp(text.data(), pbData, text.size()) == 0);
  PlatTime time = {31, 23, 59, 7};
  std::string withSender = "Dbg>31 23:59:07 10.0.0.20: " + text + "\n";
  std::string withoutSender = "Dbg>31 23:59:07 " + text + "\n";
  int nShort = nSize > 0 ? 1 + pbData[0] % (int)(withSender.size() + 1) : 1;
  for (int nLineSize : {(int)withSender.size() + 1, nShort}) {
    checkLine(nLineSize, time, "10.0.0.20", buffer.get(), withSender);
    checkLine(nLineSize, time, NULL, buffer.get(), withoutSender);
  }
  return 0;
}
