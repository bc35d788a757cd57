// The update thread through the scripted platform: which loader and which
// transfers run for each kind of file, and how each run ends.
#include <gtest/gtest.h>

#include <string>

#include "app/settings.h"
#include "image/crc16.h"
#include "image/image_store.h"
#include "net/update_thread.h"
#include "tests/fakes/scripted_platform.h"
#include "tests/support/hex_text.h"
#include "tests/support/settings_reset.h"
#include "tests/support/temp_dir.h"
#include "tests/support/update_file_bytes.h"

namespace {

struct RunResult {
  int nStatus;
  std::string output;
  size_t nSent;
};

class UpdateThreadTest : public testing::Test {
 protected:
  void SetUp() override {
    resetSettings();
    resetScriptedPlatform();
  }
  RunResult run(const Bytes &file, std::vector<ScriptStep> script) {
    writeFile(m_dir.path("u"), file);
    strcpy(g_szFileName, m_dir.path("u").c_str());
    g_fake.script.assign(script.begin(), script.end());
    RunResult r{-1000, "", 0};
    testing::internal::CaptureStdout();
    try {
      UpdateThread();
    } catch (const ProcessExit &e) {
      r.nStatus = e.nStatus;
    }
    r.output = testing::internal::GetCapturedStdout();
    size_t at = r.output.find(m_dir.path("u"));
    if (at != std::string::npos) r.output.replace(at, m_dir.path("u").size(), "F");
    r.nSent = g_fake.sent.size();
    return r;
  }
  TempDir m_dir;
};

TEST_F(UpdateThreadTest, RawInputsAndEndings) {
  std::string hex = hexRecord(0, 0, {1, 2, 3});
  std::string noCode = hexSegment(0x2000) + hexRecord(0, 0x8100, {1});
  struct Case {
    const char *pszName;
    int bEncrypted;
    int nType;
    Bytes file;
    std::vector<ScriptStep> script;
    int nStatus;
    std::string output;
  } cases[] = {
      {"raw hex", 0, FILE_TYPE_MAIN, Bytes(hex.begin(), hex.end()),
       {}, 1000, "Getting quorvaUnit model\n"},
      {"hex without code", 0, FILE_TYPE_MAIN, Bytes(noCode.begin(), noCode.end()),
       {}, 1, "Input file holds no code below address 0x20000:F\n"},
      {"empty raw html", 0, FILE_TYPE_HTML, {}, {}, 1, ""},
      {"main shorter than its header", 1, 0, updateFile(0x12, Bytes(7, 1), Bytes(0x7000)),
       {}, 1, "Update file too short for its image header: F\n"},
      {"type 9 runs the model query only", 1, 0, updateFile(0x19, Bytes(264, 1)),
       {}, 1000, "Getting quorvaUnit model\n"},
      {"type 3", 1, 0, updateFile(0x13, Bytes(264, 1)), {}, -1, "Unknown file type\n"},
      {"not an update file", 1, 0, Bytes(20, 0), {}, 1,
       "Wrong Magic Number, This is not an QRVX microcode update file: F"},
  };
  for (const Case &c : cases) {
    resetScriptedPlatform();
    g_bEncrypted = c.bEncrypted;
    g_bFileType = (uint8_t)c.nType;
    g_bModel = 1;
    RunResult r = run(c.file, c.script);
    EXPECT_EQ(c.nStatus, r.nStatus) << c.pszName;
    EXPECT_NE(std::string::npos, r.output.find(c.output)) << c.pszName << ": " << r.output;
  }
}

TEST_F(UpdateThreadTest, SocketFailuresEndOnlyTheThread) {
  g_fake.bBindFails = 1;
  g_fake.nPendingError = 0;
  RunResult r = run(Bytes(), {});
  EXPECT_EQ(-1000, r.nStatus);  // returned, the process goes on
  EXPECT_EQ("bind:\n", r.output);
}

TEST_F(UpdateThreadTest, FailedSendEndsWithStatusOne) {
  g_bEncrypted = 0;
  g_bFileType = FILE_TYPE_HTML;
  g_fake.nSendsBeforeFailure = 0;
  RunResult r = run(Bytes(3, 1), {});
  EXPECT_EQ(1, r.nStatus);
  EXPECT_NE(std::string::npos, r.output.find("transferFile sendto error\n"));
}

}  // namespace
