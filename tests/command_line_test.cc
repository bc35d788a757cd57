// The command-line scan and checks: option names and their case rules,
// values, the usage and version texts, and every ending with status 1.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/settings.h"
#include "tests/fakes/scripted_platform.h"
#include "tests/support/settings_reset.h"

namespace {

const int NO_EXIT = -1000;

struct Scan {
  int nStatus;
  std::string output;
  int bListenOnly;
};

Scan scan(std::vector<std::string> args) {
  resetSettings();
  args.insert(args.begin(), "zvloader");
  std::vector<char *> argv;
  for (std::string &arg : args) argv.push_back(&arg[0]);
  argv.push_back(nullptr);
  Scan result{NO_EXIT, "", 0};
  testing::internal::CaptureStdout();
  try {
    parseCommandLine((int)args.size(), argv.data(), &result.bListenOnly);
  } catch (const ProcessExit &e) {
    result.nStatus = e.nStatus;
  }
  result.output = testing::internal::GetCapturedStdout();
  return result;
}

const std::string USAGE = USAGE_TEXT;

TEST(CommandLine, UsageTextColumns) {
  EXPECT_EQ(0u, USAGE.find("usage: zelvaUnit Loader ZVloader\n"));
  for (const char *psz : {"-IP <IP Address>", "-P <Password>", "-v ", "-no ",
                          "-f <FileName>"}) {
    size_t at = USAGE.find(std::string("\n") + psz);
    ASSERT_NE(std::string::npos, at) << psz;
    // The option column is 23 characters wide.
    EXPECT_EQ(' ', USAGE[at + 23]) << psz;
    EXPECT_NE(' ', USAGE[at + 24]) << psz;
  }
}

TEST(CommandLine, Endings) {
  std::string noType("You have chosen an unavailable file type:");
  struct Case {
    std::vector<std::string> args;
    int nStatus;
    std::string output;
  } cases[] = {
      {{}, 1, USAGE},
      {{"-v", "-x"}, 1, "V2.2\n" + USAGE},
      {{"value"}, 1, USAGE},
      {{"-"}, 1, USAGE},
      {{"-p", "x"}, 1, USAGE},
      {{"-t", "M"}, 1, USAGE},
      {{"-m", "1"}, 1, USAGE},
      {{"-F", "x"}, 1, USAGE},
      {{"-ne"}, 1, USAGE},
      {{"-ea"}, 1, USAGE},
      {{"-IPX", "1"}, 1, USAGE},
      {{"-f"}, 1, USAGE},  // a value missing at the end
      {{"-v", "-K"}, 1, "V2.2\n" + USAGE},
      {{"-f", std::string(256, 'a')}, 1, USAGE},
      {{"-IP", std::string(300, '1')}, 1, USAGE},
      {{"-P", std::string(256, 'p')}, 1, USAGE},
      {{"-NE"}, 1, noType + std::string(1, '\0') + USAGE},
      {{"-NE", "-T", "m"}, 1, noType + "m" + USAGE},
      {{"-NE", "-T", ""}, 1, noType + std::string(1, '\0') + USAGE},
      {{"-NE", "-T", "M", "-M", "4"}, 1, "Wrong quorvaUnit model: 4\n"},
      {{"-NE", "-T", "Main", "-M", "0"}, 1, "Wrong quorvaUnit model: 0\n"},
      {{"-T", "\x02", "-M", "9"}, 1, "Wrong quorvaUnit model: 9\n"},
      {{"-v"}, NO_EXIT, "V2.2\n"},
      {{"-V", "/v"}, NO_EXIT, "V2.2\nV2.2\n"},
      {{"-f", "-v"}, NO_EXIT, ""},
      {{"-NE", "-T", "L", "-M", "4"}, NO_EXIT, ""},
      {{"-T", "M"}, NO_EXIT, ""},
      {{"-f", std::string(255, 'a')}, NO_EXIT, ""},
      {{"-IP", std::string(255, '1')}, NO_EXIT, ""},
      {{"-P", std::string(255, 'p')}, NO_EXIT, ""},
      {{"-K", std::string(300, 'k')}, NO_EXIT, ""},  // a key takes 16 raw bytes
      {{"-v", "-v", "-NO", "-no"}, NO_EXIT, "V2.2\nV2.2\n"},
      {{"-NE", "-NE", "-T", "H", "-T", "L"}, NO_EXIT, ""},
      {{"-T"}, 1, USAGE},
      {{"-M"}, 1, USAGE},
      {{"-P"}, 1, USAGE},
      {{"-K"}, 1, USAGE},
      {{"-Ne"}, 1, USAGE},
      {{"-eA"}, 1, USAGE},
      {{"--v"}, 1, USAGE},
      {{"-v "}, 1, USAGE},
  };
  for (const Case &c : cases) {
    Scan s = scan(c.args);
    std::string name = c.args.empty() ? "(none)" : c.args[0];
    EXPECT_EQ(c.nStatus, s.nStatus) << name << " " << c.args.size();
    EXPECT_EQ(c.output, s.output) << name << " " << c.args.size();
  }
}

TEST(CommandLine, Settings) {
  Scan s = scan({"/ip", "10.1.2.3", "-P", "secret", "-NO", "-f", "a.enc",
                 "-NE", "-EA", "-T", "H", "-M", " +258x", "-k", "0123456789abcdefXYZ"});
  EXPECT_EQ(NO_EXIT, s.nStatus);
  EXPECT_EQ(1, s.bListenOnly);
  EXPECT_STREQ("10.1.2.3", g_szIpAddress);
  EXPECT_STREQ("secret", g_szPassword);
  EXPECT_STREQ("a.enc", g_szFileName);
  EXPECT_EQ(0, g_bEncrypted);
  EXPECT_EQ(0, g_bFirstBlockOnly);
  EXPECT_EQ(FILE_TYPE_HTML, g_bFileType);
  EXPECT_EQ(2, g_bModel);
  EXPECT_EQ(0, memcmp(g_szKey, "0123456789abcdef", 16));

  // A later value replaces the earlier one; fields are cleared behind it.
  scan({"-P", "longpassword", "-P", "short", "-K", "abcdefghij", "-K", "xy"});
  EXPECT_EQ(0, memcmp(g_szPassword, "short\0\0\0\0\0\0\0", 12));
  EXPECT_EQ(0, memcmp(g_szKey, "xy\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 16));
  EXPECT_STREQ(DEFAULT_IP_ADDRESS, g_szIpAddress);

  // -K with an empty value is no key; -T without -NE stays a letter.
  scan({"-K", "", "-T", "L"});
  EXPECT_EQ(0, g_szKey[0]);
  EXPECT_EQ('L', g_bFileType);
}

TEST(CommandLine, ModelReadsLikeAtoi) {
  struct Case {
    const char *pszText;
    int nModel;
  } cases[] = {
      {"258", 2},   {"x", 0},         {"", 0},       {" \t\n3", 3},
      {"-1", 255},  {"+2", 2},        {"2.9", 2},    {"- 2", 0},
  };
  for (const Case &c : cases) {
    scan({"-M", c.pszText});
    EXPECT_EQ(c.nModel, g_bModel) << c.pszText;
  }
  // Any number of digits reads without overflow: the decimal value's low
  // eight bits (10^23 has 23 trailing zero bits).
  scan({"-M", "100000000000000000000000"});
  EXPECT_EQ(0, g_bModel);
  scan({"-M", "100000000000000000000001"});
  EXPECT_EQ(1, g_bModel);
}

}  // namespace
