// SPDX-License-Identifier: Apache-2.0
// The in-process driver of zvfleet's cases: runs every case of tests/cases/fleet against the
// platform stand-in, zvfleet and each child zvloader in this process on one virtual clock, with
// simulated devices behind their addresses, and compares the transcript (zvfleet's console and
// standard error, its exit status, what each device reported, the files shown) with the case's
// golden file.  Times of day and durations are those of the virtual clock: exact.  Of the case
// language (case_file.h) it takes:
//   device ADDRESS OPTIONS  a simulated device for the next zvfleet run, zvdevsim's options and
//                       faults (-c N: it serves no more after N commits)
//   echo ADDRESS N|never    in the next run, the device answers ICMP echo after N unanswered
//                       requests, or never (the default); "echo none": no echo can be had at all
//   unwritable PATH     in the next run, appends to the file PATH fail, no folder PATH can be made,
//                       no file replace it and no room be held at it
//   disk BYTES          in the next run, appends fail beyond BYTES (a file removed gives its bytes
//                       back)
//   port-taken          in the next run another program holds the debug port
//   port-deaf           in the next run the debug port is bound, but no event tells its datagrams
//   unreachable ADDRESS in the next run no datagram can be sent to ADDRESS
//   requests            in the next run the devices report as zvdevsim without -q (each request and
//                       reply)
//   no-random           in the next run the system gives no random bytes
//   nothing-beside      in the next run no program is found beside zvfleet
//   process PID         in the next run a process of that id runs too
//   interrupt MS        the next run is interrupted (Ctrl+C) at MS ms of its virtual clock
//   remove MS PATH [TEXT]  in the next run, PATH is removed at MS ms (with TEXT: replaced by it)
//   stop-takes MS       in the next run, a stopped tool ends MS ms later
//   terminal [dumb|no-color]  in the next run zvfleet's standard output is a terminal (TERM and
//                       NO_COLOR as case_file.h says)
//   kill-each           the next run is run whole, then again killed at every moment its report's
//                       timelines name, each time its record read back as --summary and --resume
//                       read it (and again with a line cut at its journal's end) and judged against
//                       the stand-in devices
//   kill MS             the next run is killed (kill -9) at MS ms: its console ends there, and the
//                       files it wrote are left as they stood on disk at that moment
//   run zvloader|zvfleet ARGS, show FILE [TEXT]  as case_file.h says
//   keep FILE           shown, and kept for the browser test
//   reindent FILE [N]   FILE (JSON) laid out anew by a JSON tool: two spaces, keys sorted; with N,
//                       without its "devices" entry N (from 1)
// zvfleet finds zvloader beside it; it is this process's library.  The n-th zvfleet run of a case
// has the process id 4241 + n on the workstation bench-7.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "app/loader.h"
#include "base/tool_texts.h"
#include "image/image_store.h"
#include "tests/fakes/fake_platform.h"
#include "tests/support/case_file.h"
#include "tools/zvdevsim/device.h"
#include "tools/zvfleet/journal.h"
#include "tools/zvfleet/run.h"
#include "tools/zvfleet/tool_output.h"

