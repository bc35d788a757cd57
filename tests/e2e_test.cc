// SPDX-License-Identifier: Apache-2.0
// Whole-program runs that a case file cannot hold: the debug listener during an upload and beside
// another copy of the tool, Ctrl+C, a closed output pipe, and floods.  Each waits for what the
// programs print, never for a length of time.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "tests/support/case_file.h"
#include "tests/support/loopback.h"
#include "tests/support/programs.h"

namespace {

class EndToEnd : public testing::Test {
 protected:
  void SetUp() override {
    if (!devicePortsFree()) GTEST_SKIP() << "cannot bind the device's ports: run as root";
    writeFile("logo.bin", readFile(ZV_SOURCE_DIR "/samples/logo.bin"));
    PlatChild build;
    ASSERT_TRUE(startProgram({"zvloader", "-NE", "-T", "L", "-K", "Zelva-K1", "-f", "logo.bin"},
                             "build.out", &build));
    ASSERT_EQ(1, finishProgram(build));
    ASSERT_NE("", readOutput("logo.enc"));  // else every upload below waits for nothing
  }
  // Whatever a failed test left running is stopped.
  void TearDown() override {
    for (PlatChild child : m_children) finishProgram(child, 0);
  }
  int finish(PlatChild child, unsigned long ulMilliseconds = CHILD_TIME_LIMIT_MS) {
    m_children.erase(std::find(m_children.begin(), m_children.end(), child));
    return finishProgram(child, ulMilliseconds);
  }
  PlatChild start(const std::vector<std::string> &args, const std::string &output) {
    PlatChild child = 0;
    EXPECT_TRUE(startProgram(args, output, &child));
    m_children.push_back(child);
    return child;
  }
  bool device(const std::vector<std::string> &options) {
    return startDevice(options, "device.out", &m_device) && (m_children.push_back(m_device), true);
  }
  ScratchDir m_scratch;
  PlatChild m_device;
  std::vector<PlatChild> m_children;
};

// Datagrams to the debug port before the listener has bound it are lost, and nothing tells when it
// has: send a marker until it is printed.
void sendUntilPrinted(const LoopbackPeer &peer, const std::string &output) {
  for (unsigned long ulStart = platMilliseconds();
       readOutput(output).find(": up\n") == std::string::npos;) {
    ASSERT_LT(platMilliseconds() - ulStart, CHILD_TIME_LIMIT_MS);
    peer.sendTo(9029, {'u', 'p'});
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

TEST_F(EndToEnd, DebugMessagesDuringAnUpload) {
  // The device answers nothing: the tool waits, printing what reaches its debug port meanwhile.
  ASSERT_TRUE(device({"-at", "1:drop"}));
  PlatChild tool = start({"zvloader", "-IP", DEVICE_ADDRESS, "-f", "logo.enc"}, "tool.out");
  LoopbackPeer peer;
  sendUntilPrinted(peer, "tool.out");
  peer.sendTo(9029, std::vector<uint8_t>{'5', '0', '%', ' ', '%', 's'});
  peer.sendTo(9029, {'A', 0, 'B'});
  peer.sendTo(9029, std::vector<uint8_t>(256, 'w'));
  for (const std::string &text : {std::string(": 50% %s\n"), std::string(": A\n"), ": " + std::string(256, 'w') + "\n"})
    EXPECT_TRUE(waitForOutput("tool.out", text)) << text;
  // The listener may print before the upload starts: the line stands whole.
  EXPECT_TRUE(waitForOutput("tool.out", "Sending the new microcode to the remote system\n"));
  EXPECT_EQ(-1, finish(tool, 0));
  finish(m_device, 0);
  std::string output = withoutTimes(readOutput("tool.out"));
  size_t at = output.find("Sending the new microcode to the remote system\n");
  ASSERT_NE(std::string::npos, at) << output;
  EXPECT_TRUE(at == 0 || output[at - 1] == '\n') << output;
}

TEST_F(EndToEnd, TakenDebugPortAndListenOnly) {
  PlatChild listener = start({"zvloader", "-no"}, "listen.out");
  LoopbackPeer peer;
  sendUntilPrinted(peer, "listen.out");
  // A second copy cannot listen: it says so on a line of its own, before the upload's first line
  // (its port is bound before the update starts), and the upload goes on.
  ASSERT_TRUE(device({"-c", "1"}));
  PlatChild tool = start({"zvloader", "-IP", DEVICE_ADDRESS, "-f", "logo.enc"}, "tool.out");
  EXPECT_EQ(1, finish(tool));
  EXPECT_EQ(0, finish(m_device));
  EXPECT_EQ(-1, finish(listener, 0));  // -no never ends by itself: it is stopped
  std::string output = readOutput("tool.out");
  EXPECT_EQ(0u, output.find("System Error: ")) << output;
  size_t at = output.find(" User Message: bind:\nCould not bind to the debug port:9029 check "
                          "to make sure there isn't another copy of this program running\n");
  EXPECT_LT(at, output.find("Sending the new microcode")) << output;
  EXPECT_NE(std::string::npos, output.find("File Transfered\n"));
}

TEST_F(EndToEnd, CtrlCLeavesEverythingPrinted) {
  ASSERT_TRUE(device({"-at", "3:drop"}));
  PlatChild tool = start({"zvloader", "-IP", DEVICE_ADDRESS, "-f", "logo.enc"}, "tool.out");
  ASSERT_TRUE(waitForOutput("device.out", "reply dropped"));
  EXPECT_EQ(-1, finish(tool, 0));  // Ctrl+C while the tool waits for its answer
  finish(m_device, 0);
  EXPECT_EQ("Sending the new microcode to the remote system\n"
            "Sending Code Update pages 1385 to 1388\n"
            "Sending Code Update pages 1389 to 1392\n"
            "Sending Code Update pages 1393 to 1396\n",
            readOutput("tool.out"));
}

TEST_F(EndToEnd, ClosedOutputPipeDoesNotStopTheUpdate) {
  PlatChild shell;
  if (!startProgram({"/bin/sh", "-c", "exit 0"}, "sh.out", &shell) || finishProgram(shell) != 0)
    GTEST_SKIP() << "no POSIX shell here";
  ASSERT_TRUE(device({"-c", "1"}));
  // `zvloader ... | head -n 1`; POSIX sh has no PIPESTATUS, so the tool's status comes through a
  // file.
  std::string command =
      "{ " + std::string(ZV_LOADER) + " -IP " DEVICE_ADDRESS " -f logo.enc; echo $? > status; } | head -n 1";
  ASSERT_TRUE(startProgram({"/bin/sh", "-c", command}, "pipe.out", &shell));
  EXPECT_EQ(0, finishProgram(shell));
  EXPECT_EQ(0, finish(m_device));
  EXPECT_EQ("Sending the new microcode to the remote system\n", readOutput("pipe.out"));
  EXPECT_EQ("1\n", readOutput("status"));
  EXPECT_NE(std::string::npos, readOutput("device.out").find("accepted 1 ok"));
}

TEST_F(EndToEnd, FloodsChangeNothingSent) {
  // 400 stray replies at the second request, and the debug port flooded from another socket while
  // the upload runs.
  ASSERT_TRUE(device({"-K", "Zelva-K1", "-c", "1", "-at", "2:stray:400"}));
  std::thread flood([] {
    LoopbackPeer peer;
    std::vector<uint8_t> junk(300, 'j');
    for (int i = 0; i < 3000; i++) {
      junk.resize((size_t)(i % 300));
      peer.sendTo(9029, junk);
    }
  });
  PlatChild tool = start({"zvloader", "-IP", DEVICE_ADDRESS, "-f", "logo.enc"}, "tool.out");
  EXPECT_EQ(1, finish(tool));
  flood.join();
  EXPECT_EQ(0, finish(m_device));
  EXPECT_NE(std::string::npos, readOutput("device.out").find("commit code 11 first 1385 end 1401 crc"));
  EXPECT_NE(std::string::npos, readOutput("tool.out").find("File Transfered\n"));
}

}  // namespace
