// Project rules that the compiler cannot check: operating-system
// conditionals stand only in the platform layer and in test fixtures that
// need an OS-specific command.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

TEST(SourceRules, OsConditionalsOnlyInThePlatformLayer) {
  const fs::path root = ZV_SOURCE_DIR;
  if (!fs::exists(root / "platform")) GTEST_SKIP() << "sources not present";
  const char *const apszAllowed[] = {"platform/", "tests/support/process.cc",
                                     "tests/support/loopback.cc"};
  const char *const apszMarkers[] = {"_WIN32", "_MSC_VER", "__MINGW", "WIN64",
                                     "__linux", "__unix", "__APPLE__"};
  int nFiles = 0;
  for (const char *pszDir : {"app", "image", "crypto", "net", "monitor",
                             "platform", "tools", "tests", "fuzz", "bench"}) {
    if (!fs::exists(root / pszDir)) continue;
    for (const auto &entry : fs::recursive_directory_iterator(root / pszDir)) {
      std::string ext = entry.path().extension().string();
      if (ext != ".cc" && ext != ".h") continue;
      std::string rel = fs::relative(entry.path(), root).generic_string();
      if (rel == "tests/source_rules_test.cc") continue;
      nFiles++;
      bool bAllowed = false;
      for (const char *psz : apszAllowed)
        if (rel.compare(0, strlen(psz), psz) == 0) bAllowed = true;
      if (bAllowed) continue;
      std::ifstream in(entry.path());
      std::string line;
      for (int n = 1; std::getline(in, line); n++)
        for (const char *pszMarker : apszMarkers)
          EXPECT_EQ(std::string::npos, line.find(pszMarker))
              << rel << ":" << n << ": " << line;
    }
  }
  EXPECT_GT(nFiles, 20);
}
