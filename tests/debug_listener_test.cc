// The debug listener on a real socket: one line per datagram, whole
// 256-byte datagrams, zero bytes, the over-long datagram, and a taken port.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "app/settings.h"
#include "monitor/debug_listener.h"
#include "tests/support/loopback.h"

namespace {

// The captured text, after the listener has had time for its lines.
std::string capturedAfterAWhile() {
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  return testing::internal::GetCapturedStdout();
}

// Each "Dbg>" line with its time replaced by DD hh:mm:ss.
std::string normalised(std::string text) {
  for (size_t at = 0; (at = text.find("Dbg>", at)) != std::string::npos; at += 4)
    text.replace(at + 4, 11, "DD hh:mm:ss");
  return text;
}

TEST(DebugListener, PrintsEveryDatagram) {
  g_usDebugPort = freeUdpPort();
  testing::internal::CaptureStdout();
  ASSERT_EQ(1, platStartThread(DbgMsgThread));
  LoopbackPeer peer;
  std::string full(256, 'x');
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  peer.sendTo(g_usDebugPort, {'h', 'i', ' ', '%', 's'});
  peer.sendTo(g_usDebugPort, {});
  peer.sendTo(g_usDebugPort, {'a', 0, 'b'});
  peer.sendTo(g_usDebugPort, std::vector<uint8_t>(full.begin(), full.end()));
  std::vector<uint8_t> longer(300, 'y');
  peer.sendTo(g_usDebugPort, longer);
  peer.sendTo(g_usDebugPort, {'e', 'n', 'd', '\n'});
  std::string text = normalised(capturedAfterAWhile());
  std::string expected =
      "Dbg>DD hh:mm:ss 127.0.0.1: hi %s\n"
      "Dbg>DD hh:mm:ss 127.0.0.1: \n"
      "Dbg>DD hh:mm:ss 127.0.0.1: a\n"
      "Dbg>DD hh:mm:ss 127.0.0.1: " + full + "\n";
  EXPECT_EQ(0u, text.find(expected)) << text;
  // The over-long datagram: the report, then its first 256 bytes.
  std::string rest = text.substr(expected.size());
  EXPECT_EQ(0u, rest.find("System Error: ")) << rest;
  size_t at = rest.find(" User Message: recvfrom:\nDbg>DD hh:mm:ss 127.0.0.1: " +
                        std::string(256, 'y') + "\n");
  EXPECT_NE(std::string::npos, at) << rest;
  EXPECT_NE(std::string::npos, rest.find("Dbg>DD hh:mm:ss 127.0.0.1: end\n\n"));
}

TEST(DebugListener, TakenPortEndsOnlyTheListener) {
  LoopbackPeer holder;
  g_usDebugPort = holder.usPort;
  PlatSocket s = platUdpSocket();
  // Hold the port on all addresses, as another copy of the tool would.
  uint16_t usPort = freeUdpPort();
  ASSERT_EQ(0, platBind(s, 0, usPort));
  g_usDebugPort = usPort;
  testing::internal::CaptureStdout();
  DbgMsgThread();  // returns at once
  std::string text = testing::internal::GetCapturedStdout();
  EXPECT_EQ(0u, text.find("System Error: ")) << text;
  EXPECT_NE(std::string::npos,
            text.find(" User Message: bind:\nCould not bind to the debug port:" +
                      std::to_string(usPort) +
                      " check to make sure there isn't another copy of this "
                      "program running\n"));
  platCloseSocket(s);
}

// The line form without an address, for a sender the system cannot name.
TEST(DebugListener, LineWithoutSenderAddress) {
  PlatTime t = {6, 9, 5, 3};
  char szLine[64];
  int n = formatDebugLine(szLine, sizeof(szLine), &t, nullptr, "text");
  EXPECT_EQ("Dbg>06 09:05:03 text\n", std::string(szLine, (size_t)n));
}

}  // namespace