namespace {

const std::string SOURCE_DIR = ZV_SOURCE_DIR;
const std::string CASES = SOURCE_DIR + "/tests/cases/fleet";
const char LOADER[] = ".bin/zvloader";
const char SELF[] = ".bin/zvfleet";

std::string caseName(const testing::TestParamInfo<std::string> &info) { return info.param; }

std::vector<char *> argvOf(const std::vector<std::string> &args) {
  std::vector<char *> argv;
  for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
  argv.push_back(nullptr);
  return argv;
}

void runLoader(const std::vector<std::string> &args, Transcript *pTranscript) {
  std::vector<char *> argv = argvOf(args);
  markFiles();
  fakeBegin(FakeRun(), pTranscript);
  int nStatus = runZvloader((int)args.size(), argv.data());
  pTranscript->line("exit " + std::to_string(nStatus & 0xFF));
  for (const std::string &written : writtenFiles()) pTranscript->line(written);
}

// The files this process has open, where the system lists them.  Under wine (which names its loader
// in the environment) /proc/self/fd lists the loader's own files, which come and go: no count
// there.
size_t openFiles() {
  std::error_code error;
  size_t n = 0;
  if (getenv("WINELOADER") != nullptr) return 0;
  std::filesystem::directory_iterator at("/proc/self/fd", error), end;
  for (; !error && at != end; at.increment(error)) n++;
  return n;
}

// zvfleet's console; with its live table, as a terminal shows it at the end (its errors follow),
// and the files it left open.
void runFleet(const std::vector<std::string> &args, const FakeFleet &fleet, Transcript *pTranscript) {
  std::vector<char *> argv = argvOf(args);
  size_t nOpen = openFiles();
  markFiles();
  bool bTable = fleet.bTerminal;  // zvfleet takes the table on its own where TERM allows
  for (size_t i = 0; i + 1 < args.size(); i++) bTable = bTable || (args[i] == "--progress" && args[i + 1] == "table");
  Transcript table;
  fakeBeginFleet(fleet, bTable ? &table : pTranscript);
  int nStatus = runZvfleet((int)args.size(), argv.data());
  if (bTable) {
    std::string screen = screenText(table.rawConsole());
    pTranscript->console(screen.data(), screen.size());
    std::string text = table.text();
    for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
      if (text.compare(at, 3, "2> ") == 0) pTranscript->line(text.substr(at, end - at));
  }
  if (fleet.ulKillAt != (unsigned long)-1) {
    pTranscript->line("killed (kill -9) at " + std::to_string(fleet.ulKillAt) + " ms");
    fakeRestoreFilesAtKill();
  } else {
    pTranscript->line("exit " + std::to_string(nStatus & 0xFF));
    if (fakeOpenPipes() > 0) pTranscript->line(std::to_string(fakeOpenPipes()) + " pipes left open");
  }
  for (const auto &report : fakeDeviceReports())
    for (const std::string &line : report.second) pTranscript->line("device " + report.first + ": " + line);
  fakeEndFleet();
  for (const std::string &written : writtenFiles()) pTranscript->line(written);
  if (openFiles() != nOpen) pTranscript->line(std::to_string(openFiles() - nOpen) + " files left open");
}

std::string fileText(const std::string &path) {
  std::stringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

void showFile(const std::string &path, Transcript *pTranscript, const std::string &part = "") {
  pTranscript->line("--- " + path);
  if (!std::ifstream(path)) return pTranscript->line("(no such file)");
  std::string text = fileText(path);
  std::istringstream lines(text);
  for (std::string line; !part.empty() && std::getline(lines, line);)
    if (line.find(part) != std::string::npos) pTranscript->line(line);
  if (part.empty()) pTranscript->console(text.data(), text.size());
}

void reindent(const std::vector<std::string> &a) {
  nlohmann::json json = nlohmann::json::parse(fileText(a[0]), nullptr, false);
  ASSERT_TRUE(json.is_object()) << a[0];
  if (a.size() > 1) json["devices"].erase((size_t)caseNumber(a[1]) - 1);
  std::ofstream(a[0], std::ios::binary) << json.dump(2) << "\n";
}

// A killed run's record against its devices: none "updated" that did not commit, none "nothing
// sent" (or no row) that took a request.  Returns the faults, each a line; counts the rows whose
// device committed though its record had not yet read so (*pnBehind).
std::string judgeRecord(const std::string &report, const std::string &devices, int *pnBehind) {
  static ReportRow s_aRows[FLEET_MAX_DEVICES];
  ReportHead head = {};
  char szWhy[1200] = "no report";
  bool bRead = readRunRecord(report.c_str(), &head, s_aRows, FLEET_MAX_DEVICES, szWhy, sizeof(szWhy));
  std::string faults;
  if (!bRead && std::filesystem::exists(report)) faults += std::string(szWhy) + "\n";
  for (size_t at = 0, end; (end = devices.find('\n', at)) != std::string::npos; at = end + 1) {
    std::string line = devices.substr(at, end - at), address = line.substr(7, line.find(':') - 7);
    bool bCommit = line.find(": accepted") != std::string::npos && line.find(" ok") != std::string::npos;
    if (line.find(": request") == std::string::npos && !bCommit) continue;
    const ReportRow *pRow = nullptr;
    for (int i = 0; i < head.nRows; i++)
      if (address == s_aRows[i].szAddress) pRow = &s_aRows[i];
    if (pRow == nullptr || (!pRow->bUpdated && strcmp(pRow->szLeft, "nothing sent") == 0))
      faults += address + " took a request, its record says " + (pRow ? pRow->szResult : "nothing") + "\n";
    else if (bCommit && !pRow->bUpdated && strstr(pRow->szLeft, "unknown") != nullptr)
      ++*pnBehind;
  }
  for (int i = 0; i < head.nRows; i++)
    if (s_aRows[i].bUpdated && devices.find(std::string("device ") + s_aRows[i].szAddress + ": accepted") == std::string::npos)
      faults += std::string(s_aRows[i].szAddress) + " reads updated, never committed\n";
  return faults;
}

void killEach(const std::vector<std::string> &args, FakeFleet fleet, Transcript *pTranscript) {
  std::string report;
  for (size_t i = 0; i + 1 < args.size(); i++)
    if (args[i] == "--report") report = args[i + 1];
  std::set<unsigned long> moments;
  nlohmann::json json = nlohmann::json::parse(fileText(report), nullptr, false);
  for (const auto &device : json["devices"])
    for (const auto &event : device["timeline"]) moments.insert(event[0].get<unsigned long>());
  int nBehind = 0, nCut = 0;
  for (unsigned long ulAt : moments) {
    fleet.ulKillAt = ulAt;
    fleet.bRequests = true;
    std::filesystem::remove(report);
    Transcript quiet;
    runFleet(args, fleet, &quiet);
    std::string devices, text = quiet.text();
    for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
      if (text.compare(at, 7, "device ") == 0) devices += text.substr(at, end + 1 - at);
    std::string faults = judgeRecord(report, devices, &nBehind);
    // A line cut by the kill at the journal's end is left out.
    nlohmann::json head = nlohmann::json::parse(fileText(report), nullptr, false);
    if (head.is_object() && head["journal"].is_string()) {
      std::ofstream(head["journal"].get<std::string>(), std::ios::binary | std::ios::app) << "{\"device\": 0, \"row\": {\"addr";
      int nIgnored = 0;
      faults += judgeRecord(report, devices, &nIgnored);
      nCut++;
    }
    if (!faults.empty()) pTranscript->line("killed at " + std::to_string(ulAt) + " ms:\n" + faults);
  }
  pTranscript->line("killed at " + std::to_string(moments.size()) + " moments, " + std::to_string(nCut) +
                    " journals cut; devices committed whose record had not yet read it: " + std::to_string(nBehind));
}

// The commands that set a flag, or a time in ms, of the next run.
const std::map<std::string, bool FakeFleet::*> FLAGS = {
    {"requests", &FakeFleet::bRequests}, {"port-taken", &FakeFleet::bDebugPortTaken},
    {"port-deaf", &FakeFleet::bDebugPortDeaf}, {"no-random", &FakeFleet::bNoRandom},
    {"nothing-beside", &FakeFleet::bNothingBeside}};
const std::map<std::string, unsigned long FakeFleet::*> TIMES = {
    {"interrupt", &FakeFleet::ulInterruptAt}, {"stop-takes", &FakeFleet::ulStopMs}, {"kill", &FakeFleet::ulKillAt}};

class FleetCase : public testing::TestWithParam<std::string> {};

TEST_P(FleetCase, Transcript) {
  std::vector<std::string> commands = {"device", "echo", "unwritable", "keep", "process", "remove", "kill-each",
                                       "disk", "run", "show", "reindent", "unreachable", "terminal"};
  for (const auto &flag : FLAGS) commands.push_back(flag.first);
  for (const auto &time : TIMES) commands.push_back(time.first);
  std::vector<CaseLine> lines = readCase(CASES + "/" + GetParam() + ".case", commands);
  ScratchDir scratch;
  Transcript transcript;
  ASSERT_TRUE(applyFileCommand({0, "dir", {".bin"}, ""}, SOURCE_DIR));
  ASSERT_TRUE(applyFileCommand({0, "file", {LOADER, "text", ""}, ""}, SOURCE_DIR));
  FakeFleet start;  // what each zvfleet run begins from
  start.loaderPath = LOADER;
  start.selfPath = SELF;
  start.pfnSelf = runZvfleet;
  FakeFleet fleet = start;
  std::deque<std::vector<std::string> > deviceArgs;  // the options point into them
  uint32_t ulRuns = 0;  // of zvfleet: each has random bytes of its own
  bool bKillEach = false;
  for (const CaseLine &line : lines) {
    if (applyFileCommand(line, SOURCE_DIR)) continue;
    const std::vector<std::string> &a = line.args;
    if (line.command == "#") {
      transcript.line(a[0]);
    } else if (line.command == "device") {
      ASSERT_NE("", line.address) << "line " << line.nLine << ": a device of a fleet has its address";
      deviceArgs.push_back({"-a", line.address});
      deviceArgs.back().insert(deviceArgs.back().end(), a.begin(), a.end());
      std::vector<char *> argv = argvOf(deviceArgs.back());
      SimOptions options;
      ASSERT_EQ(CLI_RUN, simParseOptions((int)argv.size() - 1, argv.data(), &options))
          << "line " << line.nLine;
      fleet.devices.push_back(options);
    } else if (line.command == "echo" && a[0] == "none") {
      fleet.bNoEcho = true;
    } else if (line.command == "echo" && a.size() == 2) {
      fleet.echoes.push_back({platInetAddr(a[0].c_str()), a[1] == "never" ? -1 : (int)caseNumber(a[1])});
    } else if (FLAGS.count(line.command) != 0) {
      fleet.*FLAGS.at(line.command) = true;
    } else if (TIMES.count(line.command) != 0) {
      fleet.*TIMES.at(line.command) = caseNumber(a[0]);
    } else if (line.command == "disk") {
      fleet.lDisk = (long)caseNumber(a[0]);
    } else if (line.command == "unwritable") {
      fleet.unwritable.push_back(a[0]);
    } else if (line.command == "keep") {
      // A page shown, and kept for the browser test when it asks for them.
      showFile(a[0], &transcript);
      const char *pszKeep = getenv("ZV_KEEP_PAGES");
      if (pszKeep != nullptr)
        std::ofstream(std::string(pszKeep) + "/" + GetParam() + "-" + a[0], std::ios::binary) << fileText(a[0]);
    } else if (line.command == "unreachable") {
      fleet.unreachable.push_back(platInetAddr(a[0].c_str()));
    } else if (line.command == "process") {
      fleet.livePids.push_back(caseNumber(a[0]));
    } else if (line.command == "remove") {
      fleet.removals.push_back({caseNumber(a[0]), a[1], a.size() == 3 ? a[2] : ""});
    } else if (line.command == "terminal") {
      fleet.bTerminal = true;
      if (!a.empty() && a[0] == "narrow") fleet.ulNarrowAt = 1000;
      setCaseTerminal(line);
    } else if (line.command == "kill-each") {
      bKillEach = true;
    } else if (line.command == "run" && !a.empty() && (a[0] == "zvloader" || a[0] == "zvfleet")) {
      transcript.line("$ " + commandText(a));
      if (a[0] == "zvloader") {
        runLoader(a, &transcript);
        continue;
      }
      fleet.ulRandomSeed = ulRuns++;
      runFleet(a, fleet, &transcript);
      if (bKillEach) killEach(a, fleet, &transcript);
      bKillEach = false;
      start.ulPid++;
      fleet = start;
      deviceArgs.clear();
    } else if (line.command == "show") {
      showFile(a[0], &transcript, a.size() > 1 ? a[1] : "");
    } else if (line.command == "reindent") {
      reindent(a);
    } else {
      ADD_FAILURE() << "line " << line.nLine << ": " << commandText(a) << " after " << line.command;
    }
  }
  expectGolden(CASES + "/" + GetParam() + ".out", transcript.text());
}

INSTANTIATE_TEST_SUITE_P(Fleet, FleetCase, testing::ValuesIn(caseNames(CASES)), caseName);

// The tool's last line is kept for the results, the report and the page; a control character in it
// (the tool echoes what it was given) is kept as "?", so it cannot act on a terminal.
TEST(FleetToolOutput, ControlCharactersOfTheLastLineAreKeptAsQuestionMarks) {
  ToolOutput out;
  FilePlan plan{};
  beginToolOutput(&out);
  takeToolLine(&out, &plan, "cannot open a\x1b[2Jb\x7f\x01.enc");
  EXPECT_STREQ("cannot open a?[2Jb??.enc", out.szLastLine);
}

// A message without its line end may be followed on its line by the other thread's reports: each
// part counts as the line it is.  A reply the tool did not take answers, but refuses nothing.
TEST(FleetToolOutput, ReportsAfterAMessageWithoutLineEndAreToldApart) {
  ToolOutput out;
  FilePlan plan{};
  beginToolOutput(&out);
  takeToolLine(&out, &plan, TEXT_BAD_CRC TEXT_DEBUG_LINE_START "09 08:07:06 10.0.0.1: up" TEXT_SYSTEM_ERROR "10054");
  EXPECT_EQ(RESULT_BAD_CRC, out.nRefusal);
  EXPECT_TRUE(out.bSystemError);
  beginToolOutput(&out);
  takeToolLine(&out, &plan, TEXT_UNKNOWN_MODEL);
  EXPECT_TRUE(out.bAnswered);
  EXPECT_EQ(RESULT_NONE, out.nRefusal);
  EXPECT_FALSE(out.bSystemError);
}

// The simulator passes over a datagram too short to be a request, says why, and answers nothing.
TEST(SimDevice, DatagramsTooShortForARequestAreIgnored) {
  SimDevice dev;
  simInitDevice(&dev, 1, "", nullptr, 0);
  SimOutcome out;
  const uint8_t ab[4] = {1, 2, 3, 4};
  for (int n : {0, 1, 3}) {
    simHandleRequest(&dev, ab, n, &out);
    EXPECT_STREQ(n == 0 ? "ignore empty" : "ignore short", out.szLine);
    EXPECT_EQ(SIM_KIND_IGNORED, out.nKind);
    EXPECT_FALSE(out.bReply);
  }
}

}  // namespace
