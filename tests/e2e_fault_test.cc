// Whole-program runs under attack: floods of stray datagrams to the update
// socket and to the debug port during an upload, and a device that goes
// silent mid-transfer while the user stops the tool.  Nothing may crash,
// and what reaches the device must still equal the update file.
#include <gtest/gtest.h>

#include "app/console.h"
#include "tests/support/e2e_fixture.h"

namespace {

// The listener's report of an over-long datagram as this system words it:
// printError's line for the code that a cut receive leaves pending.
std::string overLongDatagramReport() {
  LoopbackPeer sender, receiver;
  sender.sendTo(receiver.usPort, std::vector<uint8_t>(300, 'x'));
  uint8_t ab[256];
  char sz[1000];
  if (platRecvFrom(receiver.s, ab, sizeof(ab), nullptr) != PLAT_RECV_TRUNCATED ||
      getSystemErrorText(sz, sizeof(sz)) == nullptr)
    return "(no report)";
  return std::string("System Error: ") + sz + " User Message: recvfrom:";
}

// Every console line of an upload is one of the tool's own forms.
void expectOnlyKnownLines(const std::string &output) {
  const std::string report = overLongDatagramReport();
  const char *const apszForms[] = {
      "Sending the new microcode", "Getting quorvaUnit model", "Sending Code Update pages ",
      "Received ACK from wrong packet.", "recv timeout", "Finishing transfering microcode",
      "File Transfered", "Do not remove the power", "Dbg>"};
  size_t at = 0;
  while (at < output.size()) {
    size_t end = output.find('\n', at);
    std::string line = output.substr(at, end - at);
    bool bKnown = line == report;
    for (const char *psz : apszForms) bKnown |= line.compare(0, strlen(psz), psz) == 0;
    EXPECT_TRUE(bKnown) << line;
    if (end == std::string::npos) break;
    at = end + 1;
  }
}

TEST_F(EndToEnd, FloodsDuringAnUploadChangeNothingSent) {
  NEED_DEVICE();
  build({"-NE", "-T", "M", "-M", "1", "-f", "firmware.hex"});
  // 400 stray replies at the fifth request, and the debug port flooded
  // from another socket while the upload runs.
  startDevice({"-c", "2", "-at", "5:stray:400", "-at", "40:stray:40", "-at", "41:dup"});
  std::thread flood([] {
    LoopbackPeer peer;
    std::vector<uint8_t> junk(300, 'j');
    for (int i = 0; i < 3000; i++) {
      junk.resize((size_t)(i % 300));
      peer.sendTo(9029, junk);
    }
  });
  ProcessResult r = loader({"-IP", DEVICE, "-f", "main.enc"}, 120000);
  flood.join();
  std::string report = deviceReport();
  ASSERT_TRUE(r.bFinished);
  EXPECT_EQ(1, r.nStatus);
  EXPECT_NE(std::string::npos, r.output.find("File Transfered\n"));
  EXPECT_EQ(std::string::npos, report.find(" bad")) << report;
  expectOnlyKnownLines(r.output);
  Bytes file = readFile(m_dir.path("main.enc"));
  Bytes payload(file.begin() + 12, file.end() - 0x7000);
  EXPECT_EQ(payload, readFile(m_dir.path("dev.2.bin")));
  EXPECT_EQ(Bytes(file.end() - 0x7000, file.end()), readFile(m_dir.path("dev.1.bin")));
}

TEST_F(EndToEnd, SilentDeviceAndCtrlC) {
  NEED_DEVICE();
  build({"-NE", "-T", "L", "-f", "logo.bin"});
  // The device answers two requests, then hears nothing more.
  std::vector<std::string> device = {"-t", "30"};
  for (int n = 3; n < 40; n++) {
    device.push_back("-at");
    device.push_back(std::to_string(n) + ":drop");
  }
  startDevice(device);
  ChildProcess tool;
  ASSERT_TRUE(tool.start({ZV_LOADER, "-IP", DEVICE, "-f", "logo.enc"}, m_dir.path(""),
                         m_dir.path("tool.out")));
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  int nStatus;
  EXPECT_FALSE(tool.wait(0, &nStatus));  // still waiting for its answer
  tool.kill();                           // Ctrl+C
  ASSERT_TRUE(tool.wait(5000, &nStatus));
  deviceReport();
  // Everything printed before the stop is in the file, line by line.
  EXPECT_EQ(
      "Sending the new microcode to the remote system\n"
      "Sending Code Update pages 1385 to 1388\n"
      "Sending Code Update pages 1389 to 1392\n"
      "Sending Code Update pages 1393 to 1396\n",
      readOutput(m_dir.path("tool.out")));
}

}  // namespace
