// SPDX-License-Identifier: Apache-2.0
// The whole-program driver: runs every case of tests/cases/e2e with the built zvloader against
// zvdevsim on 127.0.0.9, and every case of tests/cases/fleet-programs with zvfleet against several
// zvdevsim on 127.0.0.x, over real sockets (what needs real processes: signals, pipes, ICMP; the
// rest of zvfleet's cases run in process, fleet_cases_test.cc), and compares the transcript
// (console output, exit status, the files a run wrote, the devices' consoles) with the case's
// golden file.  Of the case language (case_file.h) it takes:
//   device [ADDRESS] OPTIONS   a simulated device for the next run (quiet, on 127.0.0.9 or the
//                      address); with -c N it ends by itself after N commits, else it is stopped
//                      when the run is over
//   run PROGRAM ARGS   a run of zvloader or zvfleet
//   during TEXT FILE echo-replies on   once FILE shows TEXT, the system answers echo again
//   echo-replies on|off   whether the system answers ICMP echo requests to its addresses (only in
//                      a private network namespace: see in_private_network.sh)
//   interrupt-on TEXT [FILE]   the next run is interrupted (as Ctrl+C would) once its console (or
//                      FILE) shows TEXT
//   show FILE          the file's text
//   needs loopback-devices   skip the case where devices on 127.0.0.x cannot be told apart (Wine:
//                      see loopback.h)
//   needs private-network   skip the case outside a private network namespace
// zvfleet's console is shown as a terminal would show it at the end (its live table drawn and taken
// away).  Times of day, durations and the report timeline's moments (T) read DD hh:mm:ss and N.N s;
// the System Error text is left out, as it differs between systems.  zvfleet's event lines, which
// interleave as the devices go, are grouped per device.  (A device's log, whose lines of several
// processes interleave, is shown by the in-process cases.)
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <regex>

#include "tests/support/case_file.h"
#include "tests/support/loopback.h"
#include "tests/support/programs.h"

namespace {

const std::string SOURCE_DIR = ZV_SOURCE_DIR;
const std::string CASES = SOURCE_DIR + "/tests/cases/";

struct Device {
  std::string name;    // in the transcript: "device", or "device ADDRESS"
  std::string output;  // its report
  PlatChild child;
  bool bEndsItself;
};

std::vector<std::string> splitLines(const std::string &text) {
  std::vector<std::string> lines;
  for (size_t at = 0, end; at < text.size(); at = end + 1) {
    end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(at, end - at));
  }
  return lines;
}

std::string joinLines(const std::vector<std::string> &lines) {
  std::string text;
  for (const std::string &line : lines) text += line + "\n";
  return text;
}

