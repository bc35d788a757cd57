// Fuzzes the command-line scan and checks.  The input, split at its zero
// bytes, is the argument list after the program name.  A rejected line must
// end the process with status 1; an accepted one must leave settings that
// the later parts can rely on.
#include <string.h>

#include <memory>
#include <vector>

#include "app/command_line.h"
#include "app/settings.h"
#include "fuzz/fuzz_support.h"
#include "tests/fakes/scripted_platform.h"
#include "tests/support/settings_reset.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  quietStdout();
  return 0;
}

static bool terminated(const char *pszField) {
  return memchr(pszField, '\0', SETTING_TEXT_SIZE) != NULL;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pbData, size_t nSize) {
  // Each argument in a heap block of its exact size, so that a read past
  // its terminator is caught.
  std::vector<std::unique_ptr<char[]>> args;
  auto addArg = [&args](const uint8_t *pb, size_t n) {
    args.emplace_back(new char[n + 1]);
    memcpy(args.back().get(), pb, n);
    args.back()[n] = '\0';
  };
  addArg((const uint8_t *)"zvloader", 8);
  size_t nStart = 0;
  for (size_t i = 0; i <= nSize; i++) {
    if (i == nSize || pbData[i] == 0) {
      if (nSize > 0) addArg(pbData + nStart, i - nStart);
      nStart = i + 1;
    }
  }
  std::vector<char *> argv;
  for (auto &arg : args) argv.push_back(arg.get());
  argv.push_back(NULL);

  resetSettings();
  int bListenOnly = 0;
  try {
    parseCommandLine((int)args.size(), argv.data(), &bListenOnly);
  } catch (const ProcessExit &exit) {
    FUZZ_CHECK(exit.nStatus == 1);
    return 0;
  }
  FUZZ_CHECK(args.size() >= 2);
  FUZZ_CHECK(terminated(g_szIpAddress) && terminated(g_szPassword) &&
             terminated(g_szFileName));
  if (!g_bEncrypted)
    FUZZ_CHECK(g_bFileType == FILE_TYPE_MAIN || g_bFileType == FILE_TYPE_LOGO ||
               g_bFileType == FILE_TYPE_HTML);
  if (g_bFileType == FILE_TYPE_MAIN) FUZZ_CHECK(g_bModel >= 1 && g_bModel <= 3);
  return 0;
}
