// The platform layer and the receive channel on real loopback sockets:
// the bounded wait, datagram lengths, the over-long datagram, a taken
// port, threads and the system's error texts.
#include <gtest/gtest.h>

#include <string.h>

#include <chrono>
#include <string>
#include <thread>

#include "app/console.h"
#include "net/receive_channel.h"
#include "tests/support/loopback.h"

namespace {

class ReceiveChannel : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, platSocketStartup());
    m_s = platUdpSocket();
    m_usPort = freeUdpPort();
    ASSERT_EQ(0, platBind(m_s, LOOPBACK_ADDR, m_usPort));
    ASSERT_EQ(0, bindReceiveEvent(m_s));
  }
  void TearDown() override { platCloseSocket(m_s); }
  PlatSocket m_s;
  uint16_t m_usPort;
  LoopbackPeer m_peer;
};

TEST_F(ReceiveChannel, TimesOutAfterThreeSecondsLeavingTheBuffer) {
  uint8_t ab[8];
  memset(ab, 0x5A, sizeof(ab));
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(0, receiveCommand(m_s, ab, sizeof(ab)));
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(ms, 2900);
  EXPECT_LT(ms, 4500);
  EXPECT_EQ(0x5A, ab[7]);
}

TEST_F(ReceiveChannel, DatagramLengths) {
  uint8_t ab[2048];
  memset(ab, 0x5A, sizeof(ab));
  m_peer.sendTo(m_usPort, std::vector<uint8_t>(23, 1));
  m_peer.sendTo(m_usPort, {});
  m_peer.sendTo(m_usPort, std::vector<uint8_t>(2048, 2));
  m_peer.sendTo(m_usPort, std::vector<uint8_t>(2049, 3));
  m_peer.sendTo(m_usPort, std::vector<uint8_t>(5, 4));
  EXPECT_EQ(23, receiveCommand(m_s, ab, sizeof(ab)));
  EXPECT_EQ(1, ab[22]);
  EXPECT_EQ(0, ab[23]);  // zeroed beyond the datagram
  EXPECT_EQ(0, receiveCommand(m_s, ab, sizeof(ab)));  // empty
  EXPECT_EQ(2048, receiveCommand(m_s, ab, sizeof(ab)));
  EXPECT_EQ(-1, receiveCommand(m_s, ab, sizeof(ab)));  // one byte too long
  // The over-long datagram leaves "message too long" pending and is gone.
  char szText[1000];
  ASSERT_NE(nullptr, getSystemErrorText(szText, sizeof(szText)));
  EXPECT_NE(nullptr, strstr(szText, std::to_string(platPendingError()).c_str()));
  EXPECT_EQ(5, receiveCommand(m_s, ab, sizeof(ab)));
}

TEST(Platform, TakenPortAndErrorText) {
  platSocketStartup();
  LoopbackPeer peer;
  PlatSocket s = platUdpSocket();
  ASSERT_NE(-1, platBind(s, 0, freeUdpPort()));
  PlatSocket t = platUdpSocket();
  // Capturing opens a file, which on Windows leaves its own code pending:
  // it starts before the failure whose code the report must show.
  testing::internal::CaptureStdout();
  int nBind = platBind(t, LOOPBACK_ADDR, peer.usPort);
  int nCode = platPendingError();
  printError("bind:");
  std::string line = testing::internal::GetCapturedStdout();
  EXPECT_EQ(-1, nBind);
  EXPECT_NE(0, nCode);
  // The report line: "System Error: <text> (<code>) User Message: bind:"
  // or the "Errno = <code>" form where the system has no text.
  std::string code = std::to_string(nCode);
  bool bTextForm = line.size() > 14 + code.size() &&
                   line.find(" (" + code + ") User Message: bind:\n") != std::string::npos;
  bool bErrnoForm = line == "System Error: Errno = " + code + " User Message: bind:\n";
  EXPECT_EQ(0u, line.find("System Error: "));
  EXPECT_TRUE(bTextForm || bErrnoForm) << line;
  EXPECT_EQ(std::string::npos, line.find('\r'));
  platCloseSocket(t);
  platCloseSocket(s);
}

volatile int g_nThreadRan;
void markThread(void) { g_nThreadRan = 1; }

TEST(Platform, ThreadsTimeAndAddresses) {
  ASSERT_EQ(1, platStartThread(markThread));
  for (int i = 0; i < 200 && !g_nThreadRan; i++)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(1, g_nThreadRan);
  PlatTime t;
  platLocalTime(&t);
  EXPECT_TRUE(t.nDay >= 1 && t.nDay <= 31 && t.nHour < 24 && t.nMinute < 60 &&
              t.nSecond < 61);
  char sz[32];
  ASSERT_EQ(1, platAddressText(platInetAddr("10.20.30.40"), sz, sizeof(sz)));
  EXPECT_STREQ("10.20.30.40", sz);
  EXPECT_EQ(0xFFFFFFFFu, platInetAddr("not an address"));
}

}  // namespace
