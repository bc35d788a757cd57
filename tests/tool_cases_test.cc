// SPDX-License-Identifier: Apache-2.0
// The in-process driver: runs every case of tests/cases/tool (zvloader) and tests/cases/inspect
// (zvinspect, with zvloader building its inputs) against the platform stand-in with its simulated
// device and compares the transcript (console output, datagrams both ways, exit status, files
// written, sockets left open after a failed setup) with the case's golden file.  Of the case
// language (case_file.h) it takes:
//   device [ADDRESS] OPTIONS  the simulated device, zvdevsim's options and
//                       faults (ADDRESS: its -a)
//   fail KIND [N]       in the next run the N-th (default 1st) call of a
//                       platform operation fails: socket bind sendto thread
//                       wait recv emptywake (a wake with nothing to read
//                       1 s into the wait), write (every write to a new
//                       output file),
//                       startup eventselect addresstext (no N)
//   error CODE [TEXT]   the error code that failures leave pending, and the
//                       system's text for it (without its line end)
//   run PROGRAM ARGS    a run of zvloader or zvinspect, as from a fresh start
//   times               the datagram lines of the runs that follow end
//                       with the virtual time they went or were read
//   terminal [dumb|no-color]  standard output is a terminal, TERM is
//                       xterm (or dumb) and NO_COLOR empty (or set)
// device, error, times and terminal hold for the runs that follow them.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include "app/loader.h"
#include "base/settings.h"
#include "image/image_store.h"
#include "net/receive_channel.h"
#include "tests/fakes/fake_platform.h"
#include "tests/support/case_file.h"
#include "tools/zvinspect/inspect.h"

