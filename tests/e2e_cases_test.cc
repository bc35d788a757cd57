// The whole-program driver: runs every case of tests/cases/e2e with the
// built zvloader against zvdevsim on 127.0.0.9 over real sockets, and
// compares the transcript (the tool's console output with the debug lines'
// times as DD hh:mm:ss, its exit status, the files it wrote, and what the
// device reported) with the case's golden file.  Besides the file commands
// of case_file.h a case holds:
//   device OPTIONS     a simulated device for the next run (quiet, on
//                      127.0.0.9); with -c N it ends by itself after N
//                      commits, else it is stopped when the run is over
//   run zvloader ARGS  a run of the built program
// Cases named long_* wait out the 45-second resend cycle.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/case_file.h"
#include "tests/support/programs.h"

namespace {

const std::string SOURCE_DIR = ZV_SOURCE_DIR;
const std::string CASES = SOURCE_DIR + "/tests/cases/e2e";

// The device's report after the run: every line but "listening".
void addDeviceReport(PlatChild device, bool bEndsItself, Transcript *pTranscript) {
  finishProgram(device, bEndsItself ? CHILD_TIME_LIMIT_MS : 0);
  std::string report = readOutput("device.out");
  for (size_t at = 0, end; (end = report.find('\n', at)) != std::string::npos; at = end + 1)
    if (report.compare(at, 9, "listening") != 0)
      pTranscript->line("device: " + report.substr(at, end - at));
}

class E2ECase : public testing::TestWithParam<std::string> {};

TEST_P(E2ECase, Transcript) {
  if (!devicePortsFree())
    GTEST_SKIP() << "cannot bind " DEVICE_ADDRESS ":69 and port 9029: run as root or in a "
                    "private network namespace";
  std::vector<CaseLine> lines = readCase(CASES + "/" + GetParam() + ".case");
  ScratchDir scratch;
  Transcript transcript;
  PlatChild device = 0;
  bool bDevice = false, bEndsItself = false;
  for (const CaseLine &line : lines) {
    if (applyFileCommand(line, SOURCE_DIR)) continue;
    if (line.command == "#") {
      transcript.line(line.args[0]);
    } else if (line.command == "device") {
      ASSERT_TRUE(bDevice = startDevice(line.args, "device.out", &device)) << "line " << line.nLine;
      bEndsItself = std::find(line.args.begin(), line.args.end(), "-c") != line.args.end();
    } else if (line.command == "run") {
      transcript.line("$ " + commandText(line.args));
      markFiles();
      PlatChild tool;
      ASSERT_TRUE(startProgram(line.args, "run.out", &tool)) << "line " << line.nLine;
      int nStatus = finishProgram(tool);
      std::string output = withoutTimes(readOutput("run.out"));
      transcript.console(output.data(), output.size());
      transcript.line(nStatus < 0 ? "stopped" : "exit " + std::to_string(nStatus));
      for (const std::string &written : writtenFiles())
        if (written.compare(6, 7, "run.out") != 0 && written.compare(6, 10, "device.out") != 0)
          transcript.line(written);
      if (bDevice) addDeviceReport(device, bEndsItself, &transcript);
      bDevice = false;
    } else {
      ADD_FAILURE() << "line " << line.nLine << ": unknown command " << line.command;
    }
  }
  expectGolden(CASES + "/" + GetParam() + ".out", transcript.text());
}

INSTANTIATE_TEST_SUITE_P(E2E, E2ECase, testing::ValuesIn(caseNames(CASES)),
                         [](const testing::TestParamInfo<std::string> &info) { return info.param; });

}  // namespace
