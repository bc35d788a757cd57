// The error report line: with and without a pending code, the "Errno = "
// form, the text size limit, and per-cent signs printed unchanged.
#include <gtest/gtest.h>

#include <string>

#include "app/console.h"
#include "tests/fakes/scripted_platform.h"

namespace {

std::string report(int nCode, const std::string &text, const char *pszMessage) {
  resetScriptedPlatform();
  g_fake.nPendingError = nCode;
  g_fake.systemText = text;
  testing::internal::CaptureStdout();
  printError("%s", pszMessage);
  return testing::internal::GetCapturedStdout();
}

TEST(PrintError, LineForms) {
  struct Case {
    int nCode;
    std::string text;
    const char *pszMessage;
    std::string line;
  } cases[] = {
      {0, "", "bind:", "bind:\n"},
      {98, "Address already in use", "bind:",
       "System Error: Address already in use (98) User Message: bind:\n"},
      {10040, "", "recvfrom:", "System Error: Errno = 10040 User Message: recvfrom:\n"},
      {-5, "odd", "x", "System Error: odd (-5) User Message: x\n"},
      {7, "100% sure", "50% done", "System Error: 100% sure (7) User Message: 50% done\n"},
      // The text must leave 14 characters of the 1000 free.
      {1, std::string(986, 't'), "m", "System Error: " + std::string(986, 't') + " (1) User Message: m\n"},
      {1, std::string(987, 't'), "m", "System Error: Errno = 1 User Message: m\n"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(c.line, report(c.nCode, c.text, c.pszMessage)) << c.nCode;
}

TEST(PrintError, FormatIsNotReadTwice) {
  resetScriptedPlatform();
  testing::internal::CaptureStdout();
  printError("socket failed %s", "%d%n");
  EXPECT_EQ("socket failed %d%n\n", testing::internal::GetCapturedStdout());
}

TEST(PrintError, LongMessageIsCut) {
  std::string line = report(0, "", std::string(20000, 'x').c_str());
  EXPECT_EQ(std::string(9999, 'x') + "\n", line);
}

TEST(ConsolePrintf, KeepsZeroBytes) {
  testing::internal::CaptureStdout();
  consolePrintf("a%cb", 0);
  EXPECT_EQ(std::string("a\0b", 3), testing::internal::GetCapturedStdout());
}

}  // namespace