namespace {

const std::string SOURCE_DIR = ZV_SOURCE_DIR;
const std::string CASES = SOURCE_DIR + "/tests/cases";

// The cases of a folder of CASES, each as FOLDER/NAME.
std::vector<std::string> casesIn(const std::string &folder) {
  std::vector<std::string> cases;
  for (const std::string &name : caseNames(CASES + "/" + folder)) cases.push_back(folder + "/" + name);
  return cases;
}

std::string caseName(const testing::TestParamInfo<std::string> &info) {
  return info.param.substr(info.param.find('/') + 1);
}

struct Program {
  const char *pszName;
  int (*pfnMain)(int, char **);
} const s_aPrograms[] = {{"zvloader", runZvloader}, {"zvinspect", runZvinspect}};

void setFailure(const CaseLine &line, FakeFailures *pFail) {
  const std::string &kind = line.args.empty() ? "" : line.args[0];
  int n = line.args.size() > 1 ? (int)caseNumber(line.args[1]) : 1;
  struct Counted {
    const char *pszKind;
    int FakeFailures::*pnField;
  } const aCounted[] = {{"socket", &FakeFailures::nSocket}, {"bind", &FakeFailures::nBind},
                        {"sendto", &FakeFailures::nSendTo}, {"thread", &FakeFailures::nThread},
                        {"wait", &FakeFailures::nWait},     {"recv", &FakeFailures::nRecv},
                        {"emptywake", &FakeFailures::nEmptyWake},
                        {"write", &FakeFailures::nWrite}};
  for (const Counted &c : aCounted)
    if (kind == c.pszKind) {
      pFail->*c.pnField = n;
      return;
    }
  if (kind == "startup") pFail->bStartup = true;
  else if (kind == "eventselect") pFail->bEventSelect = true;
  else if (kind == "addresstext") pFail->bAddressText = true;
  else ADD_FAILURE() << "line " << line.nLine << ": unknown failure " << kind;
}

void runProgram(const CaseLine &line, const FakeRun &fake, Transcript *pTranscript) {
  pTranscript->line("$ " + commandText(line.args));
  const Program *pProgram = nullptr;
  for (const Program &p : s_aPrograms)
    if (!line.args.empty() && line.args[0] == p.pszName) pProgram = &p;
  ASSERT_NE(nullptr, pProgram) << "line " << line.nLine;
  std::vector<char *> argv;
  for (const std::string &arg : line.args) argv.push_back(const_cast<char *>(arg.c_str()));
  argv.push_back(nullptr);
  markFiles();
  fakeBegin(fake, pTranscript);
  pTranscript->forgetConsole();
  int nStatus = pProgram->pfnMain((int)line.args.size(), argv.data());
  pTranscript->line(nStatus == FAKE_STOPPED ? "stopped (Ctrl+C)" : "exit " + std::to_string(nStatus & 0xFF));
  if (fakeFailedSocketsOpen() > 0)
    pTranscript->line(std::to_string(fakeFailedSocketsOpen()) + " sockets left open after a failed setup");
  for (const std::string &written : writtenFiles()) pTranscript->line(written);
}

class ToolCase : public testing::TestWithParam<std::string> {};

TEST_P(ToolCase, Transcript) {
  std::vector<CaseLine> lines = readCase(CASES + "/" + GetParam() + ".case", {"device", "fail", "error", "times", "terminal", "run"});
  ScratchDir scratch;
  Transcript transcript;
  FakeRun fake;
  for (const CaseLine &line : lines) {
    if (applyFileCommand(line, SOURCE_DIR)) continue;
    if (line.command == "#") {
      transcript.line(line.args[0]);
    } else if (line.command == "device") {
      std::vector<char *> argv;
      std::string a = "-a";
      if (!line.address.empty()) argv = {&a[0], const_cast<char *>(line.address.c_str())};
      for (const std::string &arg : line.args) argv.push_back(const_cast<char *>(arg.c_str()));
      fake.bDevice = true;
      ASSERT_EQ(CLI_RUN, simParseOptions((int)argv.size(), argv.data(), &fake.device))
          << "line " << line.nLine;
    } else if (line.command == "fail") {
      setFailure(line, &fake.fail);
    } else if (line.command == "error") {
      fake.fail.nPendingError = (int)strtol(line.args[0].c_str(), nullptr, 0);
      fake.fail.errorText = line.args.size() > 1 ? line.args[1] : "";
    } else if (line.command == "times") {
      fake.bTimes = true;
    } else if (line.command == "terminal") {
      fake.bTerminal = true;
      setCaseTerminal(line);
    } else if (line.command == "run") {
      runProgram(line, fake, &transcript);
      FakeFailures none;
      none.nPendingError = fake.fail.nPendingError;
      none.errorText = fake.fail.errorText;
      fake.fail = none;
    }
  }
  expectGolden(CASES + "/" + GetParam() + ".out", transcript.text());
}

INSTANTIATE_TEST_SUITE_P(Tool, ToolCase, testing::ValuesIn(casesIn("tool")), caseName);
INSTANTIATE_TEST_SUITE_P(Inspect, ToolCase, testing::ValuesIn(casesIn("inspect")), caseName);

// Each case replays runs in one process: the tool's reset leaves every process-wide variable as a
// fresh process finds it.
TEST(ToolState, ResetGivesWhatAFreshProcessFinds) {
  int nEvent = 0;
  strcpy(g_szIpAddress, "10.0.0.1");
  strcpy(g_szPassword, "pw");
  strcpy(g_szFileName, "f.hex");
  g_szKey[SETTING_KEY_SIZE - 1] = g_bModel = g_bFileType = 3;
  g_bEncrypted = g_bFirstBlockOnly = 0;
  g_usDebugPort = g_usUpdatePort = 1;
  g_abImage[IMAGE_SIZE - 1] = g_abIdata[IDATA_SIZE - 1] = 1;
  nMinHexAddress = nMaxHexAddress = 5;
  g_hRecvEvent = &nEvent;
  resetZvloaderState();
  EXPECT_STREQ(DEFAULT_IP_ADDRESS, g_szIpAddress);
  EXPECT_EQ(0, g_szPassword[0] | g_szFileName[0] | g_szKey[SETTING_KEY_SIZE - 1] | g_bModel | g_bFileType);
  EXPECT_TRUE(g_bEncrypted && g_bFirstBlockOnly && g_usDebugPort == 9029 && g_usUpdatePort == 69);
  EXPECT_EQ(0u, g_abImage[IMAGE_SIZE - 1] | g_abIdata[IDATA_SIZE - 1] | nMinHexAddress | nMaxHexAddress);
  EXPECT_EQ(nullptr, g_hRecvEvent);
}

}  // namespace
