// The "Dbg>" line forms of the debug listener.
#include <gtest/gtest.h>

#include <string>

#include "monitor/debug_listener.h"

TEST(DebugLine, Forms) {
  PlatTime t = {6, 9, 5, 3};
  struct Case {
    const char *pszSender;
    std::string text;
    std::string line;
  } cases[] = {
      {"127.0.0.1", "boot ok", "Dbg>06 09:05:03 127.0.0.1: boot ok\n"},
      {"10.0.0.7", "", "Dbg>06 09:05:03 10.0.0.7: \n"},
      {"1.2.3.4", "50% %s\n", "Dbg>06 09:05:03 1.2.3.4: 50% %s\n\n"},
      {nullptr, "no address", "Dbg>06 09:05:03 no address\n"},
      {"1.2.3.4", std::string(256, 'z'),
       "Dbg>06 09:05:03 1.2.3.4: " + std::string(256, 'z') + "\n"},
  };
  for (const Case &c : cases) {
    char szLine[400];
    int n = formatDebugLine(szLine, sizeof(szLine), &t, c.pszSender,
                            c.text.c_str());
    EXPECT_EQ(c.line, std::string(szLine, (size_t)n));
  }
  PlatTime late = {31, 23, 59, 59};
  char szLine[64];
  formatDebugLine(szLine, sizeof(szLine), &late, "h", "x");
  EXPECT_STREQ("Dbg>31 23:59:59 h: x\n", szLine);
}