// zvfleet's output and files with what changes from run to run made constant (see the top).
std::string fleetText(const std::string &raw) {
  static const std::pair<std::regex, const char *> aRules[] = {
      {std::regex(R"(\b\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\b)"), "YYYY-MM-DD hh:mm:ss"},
      {std::regex(R"(\b\d\d \d\d:\d\d:\d\d\b)"), "DD hh:mm:ss"},
      {std::regex(R"((^|\n)\d\d:\d\d:\d\d )"), "$1hh:mm:ss "},
      {std::regex(R"(\b\d+\.\d s\b)"), "N.N s"},
      {std::regex(R"(("duration_s": |"online_after_s": |"elapsed_s": |,)\d+\.\d(\n|\}|,))"), "$1N.N$2"},
      {std::regex(R"(\[\d+, ")"), "[T, \""},  // a timeline's moments
      {std::regex(R"(System Error: [^\n]* User Message: )"), "System Error: (text) User Message: "},
      {std::regex(R"("workstation": "[^"]*")"), "\"workstation\": \"(this one)\""}};
  std::string text = withoutTimes(raw);
  for (const auto &rule : aRules) text = std::regex_replace(text, rule.first, rule.second);
  // Random run ids and salts, numbered in the order they appear; hashes salted with them.
  text = std::regex_replace(text, std::regex(R"("line_sha256": "[0-9a-f]{64}")"),
                            "\"line_sha256\": \"(salted)\"");
  std::vector<std::string> ids;
  std::string numbered;
  std::regex id(R"(\b[0-9a-f]{32}\b)");
  auto last = text.cbegin();
  for (std::sregex_iterator at(text.begin(), text.end(), id), end; at != end; ++at) {
    size_t n = std::find(ids.begin(), ids.end(), at->str()) - ids.begin();
    if (n == ids.size()) ids.push_back(at->str());
    numbered.append(last, (*at)[0].first).append("(id " + std::to_string(n + 1) + ")");
    last = (*at)[0].second;
  }
  text = numbered.append(last, text.cend());
  std::vector<std::string> lines = splitLines(text);
  auto isEvent = [](const std::string &line) { return line.compare(0, 9, "hh:mm:ss ") == 0; };
  auto device = [](const std::string &line) { return line.substr(9, line.find(' ', 9) - 9); };
  for (auto at = lines.begin(); at != lines.end();) {
    auto end = std::find_if_not(at, lines.end(), isEvent);
    std::stable_sort(at, end, [&](const std::string &a, const std::string &b) { return device(a) < device(b); });
    at = end == lines.end() ? end : end + 1;
  }
  return joinLines(lines);
}

// The devices' consoles after the run.
void addDeviceReports(std::vector<Device> *pDevices, Transcript *pTranscript) {
  for (const Device &device : *pDevices) {
    finishProgram(device.child, device.bEndsItself ? CHILD_TIME_LIMIT_MS : 0);
    for (const std::string &line : splitLines(readOutput(device.output)))
      pTranscript->line(device.name + ": " + line);
  }
  pDevices->clear();
}

// Set by in_private_network.sh, which runs the test in a network namespace of its own.
bool inPrivateNetwork() { return getenv("ZV_PRIVATE_NETWORK") != nullptr; }

// Switches the system's echo replies, in the private namespace only.
void setEchoReplies(const std::string &state, int nLine) {
  if (!inPrivateNetwork() || (state != "on" && state != "off")) {
    ADD_FAILURE() << "line " << nLine << ": echo-replies on|off, in a private network only";
    return;
  }
  FILE *pFile = fopen("/proc/sys/net/ipv4/icmp_echo_ignore_all", "w");
  ASSERT_NE(nullptr, pFile) << "line " << nLine;
  fputs(state == "on" ? "0\n" : "1\n", pFile);
  EXPECT_EQ(0, fclose(pFile)) << "line " << nLine;
}

class E2ECase : public testing::TestWithParam<std::string> {};

TEST_P(E2ECase, Transcript) {
  if (!devicePortsFree())
    GTEST_SKIP() << "cannot bind " DEVICE_ADDRESS ":69 and port 9029: run as root or in a "
                    "private network namespace";
  std::vector<CaseLine> lines = readCase(
      CASES + GetParam() + ".case", {"needs", "echo-replies", "device", "during", "interrupt-on", "run", "show"});
  ScratchDir scratch;
  Transcript transcript;
  std::vector<Device> devices;
  std::string interruptAt, interruptIn, echoAt, echoIn, echoState;
  for (const CaseLine &line : lines) {
    if (applyFileCommand(line, SOURCE_DIR)) continue;
    if (line.command == "#") {
      transcript.line(line.args[0]);
    } else if (line.command == "needs" && line.args == std::vector<std::string>{"loopback-devices"}) {
      if (!loopbackDevicesApart()) GTEST_SKIP() << "devices on 127.0.0.x are not told apart here";
    } else if (line.command == "needs" && line.args == std::vector<std::string>{"private-network"}) {
      if (!inPrivateNetwork()) GTEST_SKIP() << "runs in a private network namespace only";
    } else if (line.command == "echo-replies") {
      setEchoReplies(line.args[0], line.nLine);
    } else if (line.command == "device") {
      bool bAddress = !line.address.empty();
      std::string address = bAddress ? line.address : DEVICE_ADDRESS;
      const std::vector<std::string> &options = line.args;
      Device device{bAddress ? "device " + address : "device",
                    bAddress ? "device-" + address + ".out" : "device.out", 0,
                    std::find(options.begin(), options.end(), "-c") != options.end()};
      ASSERT_TRUE(startDevice(options, device.output, &device.child, address)) << "line " << line.nLine;
      devices.push_back(device);
    } else if (line.command == "during" && line.args[2] == "echo-replies") {
      echoAt = line.args[0];
      echoIn = line.args[1];
      echoState = line.args[3];
    } else if (line.command == "interrupt-on") {
      interruptAt = line.args[0];
      interruptIn = line.args.size() == 2 ? line.args[1] : "run.out";
    } else if (line.command == "run") {
      transcript.line("$ " + commandText(line.args));
      markFiles();
      PlatChild tool;
      ASSERT_TRUE(startProgram(line.args, "run.out", &tool)) << "line " << line.nLine;
      int nStatus = -1;
      if (!echoAt.empty()) {
        EXPECT_TRUE(waitForOutput(echoIn, echoAt, &tool, &nStatus)) << "line " << line.nLine;
        setEchoReplies(echoState, line.nLine);
        echoAt.clear();
      }
      if (!interruptAt.empty() && tool != 0) {
        EXPECT_TRUE(waitForOutput(interruptIn, interruptAt, &tool, &nStatus)) << "line " << line.nLine;
        if (tool != 0) platStopChild(tool);
      }
      interruptAt.clear();
      if (tool != 0) nStatus = finishProgram(tool, CHILD_TIME_LIMIT_MS);
      bool bFleet = line.args[0] == "zvfleet";
      std::string output = readOutput("run.out");
      output = bFleet ? fleetText(screenText(output)) : withoutTimes(output);
      transcript.console(output.data(), output.size());
      transcript.line(nStatus < 0 ? "stopped" : "exit " + std::to_string(nStatus));
      for (const std::string &written : writtenFiles())  // zvfleet's are shown
        if (!bFleet && written.compare(6, 7, "run.out") != 0 && written.compare(6, 6, "device") != 0)
          transcript.line(written);
      addDeviceReports(&devices, &transcript);
    } else if (line.command == "show") {
      transcript.line("--- " + line.args[0]);
      std::string text = fleetText(readOutput(line.args[0]));
      transcript.console(text.data(), text.size());
    } else {
      ADD_FAILURE() << "line " << line.nLine << ": " << line.command << " " << commandText(line.args);
    }
  }
  expectGolden(CASES + GetParam() + ".out", transcript.text());
}

std::vector<std::string> casesOf(const std::string &folder) {
  std::vector<std::string> names = caseNames(CASES + folder);
  for (std::string &name : names) name = folder + "/" + name;
  return names;
}

std::string testName(const testing::TestParamInfo<std::string> &info) {
  return info.param.substr(info.param.find('/') + 1);
}

INSTANTIATE_TEST_SUITE_P(E2E, E2ECase, testing::ValuesIn(casesOf("e2e")), testName);
INSTANTIATE_TEST_SUITE_P(Fleet, E2ECase, testing::ValuesIn(casesOf("fleet-programs")), testName);

}  // namespace
